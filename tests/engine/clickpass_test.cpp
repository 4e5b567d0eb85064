#include <gtest/gtest.h>

#include <climits>

#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "platform/memory/MemoryDesktop.h"

namespace ostrane {
namespace {

using platform::MemoryDesktop;
using Ev = MemoryDesktop::Event;
using Kind = MemoryDesktop::EventKind;

TEST(Similarity, ToleranceIsTruncatedNotRounded) {
  struct Case {
    int32_t percent, tolerance;
  };
  for (const Case c : {Case{95, 12}, Case{90, 25}, Case{85, 38}, Case{80, 51}, Case{75, 63},
                       Case{70, 76}, Case{65, 89}, Case{60, 102}, Case{50, 127}, Case{0, 255},
                       Case{101, -2}, Case{200, -255}, Case{-100, 510}}) {
    EXPECT_EQ(ToleranceForSimilarity(c.percent), c.tolerance) << c.percent;
  }
  // The product wraps in 32 bits instead of overflowing.
  EXPECT_EQ(ToleranceForSimilarity(INT_MIN),
            static_cast<int32_t>(WrapMul(WrapSub(100, INT_MIN), 255) / 100.0));
}

class ClickPassTest : public ::testing::Test {
 protected:
  ClickPassTest() : desktop_(400, 300, 0x404040) {}

  PassResult Pass(const ScreenRect& find, const ScreenRect& click, int32_t percent, int32_t& count,
                  const platform::CancelFlag& cancel = {}) {
    return ClickPass(desktop_, PassInput{find, click, percent, {400, 300}, {}}, cancel, count);
  }

  // A 5 x 7 picture with distinct pixels, shown at (x, y).
  void ShowMark(int32_t x, int32_t y, int32_t delta = 0) {
    for (int32_t r = 0; r < 7; ++r)
      for (int32_t c = 0; c < 5; ++c)
        desktop_.SetPixel(
            x + c, y + r,
            MakePixel(uint8_t(100 + delta), uint8_t(20 * r + delta), uint8_t(40 * c + delta)));
  }

  std::vector<Ev> Click(int32_t x, int32_t y) {
    return {{Kind::Move, x, y}, {Kind::LeftDown, x, y}, {Kind::LeftUp, x, y}};
  }

  MemoryDesktop desktop_;
  int32_t count_ = 5;
};

TEST_F(ClickPassTest, ClicksTheCentreOfTheMatchInScreenCoordinates) {
  ShowMark(300, 10);   // the find scope's picture
  ShowMark(110, 220);  // offset (10, 20) inside the click scope at (100, 200)
  Pass({300, 10, 305, 17}, {100, 200, 160, 260}, 100, count_);
  EXPECT_EQ(desktop_.Events, Click(112, 223));
  EXPECT_EQ(count_, 6);
}

TEST_F(ClickPassTest, SimilarityDecidesWhetherANearMatchIsClicked) {
  struct Case {
    int32_t percent, delta;
    bool clicks;
  };
  for (const Case c :
       {Case{100, 0, true}, Case{100, 1, false}, Case{95, 12, true}, Case{95, 13, false},
        Case{90, 25, true}, Case{90, 26, false}, Case{70, 76, true}, Case{70, 77, false},
        Case{60, 50, true}, Case{101, 0, false}}) {
    desktop_.Events.clear();
    desktop_.Fill(0, 0, 400, 300, 0x404040);
    ShowMark(300, 10);
    ShowMark(50, 50, c.delta);  // the click scope shows a slightly different copy
    int32_t count = 0;
    Pass({300, 10, 305, 17}, {40, 40, 100, 100}, c.percent, count);
    EXPECT_EQ(count, c.clicks ? 1 : 0) << c.percent << "% delta " << c.delta;
    EXPECT_EQ(desktop_.Events.size(), c.clicks ? 3u : 0u);
  }
}

TEST_F(ClickPassTest, FindScopeInsideClickScopeClicksItsOwnCentre) {
  ShowMark(200, 150);
  Pass({200, 150, 205, 157}, {0, 0, 400, 300}, 100, count_);
  EXPECT_EQ(desktop_.Events, Click(202, 153));
}

TEST_F(ClickPassTest, ScopeCornerIsAddedAsEnteredEvenWhenTheCaptureMoved) {
  // Left -3 is captured from column 0; a 5-wide match at column 0 gives 0 + 2 - 3 = -1,
  // which means "not found": nothing is clicked.
  ShowMark(0, 100);
  Pass({0, 100, 5, 107}, {-3, 90, 60, 130}, 100, count_);
  EXPECT_TRUE(desktop_.Events.empty());
  EXPECT_EQ(count_, 5);
  // Left -2 gives 0: a real click at column 0.
  Pass({0, 100, 5, 107}, {-2, 90, 60, 130}, 100, count_);
  EXPECT_EQ(desktop_.Events, Click(0, 90 + 10 + 3));
}

TEST_F(ClickPassTest, NothingHappensWithoutAMatchOrACapture) {
  ShowMark(300, 10);
  ShowMark(20, 20);
  using Arrange = void (*)(MemoryDesktop&);
  struct Case {
    const char* what;
    Arrange arrange;
    ScreenRect clickScope;
    PassOutcome outcome;
    std::string error;
    size_t events;  // a refused press sends no release; a refused move sends no button at all
  };
  const ScreenRect all{0, 0, 400, 300}, mark{0, 0, 100, 100};
  const Case cases[] = {
      {"no match", [](MemoryDesktop&) {}, {0, 150, 200, 300}, PassOutcome::NotFound, "", 0},
      {"haystack copy", [](MemoryDesktop& d) { d.FailCopy = true, d.FailOnlyCapture = 0; }, all,
       PassOutcome::CaptureFailed, bitmap_errors::kCaptureFailed, 0},
      {"needle copy", [](MemoryDesktop& d) { d.FailCopy = true, d.FailOnlyCapture = 1; }, all,
       PassOutcome::CaptureFailed, bitmap_errors::kCaptureFailed, 0},
      {"needle read", [](MemoryDesktop& d) { d.FailRead = true, d.FailOnlyCapture = 1; }, all,
       PassOutcome::CaptureFailed, bitmap_errors::kReadFailed, 0},
      {"too large",
       [](MemoryDesktop&) {},
       {0, 0, INT_MAX, 10},
       PassOutcome::CaptureFailed,
       bitmap_errors::kOutOfMemory,
       0},
      // The system refusing the move or the press: found, but neither clicked nor counted.
      {"move refused", [](MemoryDesktop& d) { d.RefuseMove = true; }, mark,
       PassOutcome::ClickRefused, "", 0},
      {"press refused", [](MemoryDesktop& d) { d.RefuseButton = true; }, mark,
       PassOutcome::ClickRefused, "", 1},
  };
  for (const Case& c : cases) {
    MemoryDesktop& d = desktop_;
    d.FailCopy = d.FailRead = d.RefuseMove = d.RefuseButton = false;
    d.FailOnlyCapture = -1;
    d.Events.clear();
    d.CaptureCount = 0;
    c.arrange(d);
    const PassResult result = Pass({300, 10, 305, 17}, c.clickScope, 100, count_);
    EXPECT_EQ(result.Outcome, c.outcome) << c.what;
    EXPECT_EQ(result.Error, c.error) << c.what;
    EXPECT_EQ(count_, 5) << c.what;
    EXPECT_EQ(d.Events.size(), c.events) << c.what;
    EXPECT_EQ(d.PassesEnded, d.PassesBegun) << c.what << ": the pass ended";
  }
}

TEST_F(ClickPassTest, ACancelledPassEndsWithoutActing) {
  ShowMark(300, 10);
  ShowMark(20, 20);
  for (const int32_t cancelAt : {0, 1}) {  // during the haystack's capture, or the needle's
    desktop_.Events.clear();
    desktop_.CaptureCount = 0;
    platform::CancelFlag cancel;
    desktop_.DuringCapture = [&] {
      if (desktop_.CaptureCount == cancelAt + 1) cancel.Cancel();
    };
    EXPECT_EQ(Pass({300, 10, 305, 17}, {0, 0, 100, 100}, 100, count_, cancel).Outcome,
              PassOutcome::Cancelled)
        << cancelAt;
    EXPECT_TRUE(desktop_.Events.empty()) << cancelAt;
    EXPECT_EQ(count_, 5) << cancelAt;
    EXPECT_EQ(desktop_.CaptureCount, cancelAt + 1) << cancelAt << ": nothing captured after";
  }
}

TEST_F(ClickPassTest, TheNeedleIsTakenAfreshOnEveryPass) {
  ShowMark(300, 10);
  ShowMark(20, 20);
  const PassInput input{{300, 10, 305, 17}, {0, 0, 100, 100}, 100, {400, 300}, {}};
  EXPECT_EQ(LocateTarget(desktop_, input), (ScreenPoint{22, 23}));
  // The find scope now shows something that is nowhere in the click scope.
  desktop_.Fill(300, 10, 5, 7, 0x00FF00);
  EXPECT_EQ(LocateTarget(desktop_, input), (ScreenPoint{-1, -1}));
}

TEST_F(ClickPassTest, APassUsesTheDesktopAndScreenItIsGiven) {
  // Another desktop than the active one, smaller than the start-up screen size.
  MemoryDesktop other(120, 80, 0x101010);
  for (int32_t r = 0; r < 7; ++r)
    for (int32_t c = 0; c < 5; ++c)
      other.SetPixel(30 + c, 40 + r, MakePixel(100, uint8_t(20 * r), uint8_t(40 * c)));
  PassInput input;
  input.FindScope = {30, 40, 35, 47};
  input.ClickScope = {0, 0, 0, 0};  // the whole screen given below
  input.Screen = {120, 80};
  const PassResult result = FindAndClick(other, input, {});
  EXPECT_TRUE(result.Clicked());
  EXPECT_EQ(result.Target, (ScreenPoint{32, 43}));
  EXPECT_EQ(other.Events, Click(32, 43));
  EXPECT_TRUE(desktop_.Events.empty());
  // The desktop hears of the pass before either capture.
  EXPECT_EQ(other.PassesBegun, 1);
  EXPECT_EQ(other.CapturesAtPassStart, 0);
  EXPECT_EQ(other.CaptureCount, 2);
  // A screen size of nothing leaves nothing to capture: no click.
  other.Events.clear();
  input.Screen = {0, 0};
  EXPECT_FALSE(FindAndClick(other, input, {}).Clicked());
  EXPECT_TRUE(other.Events.empty());
}

}  // namespace
}  // namespace ostrane
