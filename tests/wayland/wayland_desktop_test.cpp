// What only the Wayland backend does, on the session beside the shared suite: a pass waits for a
// fresh frame and lets events through meanwhile, so a stop handled then must end it without a
// click; and the pointer is reported from the stream's cursor metadata, never drawn in the
// pixels, which gives a run a stop that needs no keys.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine/PassRunner.h"
#include "tests/wayland/WaylandHarness.h"

namespace ostrane::testkit {
namespace {

class FakeTimer : public PassTimer {
 public:
  void SetInterval(int32_t) override {}
  void SetEnabled(bool enabled) override { on_ = enabled; }
  bool Enabled() const override { return on_; }

 private:
  bool on_ = false;
};

class WaylandDesktopLive : public DesktopConformance<WaylandHarness> {
 protected:
  void TearDown() override {
    Live().loop->During = nullptr;
    desktop().WatchPointer(nullptr);
    DesktopConformance<WaylandHarness>::TearDown();
  }
  std::unique_ptr<PassRunner> Runner(FakeTimer& timer, RunSettings& settings) {
    return std::make_unique<PassRunner>(&desktop(), timer, settings, screen_,
                                        search::SearchOptions{},
                                        [] { Live().loop->ProcessPending(); });
  }
};

// F10 (the runner's Stop) handled while the pass waits for the screen, and the picture showing
// meanwhile: the pass ends cancelled, with no move to the picture and no click.
TEST_F(WaylandDesktopLive, AStopWhileThePassWaitsEndsItWithoutAClick) {
  const auto needle = Pattern(16, 16, 41);
  const auto find = Show(100, 100, 16, 16, needle);
  const auto click = Show(800, 500, 100, 100, std::vector<uint32_t>(100 * 100, 0x101010));
  ASSERT_TRUE(find && click) << "the pictures never showed";
  FakeTimer timer;
  RunSettings settings{{100, 100, 116, 116}, {800, 500, 900, 600}, 100, 500, 0};
  const auto runner = Runner(timer, settings);
  runner->Start();
  std::unique_ptr<WaylandHarness::Picture> appeared;
  int calls = 0, afterStop = 0;
  Live().loop->During = [&] {
    // The runner lets events through once before its pass; later calls come from the wait.
    if (!runner->PassUnderWay() || ++calls < 2) return;
    if (appeared) {
      ++afterStop;
      return;
    }
    appeared = harness_.Show(830, 540, 16, 16, needle);
    runner->Stop();
  };
  const auto result = runner->Tick();
  Live().loop->During = nullptr;
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Outcome, PassOutcome::Cancelled);
  ASSERT_TRUE(appeared) << "the pass did not wait for the screen";
  // The wait ended with the stop: only the runner's own call after its pass came later.
  EXPECT_LE(afterStop, 1);
  EXPECT_FALSE(runner->Running());
  EXPECT_EQ(settings.ClickCount, 0);
  harness_.PumpUntil({}, 1000);  // a click would have arrived by now
  EXPECT_TRUE(appeared->Arrivals().empty());
  EXPECT_TRUE(Buttons(click->Arrivals()).empty());
}

// Positions come from the loop in the frames' pixels, the pixels show no pointer, and the
// pointer pushed into the top-left corner stops a run.
TEST_F(WaylandDesktopLive, ThePointerIsReportedNotDrawnAndItsCornerStopsARun) {
  std::vector<std::pair<int, int>> seen;
  ASSERT_TRUE(desktop().WatchPointer([&](int32_t x, int32_t y) { seen.emplace_back(x, y); }))
      << "the portal reports no pointer position";
  const auto grey = Show(600, 500, 200, 100, std::vector<uint32_t>(200 * 100, 0x808080));
  ASSERT_TRUE(grey) << "the picture never showed";
  const int32_t W = screen_.Width, H = screen_.Height;
  for (const auto& [x, y] : {std::pair{W - 1, H - 1}, std::pair{0, 0}, std::pair{650, 540}}) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    ASSERT_TRUE(desktop().MovePointer(x, y));
    EXPECT_TRUE(harness_.PumpUntil(
        [&] {
          return !seen.empty() && seen.back() == std::pair<int, int>{x, y};
        },
        5000))
        << "last reported: " << (seen.empty() ? -1 : seen.back().first) << ","
        << (seen.empty() ? -1 : seen.back().second);
  }
  TBDBitmapData under;
  ASSERT_TRUE(Copy(under, 600, 500, 200, 100)) << under.LastError;
  int notGrey = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      notGrey += under.PixelAt(x, y) != 0x808080;
  EXPECT_EQ(notGrey, 0) << "the pointer is in the captured pixels";

  FakeTimer timer;
  RunSettings settings{{100, 100, 116, 116}, {800, 500, 900, 600}, 100, 500, 0};
  const auto runner = Runner(timer, settings);
  ASSERT_TRUE(desktop().WatchPointer([&](int32_t x, int32_t y) { runner->PointerMoved(x, y); }));
  runner->Start();
  harness_.PumpUntil({}, 300);
  EXPECT_TRUE(runner->Running()) << "stopped with the pointer away from the corner";
  ASSERT_TRUE(desktop().MovePointer(0, 0));
  EXPECT_TRUE(harness_.PumpUntil([&] { return !runner->Running(); }, 5000));
}

}  // namespace
}  // namespace ostrane::testkit
