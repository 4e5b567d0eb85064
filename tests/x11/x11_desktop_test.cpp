// The X11 backend and the whole pass against a real X server (a private Xvfb).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/Pattern.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/support/TestWindow.h"

namespace ostrane {
namespace {

using platform::x11::X11Desktop;
using testkit::Pattern;
using testkit::TestWindow;

class X11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testkit::PrivateXAvailable()) << "the tests' X server did not start";
    std::string error;
    desktop_ = X11Desktop::Open(nullptr, error);
    ASSERT_TRUE(desktop_) << error;
    scope_.emplace(*desktop_);
    InitScreenMetrics();
  }

  std::unique_ptr<X11Desktop> desktop_;
  std::optional<platform::ScopedActiveDesktop> scope_;
};

TEST_F(X11Test, ScreenSizeIsTheRootWindow) {
  const platform::ScreenSize size = desktop_->GetScreenSize();
  EXPECT_EQ(size.Width, 1920);
  EXPECT_EQ(size.Height, 1080);
  EXPECT_EQ(ScreenMetrics.Width, 1920);
}

TEST_F(X11Test, CaptureIsExactBottomUpAndPaddedWithAndWithoutSharedMemory) {
  EXPECT_TRUE(desktop_->SharedMemoryAvailable()) << "Xvfb offers MIT-SHM";
  const int w = 37, h = 23;  // 111 bytes of pixels, one byte of padding per row
  const auto pixels = Pattern(w, h, 7);
  TestWindow window(401, 302, w, h, pixels);
  ASSERT_TRUE(window.Ok());
  for (const bool shm : {true, false}) {
    desktop_->SetUseSharedMemory(shm);
    TBDBitmapData b;
    ASSERT_TRUE(b.CopyFromScreen(401, 302, w, h)) << "shm " << shm;
    ASSERT_EQ(b.LineBytes, 112);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(b.PixelAt(x, y), pixels[static_cast<size_t>(y) * w + x])
            << "shm " << shm << " at " << x << "," << y;
    // The top row is the last one stored.
    const uint32_t topLeft = pixels[0];
    EXPECT_EQ(b.Bits[(h - 1) * b.LineBytes], topLeft & 255);
  }
}

TEST_F(X11Test, PartsOutsideTheScreenReadAsBlackAndNothingDies) {
  const auto pixels = Pattern(40, 30, 3);
  TestWindow window(1900, 1060, 20, 20, Pattern(20, 20, 3));
  ASSERT_TRUE(window.Ok());
  struct Case {
    int32_t x, y, w, h;
  };
  for (const bool shm : {true, false}) {
    desktop_->SetUseSharedMemory(shm);
    for (const Case c : {Case{1890, 1050, 60, 50}, Case{-10, -20, 40, 40}, Case{5000, 5000, 10, 10},
                         Case{1919, 1079, 3, 3}, Case{-2147483000, 10, 2147483000, 5},
                         Case{1900, 0, 2147483000, 2}}) {
      std::vector<uint8_t> bits(static_cast<size_t>(LineBytesFor(std::min(c.w, 100))) * c.h, 0xEE);
      const int32_t w = std::min(c.w, 100);
      const int32_t lineBytes = LineBytesFor(w);
      ASSERT_EQ(desktop_->Capture(c.x, c.y, w, c.h, bits.data(), lineBytes),
                platform::CaptureResult::Ok)
          << c.x << "," << c.y;
      for (int32_t r = 0; r < c.h; ++r) {
        for (int32_t col = 0; col < w; ++col) {
          const int64_t sx = int64_t{c.x} + col, sy = int64_t{c.y} + r;
          const uint8_t* p = &bits[static_cast<size_t>(c.h - 1 - r) * lineBytes + 3 * col];
          if (sx < 0 || sy < 0 || sx >= 1920 || sy >= 1080) {
            ASSERT_EQ(p[0] | p[1] | p[2], 0) << "outside at " << sx << "," << sy;
          } else if (sx >= 1900 && sy >= 1060) {
            const uint32_t want = Pattern(20, 20, 3)[(sy - 1060) * 20 + (sx - 1900)];
            ASSERT_EQ(uint32_t(p[2] << 16 | p[1] << 8 | p[0]), want);
          }
        }
      }
    }
  }
  (void)pixels;
  // The connection is still usable after all of this.
  EXPECT_EQ(desktop_->GetScreenSize().Width, 1920);
}

TEST_F(X11Test, ClickPassClicksTheTargetWindowAtTheMatchCentre) {
  const int w = 48, h = 32;
  const auto picture = Pattern(w, h, 11);
  // The find scope shows the picture at (100, 100); the click scope, somewhere else, shows it
  // again inside a larger window at offset (70, 45).
  TestWindow source(100, 100, w, h, picture);
  std::vector<uint32_t> target(300 * 200, 0xF0F0F0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      target[(45 + y) * 300 + 70 + x] = picture[y * w + x];
  TestWindow clickWindow(800, 500, 300, 200, target);
  ASSERT_TRUE(source.Ok() && clickWindow.Ok());

  for (const int32_t similar : {100, 90}) {
    int32_t count = 0;
    ClickPass({100, 100, 100 + w, 100 + h}, {780, 480, 1200, 800}, similar, count);
    EXPECT_EQ(count, 1) << similar;
    // The match lies at (800 + 70 - 780, 500 + 45 - 480) of the click scope.
    const int wantX = 780 + (90 + w / 2), wantY = 480 + (65 + h / 2);
    const auto events = clickWindow.DrainButtons(500);
    ASSERT_EQ(events.size(), 2u) << similar;
    EXPECT_EQ(events[0].kind, testkit::PointerEvent::Press);
    EXPECT_EQ(events[1].kind, testkit::PointerEvent::Release);
    for (const auto& e : events) {
      EXPECT_EQ(e.button, 1);
      EXPECT_EQ(e.rootX, wantX);
      EXPECT_EQ(e.rootY, wantY);
      EXPECT_EQ(e.x, 70 + w / 2);
      EXPECT_EQ(e.y, 45 + h / 2);
    }
    EXPECT_TRUE(source.DrainButtons(50).empty());
  }
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

TEST_F(X11Test, NoMatchSendsNothing) {
  TestWindow source(100, 100, 16, 16, Pattern(16, 16, 99));
  TestWindow clickWindow(800, 500, 100, 100, std::vector<uint32_t>(100 * 100, 0x101010));
  int32_t count = 0;
  ClickPass({100, 100, 116, 116}, {800, 500, 900, 600}, 100, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(clickWindow.DrainButtons(200).empty());
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
  ASSERT_TRUE(b.CopyFromScreen(1700, 900, w, h));
  EXPECT_EQ(b.PixelAt(0, 0), pixels[0]);

  // xrandr also complains that the output no longer fits; the size changes all the same.
  std::system("xrandr --fb 1600x900 >/dev/null 2>&1");
  ASSERT_TRUE(b.CopyFromScreen(1500, 800, 420, 280));
  EXPECT_EQ(b.PixelAt(100, 100), 0u);
  EXPECT_EQ(b.PixelAt(419, 279), 0u);

  std::system("xrandr --fb 1920x1080 >/dev/null 2>&1");
  ASSERT_TRUE(b.CopyFromScreen(1700, 900, w, h));
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
