#include "platform/wayland/FrameStore.h"

#include <algorithm>

namespace ostrane::platform::wayland {

void FrameStore::Publish(std::shared_ptr<CapturedFrame> frame) {
  {
    std::lock_guard lock(mutex_);
    frame->Sequence = ++sequence_;
    newest_ = std::move(frame);
  }
  changed_.notify_all();
}

void FrameStore::MarkLost(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    if (lost_) return;
    lost_ = true;
    lostReason_ = reason;
  }
  changed_.notify_all();
}

void FrameStore::Reset() {
  std::lock_guard lock(mutex_);
  newest_.reset();
  lost_ = false;
  lostReason_.clear();
}

FrameWait FrameStore::WaitAfter(Clock::time_point notBefore, Clock::duration settle,
                                std::chrono::milliseconds timeout,
                                std::shared_ptr<const CapturedFrame>& frame) {
  const Clock::time_point deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds{0});
  const Clock::time_point settled = notBefore + settle;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (lost_) {
      frame.reset();
      return FrameWait::Lost;
    }
    const Clock::time_point now = Clock::now();
    if (newest_ && newest_->Recorded >= notBefore) {
      frame = newest_;
      return FrameWait::Fresh;
    }
    // A change before notBefore would have sent a frame by now: the newest still shows the screen.
    if (newest_ && now >= settled) {
      frame = newest_;
      return FrameWait::Unchanged;
    }
    if (now >= deadline) {
      frame.reset();
      return FrameWait::TimedOut;
    }
    changed_.wait_until(lock, newest_ ? std::min(deadline, settled) : deadline);
  }
}

std::shared_ptr<const CapturedFrame> FrameStore::Newest() const {
  std::lock_guard lock(mutex_);
  return newest_;
}

bool FrameStore::Lost(std::string* reason) const {
  std::lock_guard lock(mutex_);
  if (reason) *reason = lostReason_;
  return lost_;
}

// How long a change of the screen may take to arrive as a frame. It waits up to a frame interval
// for the next paint, and one more when the compositor holds a frame back to keep to the agreed
// rate. A change arrived about as long after it was sent as its frame took from the compositor's
// stamp to here, which is measured; that time swings with the load of the machine, so three
// times the slowest of the last frames is allowed. Measured without a GPU (1920x1080, two cores
// shared with builds): stamp to arrival 15-480 ms, a change took 2-20 ms longer than its frame's
// transit, and with twice the slowest transit 1 change in about 250 came after the settle time.
Clock::duration SettleTimeFor(double framesPerSecond, Clock::duration slowestTransit) {
  if (!(framesPerSecond >= 1.0)) framesPerSecond = 30.0;
  const auto interval = std::chrono::duration<double>(1.0 / framesPerSecond);
  const auto settle = std::chrono::duration_cast<Clock::duration>(3 * interval) +
                      3 * slowestTransit + std::chrono::milliseconds(20);
  return std::min<Clock::duration>(settle, std::chrono::seconds(2));
}

}  // namespace ostrane::platform::wayland
