// The screen-cast stream of one monitor, read on a PipeWire thread of its own. The newest frame
// is copied out of the stream's buffers and kept until a newer one replaces it.
//
// Freshness: FrameAfter(t) returns a frame the compositor recorded at or after t, or, when none
// comes within the settle time after t, the newest frame: the compositor sends a frame for every
// change within the settle time (see SettleTime), so silence means the screen still looks so.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wayland/PixelConvert.h"

struct spa_buffer;

namespace ostrane::platform::wayland {

using Clock = std::chrono::steady_clock;

// A frame copied out of the stream. Pixels hold Height rows of Stride bytes, top row first; the
// last row may stop after its 4 * Width bytes.
struct CapturedFrame {
  uint64_t Sequence = 0;       // 1 for the first frame of a stream, then one more for each
  Clock::time_point Recorded;  // when the compositor took it, or else when it arrived
  Clock::time_point Arrived;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;
  PixelFormat Format = PixelFormat::Bgrx;
  std::vector<uint8_t> Pixels;

  FrameView View() const { return {Pixels.data(), Width, Height, Stride, Format}; }
};

enum class FrameWait {
  Fresh,      // recorded at or after the time asked for
  Unchanged,  // older, but nothing newer came within the settle time: the screen is unchanged
  TimedOut,   // no frame at all within the timeout
  Lost,       // the stream failed or ended; a new session is needed
};

// The newest frame, handed from the stream's thread to readers on any other thread.
class FrameStore {
 public:
  // Stamps the frame with the next sequence number and makes it the newest.
  void Publish(std::shared_ptr<CapturedFrame> frame);
  // Wakes every reader with Lost from now on; the first reason is kept.
  void MarkLost(const std::string& reason);
  // Forgets the frames and the loss, for a new stream; sequence numbers go on increasing.
  void Reset();

  // Waits for a frame recorded at or after notBefore. When only older frames come, the newest is
  // returned as Unchanged once notBefore + settle has passed. Never waits past the timeout.
  FrameWait WaitAfter(Clock::time_point notBefore, Clock::duration settle,
                      std::chrono::milliseconds timeout,
                      std::shared_ptr<const CapturedFrame>& frame);

  std::shared_ptr<const CapturedFrame> Newest() const;
  bool Lost(std::string* reason = nullptr) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<const CapturedFrame> newest_;
  uint64_t sequence_ = 0;
  bool lost_ = false;
  std::string lostReason_;
};

// What the stream negotiated; the buffers are read against it.
struct VideoFormat {
  PixelFormat Format = PixelFormat::Bgrx;
  int32_t Width = 0;
  int32_t Height = 0;
};

enum class BufferRead { Ok, Empty, Corrupted };

// Copies the picture of one stream buffer into `frame`, checking every size and offset against
// the buffer's own bounds. A buffer with no picture (a cursor-only update, an empty or damaged
// chunk) is not copied. `arrived` stamps the frame; the compositor's own time is used instead
// when the buffer carries a plausible one.
BufferRead ReadBuffer(const spa_buffer* buffer, const VideoFormat& format,
                      Clock::time_point arrived, CapturedFrame& frame);

class PipeWireFrames {
 public:
  PipeWireFrames();
  ~PipeWireFrames();
  PipeWireFrames(const PipeWireFrames&) = delete;
  PipeWireFrames& operator=(const PipeWireFrames&) = delete;

  // Connects to the PipeWire node `nodeId` through `pipewireFd` (from the portal; -1 for the
  // default daemon) and waits until the stream's format is agreed. Takes the fd over in every
  // case. False, with the reason in `error`, when it cannot. Closes any earlier stream first.
  bool Open(int pipewireFd, uint32_t nodeId, std::string& error);
  // Stops the thread and releases the stream; readers get Lost. Safe to call more than once.
  void Close();

  // The newest frame recorded at or after notBefore, waiting up to `timeout`; see the freshness
  // note above. A frame is never older than notBefore unless the result is Unchanged.
  FrameWait FrameAfter(Clock::time_point notBefore, std::chrono::milliseconds timeout,
                       std::shared_ptr<const CapturedFrame>& frame);

  // How long after a change its frame can take to come: from the agreed frame rate and the
  // time recent frames took from the compositor to here. A timeout shorter than this gives
  // TimedOut on a screen that does not change.
  Clock::duration SettleTime() const;
  // The negotiated frame size; 0 x 0 before the format is agreed.
  VideoFormat Format() const;
  bool Lost(std::string* reason = nullptr) const { return store_.Lost(reason); }
  // Buffers seen and buffers skipped (empty or damaged), for diagnostics.
  uint64_t BuffersSeen() const;
  uint64_t BuffersSkipped() const;

 private:
  struct Impl;
  FrameStore store_;
  std::atomic<int64_t> settleNs_{0};
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrane::platform::wayland
