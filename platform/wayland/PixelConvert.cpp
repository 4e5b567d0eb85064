#include "platform/wayland/PixelConvert.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/Desktop.h"
#include "platform/PixelRows.h"

namespace ostrane::platform::wayland {

namespace {

using RowFn = void (*)(const uint8_t* src, uint8_t* dst, int32_t pixels);

// The layouts without a vector converter of their own; the byte offsets are constants.
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
    case PixelFormat::Bgrx:  // what mutter sends
    case PixelFormat::Bgra:
      return ConvertBgrxRow;
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
  const ScreenSize size{readable ? frame.Width : 0, readable ? frame.Height : 0};
  const ScreenArea area = PrepareCapture(size, x, y, w, h, bits, lineBytes);
  if (area.Width == 0) return true;

  const RowFn convert = RowConverter(frame.Format);
  for (int64_t row = area.Y; row < int64_t{area.Y} + area.Height; ++row) {
    const uint8_t* src = frame.Pixels + row * frame.Stride + 4 * int64_t{area.X};
    // Row `row` of the frame is row (row - y) of the rectangle, counted from its top.
    convert(src, PixelFromTop(bits, h, lineBytes, int64_t{area.X} - x, row - y), area.Width);
  }
  return true;
}

}  // namespace ostrane::platform::wayland
