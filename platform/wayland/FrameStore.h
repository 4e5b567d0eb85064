// The newest frame of a screen-cast stream, handed from the stream's thread to its readers.
//
// Freshness: WaitAfter(t) returns a frame the compositor recorded at or after t, or, when none
// comes within the settle time after t, the newest frame: the compositor sends a frame for every
// change within the settle time, so silence means the screen still looks so.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wayland/PixelConvert.h"

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

// How long after a change of the screen its frame can take to come, from the stream's agreed
// frame rate (0 when unknown) and the slowest of the recent frames' times from the compositor's
// stamp to their arrival.
Clock::duration SettleTimeFor(double framesPerSecond, Clock::duration slowestTransit);

}  // namespace ostrane::platform::wayland
