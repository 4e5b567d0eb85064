#include "platform/wayland/PixelConvert.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace ostrane::platform::wayland {

namespace {

using RowFn = void (*)(const uint8_t* src, uint8_t* dst, int32_t pixels);

// The byte offsets are constants so that the compiler can vectorise each loop.
template <int Blue, int Green, int Red>
void ConvertRow(const uint8_t* src, uint8_t* dst, int32_t pixels) {
  for (int32_t i = 0; i < pixels; ++i, src += 4, dst += 3) {
    dst[0] = src[Blue];
    dst[1] = src[Green];
    dst[2] = src[Red];
  }
}

RowFn RowConverter(PixelFormat format) {
  switch (format) {
    case PixelFormat::Bgrx:
    case PixelFormat::Bgra:
      return ConvertRow<0, 1, 2>;
    case PixelFormat::Rgbx:
    case PixelFormat::Rgba:
      return ConvertRow<2, 1, 0>;
    case PixelFormat::Xrgb:
    case PixelFormat::Argb:
      return ConvertRow<3, 2, 1>;
    case PixelFormat::Xbgr:
    case PixelFormat::Abgr:
      return ConvertRow<1, 2, 3>;
  }
  return nullptr;
}

}  // namespace

bool IsReadable(const FrameView& frame) {
  return frame.Pixels != nullptr && frame.Width > 0 && frame.Height > 0 &&
         int64_t{frame.Stride} >= 4 * int64_t{frame.Width} && RowConverter(frame.Format);
}

bool CopyRect(const FrameView& frame, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
              int32_t lineBytes) {
  if (w <= 0 || h <= 0 || bits == nullptr || int64_t{lineBytes} < 3 * int64_t{w}) return false;
  const bool readable = IsReadable(frame);
  const int64_t width = readable ? frame.Width : 0;
  const int64_t height = readable ? frame.Height : 0;
  // 64-bit bounds: x + w and the like overflow 32 bits for rectangles far off the frame.
  const int64_t x0 = std::max<int64_t>(x, 0);
  const int64_t y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + w, width);
  const int64_t y1 = std::min<int64_t>(int64_t{y} + h, height);
  const bool inside = x0 == x && y0 == y && x1 == int64_t{x} + w && y1 == int64_t{y} + h;
  if (!inside) {
    std::memset(bits, 0, static_cast<size_t>(lineBytes) * static_cast<size_t>(h));
  } else if (lineBytes > 3 * w) {
    for (int32_t r = 0; r < h; ++r) {
      std::memset(bits + static_cast<ptrdiff_t>(r) * lineBytes + 3 * static_cast<ptrdiff_t>(w), 0,
                  static_cast<size_t>(lineBytes - 3 * w));
    }
  }
  if (x1 <= x0 || y1 <= y0) return true;

  const RowFn convert = RowConverter(frame.Format);
  const auto pixels = static_cast<int32_t>(x1 - x0);
  for (int64_t row = y0; row < y1; ++row) {
    const uint8_t* src = frame.Pixels + row * frame.Stride + 4 * x0;
    // Row `row` of the frame is row (row - y) of the rectangle, counted from its top.
    uint8_t* dst = bits + (int64_t{h} - 1 - (row - y)) * lineBytes + 3 * (x0 - x);
    convert(src, dst, pixels);
  }
  return true;
}

}  // namespace ostrane::platform::wayland
