// Copies out of screen-cast frames: every byte order, padded rows, and rectangles that reach
// past the frame or lie far outside it.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/PixelRows.h"
#include "platform/wayland/PixelConvert.h"

namespace ostrane::platform::wayland {
namespace {

struct Rgb {
  uint8_t R, G, B;
};

// A colour no two pixels of a small frame share, with distinct channels.
Rgb ColourAt(int32_t col, int32_t row) {
  return {static_cast<uint8_t>(10 + col), static_cast<uint8_t>(100 + row),
          static_cast<uint8_t>(200 + col + row)};
}

// Where each channel lies in a pixel of the format, and what the fourth byte holds.
struct Layout {
  PixelFormat Format;
  int Red, Green, Blue, Other;
};

constexpr std::array<Layout, 8> kLayouts = {{
    {PixelFormat::Bgrx, 2, 1, 0, 3},
    {PixelFormat::Bgra, 2, 1, 0, 3},
    {PixelFormat::Rgbx, 0, 1, 2, 3},
    {PixelFormat::Rgba, 0, 1, 2, 3},
    {PixelFormat::Xrgb, 1, 2, 3, 0},
    {PixelFormat::Argb, 1, 2, 3, 0},
    {PixelFormat::Xbgr, 3, 2, 1, 0},
    {PixelFormat::Abgr, 3, 2, 1, 0},
}};

// A frame of the given layout; the padding and the unused byte hold a value no colour has, so
// that reading them shows in the result.
struct TestFrame {
  std::vector<uint8_t> Bytes;
  FrameView View;

  TestFrame(const Layout& layout, int32_t width, int32_t height, int32_t stride) {
    Bytes.assign(static_cast<size_t>(stride) * height, 0xEE);
    for (int32_t r = 0; r < height; ++r) {
      for (int32_t c = 0; c < width; ++c) {
        uint8_t* p = Bytes.data() + r * stride + 4 * c;
        const Rgb colour = ColourAt(c, r);
        p[layout.Red] = colour.R;
        p[layout.Green] = colour.G;
        p[layout.Blue] = colour.B;
        p[layout.Other] = 0x77;
      }
    }
    View = {Bytes.data(), width, height, stride, layout.Format};
  }
};

// What CopyRect must write, worked out pixel by pixel.
std::vector<uint8_t> Expected(int32_t width, int32_t height, int64_t x, int64_t y, int32_t w,
                              int32_t h, int32_t lineBytes) {
  std::vector<uint8_t> out(static_cast<size_t>(lineBytes) * h, 0);
  for (int32_t j = 0; j < h; ++j) {
    for (int32_t i = 0; i < w; ++i) {
      const int64_t c = x + i, r = y + j;
      if (c < 0 || r < 0 || c >= width || r >= height) continue;
      const Rgb colour = ColourAt(static_cast<int32_t>(c), static_cast<int32_t>(r));
      uint8_t* p = PixelFromTop(out.data(), h, lineBytes, i, j);
      p[0] = colour.B;
      p[1] = colour.G;
      p[2] = colour.R;
    }
  }
  return out;
}

struct RectCase {
  const char* Name;
  int32_t X, Y, W, H;
};

// On a frame of 7 x 5 pixels.
constexpr std::array<RectCase, 11> kRects = {{
    {"whole frame", 0, 0, 7, 5},
    {"one pixel", 3, 2, 1, 1},
    {"inner rectangle", 1, 1, 5, 3},
    {"past the left and top", -2, -1, 4, 3},
    {"past the right and bottom", 5, 3, 4, 4},
    {"around the whole frame", -1, -1, 9, 7},
    {"wholly to the right", 7, 0, 3, 2},
    {"wholly above", 0, -5, 3, 5},
    {"far negative", INT32_MIN, INT32_MIN, 4, 3},
    {"far positive, end overflows 32 bits", INT32_MAX - 1, INT32_MAX - 1, 4, 3},
    {"negative start, long width", -3, 4, 20, 1},
}};

// On a frame of 41 x 3 pixels: rows long enough for the vector converter's 16-pixel steps, cut
// where a step would reach past the frame or the rectangle.
constexpr std::array<RectCase, 6> kWideRects = {{
    {"whole frame", 0, 0, 41, 3},
    {"two steps exactly", 0, 1, 32, 1},
    {"odd start, two steps and one", 5, 0, 33, 3},
    {"past the left, the row's end inside", -9, 0, 47, 2},
    {"past both sides", -2, 1, 45, 2},
    {"one step short of the end", 24, 2, 16, 1},
}};

TEST(CopyRect, EveryLayoutStrideAndRectangle) {
  struct FrameCase {
    int32_t Width, Height;
    std::span<const RectCase> Rects;
  };
  const FrameCase frames[] = {{7, 5, kRects}, {41, 3, kWideRects}};
  for (const FrameCase& size : frames) {
    // Tight rows, rows padded to a multiple of 16, and rows with an odd number of extra bytes.
    const int32_t strides[] = {4 * size.Width, (4 * size.Width + 15) / 16 * 16, 4 * size.Width + 3};
    for (const Layout& layout : kLayouts) {
      for (int32_t stride : strides) {
        TestFrame frame(layout, size.Width, size.Height, stride);
        for (const RectCase& rect : size.Rects) {
          for (int32_t pad : {0, 2}) {
            SCOPED_TRACE(testing::Message()
                         << "format " << static_cast<int>(layout.Format) << ", frame " << size.Width
                         << " wide, stride " << stride << ", " << rect.Name << ", padding " << pad);
            const int32_t lineBytes = 3 * rect.W + pad;
            std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * rect.H, 0x55);
            ASSERT_TRUE(
                CopyRect(frame.View, rect.X, rect.Y, rect.W, rect.H, bits.data(), lineBytes));
            EXPECT_EQ(bits,
                      Expected(size.Width, size.Height, rect.X, rect.Y, rect.W, rect.H, lineBytes));
          }
        }
      }
    }
  }
}

TEST(CopyRect, RefusesBadArgumentsWithoutWriting) {
  TestFrame frame(kLayouts[0], 4, 4, 16);
  struct Case {
    const char* Name;
    int32_t W, H, LineBytes;
    bool NullBits;
  };
  const Case cases[] = {
      {"zero width", 0, 2, 12, false},
      {"zero height", 2, 0, 12, false},
      {"negative width", -1, 2, 12, false},
      {"negative height", 2, -3, 12, false},
      {"row too short", 4, 2, 11, false},
      {"negative line bytes", 1, 1, -4, false},
      {"row bytes overflow", INT32_MAX / 2, 1, INT32_MAX, false},
      {"no buffer", 2, 2, 6, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bits(64, 0x55);
    EXPECT_FALSE(
        CopyRect(frame.View, 0, 0, c.W, c.H, c.NullBits ? nullptr : bits.data(), c.LineBytes));
    EXPECT_EQ(bits, std::vector<uint8_t>(64, 0x55));
  }
}

TEST(CopyRect, UnreadableFrameReadsBlack) {
  std::vector<uint8_t> pixels(64, 0xEE);
  const FrameView cases[] = {
      {nullptr, 4, 4, 16, PixelFormat::Bgrx},                   // no pixels
      {pixels.data(), 4, 4, 15, PixelFormat::Bgrx},             // rows shorter than the width
      {pixels.data(), 4, 4, -16, PixelFormat::Bgrx},            // negative stride
      {pixels.data(), 0, 4, 16, PixelFormat::Bgrx},             // no width
      {pixels.data(), 4, -1, 16, PixelFormat::Bgrx},            // negative height
      {pixels.data(), 4, 4, 16, static_cast<PixelFormat>(99)},  // unknown layout
  };
  for (const FrameView& view : cases) {
    SCOPED_TRACE(testing::Message() << "stride " << view.Stride << ", width " << view.Width);
    EXPECT_FALSE(IsReadable(view));
    std::vector<uint8_t> bits(3 * 2 * 2, 0x55);
    ASSERT_TRUE(CopyRect(view, 0, 0, 2, 2, bits.data(), 6));
    EXPECT_EQ(bits, std::vector<uint8_t>(12, 0));
  }
}

}  // namespace
}  // namespace ostrane::platform::wayland
