#include <gtest/gtest.h>

#include <climits>

#include "engine/BitmapData.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/engine/Pictures.h"

namespace ostrane {
namespace {

using platform::MemoryDesktop;

TEST(BitmapLayout, RowsArePaddedToFourBytes) {
  struct Case {
    int32_t width, lineBytes, linePad;
  };
  for (const Case c : {Case{0, 0, 0}, Case{1, 4, 1}, Case{2, 8, 2}, Case{3, 12, 3}, Case{4, 12, 0},
                       Case{5, 16, 1}, Case{1920, 5760, 0}}) {
    TBDBitmapData b;
    ASSERT_TRUE(b.SetSize(c.width, 3));
    EXPECT_EQ(b.LineBytes, c.lineBytes) << "width " << c.width;
    EXPECT_EQ(b.LinePad, c.linePad) << "width " << c.width;
    EXPECT_EQ(b.Size, c.lineBytes * 3);
  }
}

TEST(BitmapLayout, PixelsAreBottomUpBlueGreenRed) {
  TBDBitmapData b;
  ASSERT_TRUE(b.SetSize(2, 2));
  b.SetPixel(0, 0, 0x112233);  // top-left
  b.SetPixel(1, 1, 0xAABBCC);  // bottom-right
  // The top row is stored last, at LineBytes (8); the bottom row first.
  EXPECT_EQ(b.Bits[8], 0x33);
  EXPECT_EQ(b.Bits[9], 0x22);
  EXPECT_EQ(b.Bits[10], 0x11);
  EXPECT_EQ(b.Bits[3], 0xCC);
  EXPECT_EQ(b.Bits[4], 0xBB);
  EXPECT_EQ(b.Bits[5], 0xAA);
}

TEST(BitmapErrors, TextsAreCodePage936Bytes) {
  EXPECT_EQ(bitmap_errors::kOutOfMemory, "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xA1");
  EXPECT_EQ(bitmap_errors::kCaptureFailed, "\xBD\xD8\xCD\xBC\xCA\xA7\xB0\xDC\xA3\xA1");
  EXPECT_EQ(bitmap_errors::kReadFailed, "\xCC\xE1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC\xA3\xA1");
}

TEST(BitmapSetSize, ReusesStorageUnlessItMustGrow) {
  TBDBitmapData b;
  ASSERT_TRUE(b.SetSize(4, 4));
  b.SetPixel(1, 2, 0x123456);
  uint8_t* const first = b.Bits;
  const int32_t capacity = b.Capacity;

  ASSERT_TRUE(b.SetSize(4, 4));  // same size: pixels kept
  EXPECT_EQ(b.Bits, first);
  EXPECT_EQ(b.PixelAt(1, 2), 0x123456u);

  ASSERT_TRUE(b.SetSize(2, 3));  // smaller: same allocation
  EXPECT_EQ(b.Bits, first);
  EXPECT_EQ(b.Capacity, capacity);
  EXPECT_EQ(b.Size, 8 * 3);

  ASSERT_TRUE(b.SetSize(40, 40));  // larger: replaced
  EXPECT_EQ(b.Capacity, 120 * 40);
  EXPECT_EQ(b.Size, b.Capacity);
}

TEST(BitmapSetSize, ClearEmptiesEverything) {
  TBDBitmapData b;
  ASSERT_TRUE(b.SetSize(7, 3));
  b.LastError = "x";
  b.Clear();
  EXPECT_EQ(b.Width + b.Height + b.LineBytes + b.LinePad + b.Size + b.Capacity, 0);
  EXPECT_EQ(b.Bits, nullptr);
  EXPECT_TRUE(b.LastError.empty());
  EXPECT_TRUE(b.SetSize(7, 3));  // usable again
}

int g_allocations = 0;
uint8_t* CountingAlloc(size_t bytes) {
  ++g_allocations;
  return new uint8_t[bytes];
}
uint8_t* FailingAlloc(size_t) {
  ++g_allocations;
  return nullptr;
}
void Release(uint8_t* bits) {
  delete[] bits;
}

class BitmapAllocation : public ::testing::Test {
 protected:
  void SetUp() override { g_allocations = 0; }
  void TearDown() override { ResetBitmapAllocator(); }
};

TEST_F(BitmapAllocation, LackOfMemoryIsReportedAndLeavesNoStorage) {
  TBDBitmapData b;
  ASSERT_TRUE(b.SetSize(2, 2));
  SetBitmapAllocator(FailingAlloc, Release);
  EXPECT_FALSE(b.SetSize(100, 50));
  EXPECT_EQ(b.LastError, bitmap_errors::kOutOfMemory);
  EXPECT_EQ(b.Bits, nullptr);
  EXPECT_EQ(b.Size, 0);
  EXPECT_EQ(b.Capacity, 0);
  EXPECT_EQ(b.Width, 100);
  EXPECT_EQ(b.Height, 50);
  EXPECT_EQ(b.LineBytes, 300);
  ResetBitmapAllocator();
  EXPECT_TRUE(b.SetSize(100, 50));  // the same request succeeds once memory is back
  EXPECT_TRUE(b.LastError.empty());
  EXPECT_NE(b.Bits, nullptr);
}

TEST_F(BitmapAllocation, SizesBeyond32BitsFailWithoutAllocating) {
  struct Case {
    int32_t w, h;
  };
  for (const Case c : {Case{INT_MAX, 1}, Case{715827882, 1}, Case{1 << 20, 1 << 12},
                       Case{46341, 46341}, Case{-1, 5}, Case{5, -1}, Case{INT_MIN, INT_MIN}}) {
    TBDBitmapData b;
    ASSERT_TRUE(b.SetSize(3, 3));
    b.SetPixel(0, 0, 0xABCDEF);
    SetBitmapAllocator(CountingAlloc, Release);
    g_allocations = 0;
    EXPECT_FALSE(b.SetSize(c.w, c.h)) << c.w << " x " << c.h;
    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(b.LastError, bitmap_errors::kOutOfMemory);
    // Nothing changed, so the old picture is still consistent.
    EXPECT_EQ(b.Width, 3);
    EXPECT_EQ(b.Height, 3);
    EXPECT_EQ(b.PixelAt(0, 0), 0xABCDEFu);
    ResetBitmapAllocator();
  }
}

TEST(BitmapLayout, RowSizeLimitIsThirtyTwoBits) {
  // 3 x 715827881 rounds up to 2147483644 bytes; one more column needs 2^31.
  EXPECT_EQ(LineBytesFor(715827881), 2147483644);
  EXPECT_EQ(LineBytesFor(715827882), -1);
  // Where 24 x width alone leaves 32 bits, the row still fits and is computed exactly.
  EXPECT_EQ(LineBytesFor(89478486), 268435460);
}

class CopyFromScreenTest : public ::testing::Test {
 protected:
  CopyFromScreenTest() : desktop_(200, 100) {
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 200; ++x)
        desktop_.SetPixel(x, y, (x << 8) | y | 0x800000);
  }
  bool Copy(TBDBitmapData& b, int32_t x, int32_t y, int32_t w, int32_t h) {
    return b.CopyFromScreen(desktop_, {200, 100}, x, y, w, h);
  }
  MemoryDesktop desktop_;
};

TEST_F(CopyFromScreenTest, AdjustsOriginAndSizeLikeTheOriginal) {
  struct Case {
    int32_t x, y, w, h;     // as requested
    int32_t fromX, fromY;   // where the capture starts
    int32_t width, height;  // what it holds
  };
  for (const Case c : {
           Case{10, 20, 30, 40, 10, 20, 30, 40},
           Case{-5, 10, 100, 50, 0, 10, 100, 50},   // negative X moves to column 0
           Case{30, 40, 0, -7, 30, 40, 170, 60},    // no size reaches to the edges
           Case{250, 120, 5, 5, 0, 0, 5, 5},        // origin off the screen moves to 0
           Case{200, 99, -1, 1, 0, 99, 200, 1},     // X equal to the width is off-screen
           Case{190, 95, 20, 10, 190, 95, 20, 10},  // runs past the edges: size kept
       }) {
    TBDBitmapData b;
    ASSERT_TRUE(Copy(b, c.x, c.y, c.w, c.h));
    ASSERT_EQ(b.Width, c.width);
    ASSERT_EQ(b.Height, c.height);
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        ASSERT_EQ(b.PixelAt(x, y), desktop_.PixelAt(c.fromX + x, c.fromY + y))
            << "case " << c.x << "," << c.y << " at " << x << "," << y;
  }
}

TEST_F(CopyFromScreenTest, FailuresSetTheirTextAndKeepTheStorage) {
  TBDBitmapData b;
  ASSERT_TRUE(Copy(b, 0, 0, 8, 8));
  uint8_t* bits = b.Bits;
  desktop_.FailCopy = true;
  EXPECT_FALSE(Copy(b, 0, 0, 4, 4));
  EXPECT_EQ(b.LastError, bitmap_errors::kCaptureFailed);
  EXPECT_EQ(b.Bits, bits);
  EXPECT_EQ(b.Width, 4);
  desktop_.FailCopy = false;
  desktop_.FailRead = true;
  EXPECT_FALSE(Copy(b, 0, 0, 4, 4));
  EXPECT_EQ(b.LastError, bitmap_errors::kReadFailed);
  desktop_.FailRead = false;
  EXPECT_TRUE(Copy(b, 0, 0, 4, 4));
  EXPECT_TRUE(b.LastError.empty());
}

TEST_F(CopyFromScreenTest, HugeRectangleFailsBeforeAnyCapture) {
  TBDBitmapData b;
  EXPECT_FALSE(Copy(b, 0, 0, INT_MAX, 10));
  EXPECT_FALSE(Copy(b, 0, 0, 100000, 100000));
  EXPECT_EQ(b.LastError, bitmap_errors::kOutOfMemory);
  EXPECT_EQ(desktop_.CaptureCount, 0);
}

}  // namespace
}  // namespace ostrane
