// A repeating timer with the semantics the windows rely on: setting the interval it already has,
// or enabling it while enabled, leaves the countdown alone; a different interval restarts it;
// an interval of 0 arms nothing; the interval is an unsigned 32-bit number of milliseconds, so
// a negative value is a period of weeks. Ticks arrive in the user-interface thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

#include "engine/PassRunner.h"

namespace ostrane::ui {

class TTimer : public QObject, public PassTimer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TTimer(QObject* parent = nullptr);

  void SetInterval(int32_t ms) override { SetInterval(static_cast<uint32_t>(ms)); }
  void SetInterval(uint32_t ms);
  uint32_t Interval() const { return interval_; }

  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }

  // Whether a countdown is running (enabled with a non-zero interval), and when it ends.
  bool Armed() const { return armed_; }
  Clock::time_point Due() const { return due_; }

  std::function<void()> OnTimer;

 private:
  void Restart();
  void ArmForRemaining();
  void Expired();

  QTimer timer_;
  uint32_t interval_ = 1000;
  bool enabled_ = false;
  bool armed_ = false;
  Clock::time_point due_{};
};

}  // namespace ostrane::ui
