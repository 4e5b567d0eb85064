// What only the X11 backend does, against a real X server (a private Xvfb): the pointer's 16-bit
// coordinates, screen resizes, an unreachable display. What every backend does is in
// x11_conformance_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/Pattern.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/support/TestWindow.h"
#include "tests/x11/TestDesktop.h"

namespace ostrane {
namespace {

using platform::x11::X11Desktop;
using testkit::Pattern;
using testkit::TestWindow;

class X11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testkit::OpenTestDesktop(desktop_));
    scope_.emplace(*desktop_);
    InitScreenMetrics();
  }

  std::unique_ptr<X11Desktop> desktop_;
  std::optional<platform::ScopedActiveDesktop> scope_;
};

// The conformance suite reads the screen in both ways; without MIT-SHM both would be XGetImage.
TEST_F(X11Test, XvfbOffersSharedMemory) {
  EXPECT_TRUE(desktop_->SharedMemoryAvailable());
}

// The protocol has 16 bits for a coordinate: points beyond them must not wrap around onto the
// screen, and every point off the screen ends at its nearest screen pixel.
TEST_F(X11Test, PointsOffTheScreenClickTheNearestScreenPixel) {
  TestWindow screen(0, 0, 1920, 1080, std::vector<uint32_t>(1920 * 1080, 0x404040));
  ASSERT_TRUE(screen.Ok());
  struct Case {
    int32_t x, y;
    int wantX, wantY;
  };
  for (const Case c :
       {Case{700, 400, 700, 400}, Case{66036, 317, 1919, 317}, Case{5, 65536 + 10, 5, 1079},
        Case{-40000, 5, 0, 5}, Case{-70000, -1, 0, 0}, Case{1920, 1080, 1919, 1079},
        Case{32768, 65535, 1919, 1079}, Case{INT32_MAX, INT32_MIN, 1919, 0}, Case{0, 0, 0, 0}}) {
    desktop_->MovePointer(c.x, c.y);
    desktop_->LeftButtonDown();
    desktop_->LeftButtonUp();
    for (const bool press : {true, false}) {
      const auto e = screen.NextButton(2000);
      ASSERT_TRUE(e) << c.x << "," << c.y;
      EXPECT_EQ(e->kind == testkit::PointerEvent::Press, press);
      EXPECT_EQ(e->rootX, c.wantX) << c.x << "," << c.y;
      EXPECT_EQ(e->rootY, c.wantY) << c.x << "," << c.y;
    }
  }
}

// The backend keeps the screen size from the root window's events instead of asking before each
// capture: after the screen shrinks, the part beyond it reads black without an error, and after it
// grows again the uncovered window is captured, not blacked out by a stale size.
TEST_F(X11Test, CapturesFollowScreenResizes) {
  if (std::system("command -v xrandr >/dev/null") != 0) GTEST_SKIP() << "no xrandr";
  struct Restore {
    ~Restore() { std::system("xrandr --fb 1920x1080 >/dev/null 2>&1"); }
  } restore;
  const int w = 100, h = 80;
  const auto pixels = Pattern(w, h, 5);
  TestWindow window(1700, 900, w, h, pixels);
  ASSERT_TRUE(window.Ok());
  TBDBitmapData b;
  ASSERT_TRUE(
      b.CopyFromScreen(*desktop_, {ScreenMetrics.Width, ScreenMetrics.Height}, 1700, 900, w, h));
  EXPECT_EQ(b.PixelAt(0, 0), pixels[0]);

  // xrandr also complains that the output no longer fits; the size changes all the same.
  std::system("xrandr --fb 1600x900 >/dev/null 2>&1");
  ASSERT_TRUE(b.CopyFromScreen(*desktop_, {ScreenMetrics.Width, ScreenMetrics.Height}, 1500, 800,
                               420, 280));
  EXPECT_EQ(b.PixelAt(100, 100), 0u);
  EXPECT_EQ(b.PixelAt(419, 279), 0u);

  std::system("xrandr --fb 1920x1080 >/dev/null 2>&1");
  ASSERT_TRUE(
      b.CopyFromScreen(*desktop_, {ScreenMetrics.Width, ScreenMetrics.Height}, 1700, 900, w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(b.PixelAt(x, y), pixels[static_cast<size_t>(y) * w + x]) << x << "," << y;
}

TEST(X11Open, UnreachableDisplayIsAClearError) {
  std::string error;
  EXPECT_EQ(X11Desktop::Open(":4095", error), nullptr);
  EXPECT_NE(error.find(":4095"), std::string::npos) << error;
  EXPECT_EQ(X11Desktop::Open("", error), nullptr);
  EXPECT_NE(error.find("DISPLAY"), std::string::npos) << error;
}

}  // namespace
}  // namespace ostrane

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ostrane::testkit::RegisterPrivateXEnvironment();
  return RUN_ALL_TESTS();
}
