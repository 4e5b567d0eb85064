#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <thread>

#include "ui/Timer.h"

namespace ostrane::ui {
namespace {

using namespace std::chrono_literals;

TEST(TTimer, SameIntervalOrEnablingAgainKeepsTheCountdown) {
  TTimer timer;
  timer.SetInterval(int32_t{5000});
  timer.SetEnabled(true);
  const auto due = timer.Due();
  std::this_thread::sleep_for(5ms);
  timer.SetInterval(int32_t{5000});
  timer.SetEnabled(true);
  EXPECT_EQ(timer.Due(), due);
  timer.SetInterval(int32_t{6000});  // a different interval counts from now
  EXPECT_GT(timer.Due(), due + 900ms);
}

TEST(TTimer, ZeroArmsNothingAndNegativeIsAnUnsignedPeriod) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetInterval(int32_t{0});
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_FALSE(timer.Armed());
  QTest::qWait(30);
  EXPECT_EQ(ticks, 0);

  timer.SetInterval(int32_t{-100});
  EXPECT_EQ(timer.Interval(), 4294967196u);
  EXPECT_TRUE(timer.Armed());
  EXPECT_GT(timer.Due(), TTimer::Clock::now() + std::chrono::hours(24 * 49));
  QTest::qWait(30);
  EXPECT_EQ(ticks, 0);

  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Armed());
}

TEST(TTimer, TicksRepeatUntilDisabled) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] {
    if (++ticks == 3) timer.SetEnabled(false);
  };
  timer.SetInterval(int32_t{10});
  timer.SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace ostrane::ui
