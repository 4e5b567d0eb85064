// The 32-to-24-bit conversion and the shared-memory segment kept between captures.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "engine/BitmapData.h"
#include "platform/PixelRows.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/Pattern.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/support/TestWindow.h"
#include "tests/x11/TestDesktop.h"

namespace ostrane {
namespace {

using platform::ConvertBgrxRow;
using platform::ConvertBgrxRowScalar;
using platform::x11::X11Desktop;
using testkit::Noise;

TEST(ConvertBgrxRow, MatchesTheScalarLoopAtEveryLengthAndWritesNothingBeyond) {
  std::mt19937 rng(3);
  for (int pixels = 0; pixels <= 70; ++pixels) {
    // The source ends where its pixels end, so a load past it is caught by the sanitizer.
    std::vector<uint8_t> src(4 * static_cast<size_t>(pixels));
    for (auto& b : src)
      b = static_cast<uint8_t>(rng());
    const size_t out = 3 * static_cast<size_t>(pixels);
    std::vector<uint8_t> want(out + 16, 0xA5), got(out + 16, 0xA5);
    ConvertBgrxRowScalar(src.data(), want.data(), pixels);
    ConvertBgrxRow(src.data(), got.data(), pixels);
    EXPECT_EQ(got, want) << pixels << " pixels";
    for (size_t i = out; i < got.size(); ++i)
      ASSERT_EQ(got[i], 0xA5) << pixels << " pixels";
    for (int i = 0; i < pixels; ++i) {
      ASSERT_EQ(want[3 * i + 2], src[4 * i + 2]);  // red stays third, the fourth byte goes
    }
  }
}

// A desktop of its own on the tests' X server, active for the test.
class SharedSegment : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testkit::OpenTestDesktop(desktop));
    scope.emplace(*desktop);
    InitScreenMetrics();
  }

  std::unique_ptr<X11Desktop> desktop;
  std::optional<platform::ScopedActiveDesktop> scope;
};

// Captures of changing sizes through the kept segment agree pixel for pixel with XGetImage.
TEST_F(SharedSegment, IsKeptGrownWhenNeededAndGivesExactPixels) {
  testkit::TestWindow window(50, 40, 300, 200, Noise(300, 200, 8));
  ASSERT_TRUE(window.Ok());
  struct Step {
    int32_t x, y, w, h;
  };
  size_t kept = 0;
  for (const Step s : {Step{60, 50, 37, 23}, Step{50, 40, 300, 200}, Step{55, 45, 5, 3},
                       Step{50, 40, 299, 199}, Step{0, 0, 0, 0}}) {
    desktop->SetUseSharedMemory(true);
    TBDBitmapData shm;
    ASSERT_TRUE(shm.CopyFromScreen(*desktop, {ScreenMetrics.Width, ScreenMetrics.Height}, s.x, s.y,
                                   s.w, s.h));
    const size_t bytes = desktop->SharedSegmentBytes();
    EXPECT_GE(bytes, 4 * static_cast<size_t>(shm.Width) * shm.Height);
    // Never shrunk: a smaller capture reuses the segment it finds.
    EXPECT_GE(bytes, kept);
    if (kept >= 4 * static_cast<size_t>(shm.Width) * shm.Height) {
      EXPECT_EQ(bytes, kept);
    }
    kept = bytes;
    desktop->SetUseSharedMemory(false);
    TBDBitmapData plain;
    ASSERT_TRUE(plain.CopyFromScreen(*desktop, {ScreenMetrics.Width, ScreenMetrics.Height}, s.x,
                                     s.y, s.w, s.h));
    ASSERT_EQ(shm.Size, plain.Size);
    EXPECT_EQ(std::vector<uint8_t>(shm.Bits, shm.Bits + shm.Size),
              std::vector<uint8_t>(plain.Bits, plain.Bits + plain.Size))
        << s.x << "," << s.y << " " << s.w << "x" << s.h;
  }
}

}  // namespace
}  // namespace ostrane
