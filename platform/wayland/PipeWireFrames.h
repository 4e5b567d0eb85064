// The screen-cast stream of one monitor, read on a PipeWire thread of its own. The newest frame
// is copied out of the stream's buffers and kept until a newer one replaces it.
//
// Freshness: FrameAfter(t) returns a frame the compositor recorded at or after t, or, when none
// comes within the settle time after t, the newest frame: the compositor sends a frame for every
// change within the settle time (see SettleTime), so silence means the screen still looks so.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/wayland/FrameStore.h"
#include "platform/wayland/StreamBuffer.h"

namespace ostrane::platform::wayland {

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

  // Readable once the pointer's position in the stream's cursor metadata has changed; the same
  // descriptor for every stream of this object, -1 when none could be made.
  int CursorFd() const { return cursorFd_; }
  // The newest position once after each change, emptying CursorFd; false when there is none new.
  bool TakeCursor(CursorPosition& at);

 private:
  struct Impl;
  // From the stream's thread: wakes CursorFd when the position differs from the last one.
  void PostCursor(const CursorPosition& at);

  int cursorFd_ = -1;
  std::mutex cursorMutex_;
  CursorPosition cursor_;
  bool cursorKnown_ = false;
  bool cursorFresh_ = false;
  FrameStore store_;
  std::atomic<int64_t> settleNs_{0};
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrane::platform::wayland
