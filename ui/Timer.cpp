#include "ui/Timer.h"

#include <algorithm>
#include <climits>

namespace ostrane::ui {

TTimer::TTimer(QObject* parent) : QObject(parent) {
  // One shot at a time: periods beyond what QTimer takes (INT_MAX ms) are waited out in pieces.
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Expired(); });
}

void TTimer::SetInterval(uint32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (enabled_) Restart();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled_) {
    Restart();
  } else {
    timer_.stop();
    armed_ = false;
  }
}

void TTimer::Restart() {
  timer_.stop();
  armed_ = interval_ != 0;
  if (!armed_) return;
  due_ = Clock::now() + std::chrono::milliseconds(interval_);
  ArmForRemaining();
}

void TTimer::ArmForRemaining() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto left = duration_cast<milliseconds>(due_ - Clock::now()).count();
  timer_.start(static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
}

void TTimer::Expired() {
  if (!armed_) return;
  const auto now = Clock::now();
  if (now + std::chrono::milliseconds(1) < due_) {  // a piece of a long period
    ArmForRemaining();
    return;
  }
  // Keep the rhythm; a tick that fell far behind is not made up for.
  due_ += std::chrono::milliseconds(interval_);
  if (due_ <= now) due_ = now + std::chrono::milliseconds(interval_);
  ArmForRemaining();
  if (OnTimer) OnTimer();
}

}  // namespace ostrane::ui
