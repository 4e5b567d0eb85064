#include <gtest/gtest.h>

#include <functional>

#include "engine/PassRunner.h"
#include "platform/memory/MemoryDesktop.h"

namespace ostrane {
namespace {

using platform::MemoryDesktop;

class FakeTimer : public PassTimer {
 public:
  void SetInterval(int32_t ms) override { Interval = ms; }
  void SetEnabled(bool enabled) override { On = enabled; }
  bool Enabled() const override { return On; }
  int32_t Interval = -1;
  bool On = false;
};

// A 4 x 3 mark at (30, 20) on a 200 x 100 screen; the find scope shows it, the click scope
// holds it.
class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest()
      : desktop_(200, 100, 0x303030), runner_(&desktop_, timer_, settings_, {200, 100}, {}, [this] {
          if (events_) events_();
        }) {
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        desktop_.SetPixel(30 + x, 20 + y, 0x102030u * (x + 1) + y);
    settings_.FindScope = {30, 20, 34, 23};
    settings_.ClickScope = {0, 0, 200, 100};
    settings_.SimilarPercent = 100;
    settings_.ClickIntervalMs = 250;
  }

  PassOutcome Tick() {
    const auto result = runner_.Tick();
    EXPECT_TRUE(result.has_value());
    return result ? result->Outcome : PassOutcome::NotFound;
  }

  MemoryDesktop desktop_;
  FakeTimer timer_;
  RunSettings settings_;
  std::function<void()> events_;  // what the program handles while a pass lets events through
  PassRunner runner_;
};

TEST_F(RunnerTest, StartArmsAndResetsTicksClickAndCountStopKeepsTheCount) {
  settings_.ClickCount = 7;
  runner_.Start();
  EXPECT_TRUE(runner_.Running());
  EXPECT_EQ(timer_.Interval, 250);
  EXPECT_EQ(settings_.ClickCount, 0);
  EXPECT_EQ(Tick(), PassOutcome::Clicked);
  EXPECT_EQ(Tick(), PassOutcome::Clicked);
  EXPECT_EQ(settings_.ClickCount, 2);
  EXPECT_EQ(desktop_.PointerX, 32);
  EXPECT_EQ(desktop_.PointerY, 21);
  // The bitmaps' storage lasts the run, not longer.
  EXPECT_TRUE(runner_.KeepsBitmaps());
  runner_.Stop();
  EXPECT_FALSE(runner_.Running());
  EXPECT_FALSE(runner_.KeepsBitmaps());
  EXPECT_EQ(settings_.ClickCount, 2);
}

// Whatever ends a pass while it lets events through (Stop, F10, a new Start, picking a scope,
// the window closing), the pass neither moves, clicks nor counts, before or during its captures.
TEST_F(RunnerTest, WhatEndsAPassWhileItWaitsLeavesNothingDone) {
  struct Case {
    const char* what;
    std::function<void(PassRunner&)> act;
    bool running;   // after it
    int32_t count;  // a Start resets the count
  };
  const Case cases[] = {{"Stop", [](PassRunner& r) { r.Stop(); }, false, 3},
                        {"Start", [](PassRunner& r) { r.Start(); }, true, 0},
                        {"a pick", [](PassRunner& r) { r.CancelPass(); }, true, 3}};
  for (const Case& c : cases) {
    for (const bool inCapture : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (inCapture ? " during a capture" : " before"));
      runner_.Start();
      settings_.ClickCount = 3;
      desktop_.Events.clear();
      bool done = false;
      auto act = [&] {
        if (!done) c.act(runner_);
        done = true;
      };
      events_ = inCapture ? std::function<void()>() : act;
      desktop_.DuringCapture = inCapture ? act : std::function<void()>();
      EXPECT_EQ(Tick(), PassOutcome::Cancelled);
      EXPECT_TRUE(desktop_.Events.empty());
      EXPECT_EQ(settings_.ClickCount, c.count);
      EXPECT_EQ(runner_.Running(), c.running);
      EXPECT_FALSE(runner_.PassUnderWay());
      // A stop given while the pass used its bitmaps lets them go once the pass has ended.
      if (!c.running) {
        EXPECT_FALSE(runner_.KeepsBitmaps());
      }
      // The next pass is not affected.
      events_ = nullptr;
      desktop_.DuringCapture = nullptr;
      EXPECT_EQ(Tick(), PassOutcome::Clicked);
      EXPECT_EQ(runner_.KeepsBitmaps(), c.running);
    }
  }
}

TEST_F(RunnerTest, ATickInsideAPassIsSkippedAndARefusedClickIsNotCounted) {
  runner_.Start();
  int nested = 0;
  events_ = [&] {
    if (nested++ == 0) {
      EXPECT_FALSE(runner_.Tick().has_value());
    }
  };
  EXPECT_EQ(Tick(), PassOutcome::Clicked);
  EXPECT_EQ(desktop_.CaptureCount, 2);
  events_ = nullptr;
  desktop_.RefuseButton = true;
  EXPECT_EQ(Tick(), PassOutcome::ClickRefused);
  EXPECT_EQ(settings_.ClickCount, 1);
  // Without a desktop there is nothing to do.
  PassRunner idle(nullptr, timer_, settings_, {200, 100}, {}, {});
  EXPECT_FALSE(idle.Tick().has_value());
}

TEST_F(RunnerTest, ThePointerInTheTopLeftCornerStopsARun) {
  runner_.PointerMoved(0, 0);  // not running: nothing to stop
  EXPECT_FALSE(runner_.Running());
  runner_.Start();
  runner_.PointerMoved(1, 0);
  runner_.PointerMoved(0, 1);
  EXPECT_TRUE(runner_.Running());
  runner_.PointerMoved(0, 0);
  EXPECT_FALSE(runner_.Running());

  // A picture whose centre is that pixel: the program's own click there is no stop, but the
  // user's return to it after the pointer left is.
  desktop_.Fill(0, 0, 200, 100, 0x303030);
  desktop_.SetPixel(0, 0, 0xABCDEF);
  settings_.FindScope = {0, 0, 1, 1};
  runner_.Start();
  EXPECT_EQ(Tick(), PassOutcome::Clicked);
  runner_.PointerMoved(0, 0);
  EXPECT_TRUE(runner_.Running());
  runner_.PointerMoved(5, 5);
  runner_.PointerMoved(0, 0);
  EXPECT_FALSE(runner_.Running());
}

}  // namespace
}  // namespace ostrane
