#include "platform/Desktop.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace ostrane::platform {

namespace {
Desktop* g_active = nullptr;
}  // namespace

ScreenArea PrepareCapture(const ScreenSize& screen, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint8_t* bits, int32_t lineBytes) {
  return PrepareCapture(ScreenArea{0, 0, screen.Width, screen.Height}, x, y, w, h, bits, lineBytes);
}

ScreenArea PrepareCapture(const ScreenArea& bounds, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint8_t* bits, int32_t lineBytes) {
  // 64-bit bounds: x + w and the like overflow 32 bits for rectangles far off the screen.
  const int64_t x0 = std::max<int64_t>(x, bounds.X);
  const int64_t y0 = std::max<int64_t>(y, bounds.Y);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + w, int64_t{bounds.X} + bounds.Width);
  const int64_t y1 = std::min<int64_t>(int64_t{y} + h, int64_t{bounds.Y} + bounds.Height);
  const bool inside = x0 == x && y0 == y && x1 == int64_t{x} + w && y1 == int64_t{y} + h;
  if (!inside) {
    std::memset(bits, 0, static_cast<size_t>(lineBytes) * static_cast<size_t>(h));
  } else if (lineBytes > 3 * w) {
    for (int32_t r = 0; r < h; ++r) {
      std::memset(bits + static_cast<ptrdiff_t>(r) * lineBytes + 3 * static_cast<ptrdiff_t>(w), 0,
                  static_cast<size_t>(lineBytes - 3 * w));
    }
  }
  if (x1 <= x0 || y1 <= y0) return {};
  return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
          static_cast<int32_t>(y1 - y0)};
}

bool CaptureFrameByCapture(Desktop& desktop, Frame& frame) {
  const ScreenSize size = desktop.GetScreenSize();
  if (size.Width <= 0 || size.Height <= 0) return false;
  frame.Width = size.Width;
  frame.Height = size.Height;
  frame.LineBytes = static_cast<int32_t>(RowBytes(size.Width));
  frame.Bits.assign(static_cast<size_t>(frame.LineBytes) * static_cast<size_t>(size.Height), 0);
  return desktop.Capture(0, 0, size.Width, size.Height, frame.Bits.data(), frame.LineBytes) ==
         CaptureResult::Ok;
}

Desktop& ActiveDesktop() {
  if (!g_active) throw std::logic_error("no desktop installed");
  return *g_active;
}

void SetActiveDesktop(Desktop* desktop) {
  g_active = desktop;
}

bool HasActiveDesktop() {
  return g_active != nullptr;
}

ScopedActiveDesktop::ScopedActiveDesktop(Desktop& desktop) : previous_(g_active) {
  g_active = &desktop;
}

ScopedActiveDesktop::~ScopedActiveDesktop() {
  g_active = previous_;
}

}  // namespace ostrane::platform
