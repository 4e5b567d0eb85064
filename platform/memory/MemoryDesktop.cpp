#include "platform/memory/MemoryDesktop.h"

#include <cstddef>
#include <cstring>

#include "platform/PixelRows.h"

namespace ostrane::platform {

MemoryDesktop::MemoryDesktop(int32_t width, int32_t height, uint32_t fill)
    : width_(width),
      height_(height),
      pixels_(static_cast<size_t>(width) * static_cast<size_t>(height), fill) {}

void MemoryDesktop::SetPixel(int32_t x, int32_t y, uint32_t rgb) {
  if (!GetScreenSize().Contains(x, y)) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = rgb & 0xFFFFFF;
}

uint32_t MemoryDesktop::PixelAt(int32_t x, int32_t y) const {
  if (!ScreenSize{width_, height_}.Contains(x, y)) return 0;
  return pixels_[static_cast<size_t>(y) * width_ + x];
}

void MemoryDesktop::Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb) {
  for (int32_t row = y; row < y + h; ++row)
    for (int32_t col = x; col < x + w; ++col)
      SetPixel(col, row, rgb);
}

CaptureResult MemoryDesktop::Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                     int32_t lineBytes) {
  const int32_t number = CaptureCount++;
  if (DuringCapture) DuringCapture();
  if (cancel_ && cancel_->Cancelled()) return CaptureResult::Cancelled;
  const bool armed = FailOnlyCapture < 0 || FailOnlyCapture == number;
  if (armed && FailCopy) return CaptureResult::CopyFailed;
  if (armed && FailRead) return CaptureResult::ReadFailed;
  for (int32_t row = 0; row < h; ++row) {
    uint8_t* out = RowFromTop(bits, h, lineBytes, row);
    std::memset(out, 0, static_cast<size_t>(lineBytes));
    const int64_t sy = int64_t{y} + row;
    for (int32_t col = 0; col < w; ++col) {
      const int64_t sx = int64_t{x} + col;
      if (!GetScreenSize().Contains(sx, sy)) continue;
      const uint32_t p = pixels_[static_cast<size_t>(sy) * width_ + static_cast<size_t>(sx)];
      out[3 * col] = static_cast<uint8_t>(p);
      out[3 * col + 1] = static_cast<uint8_t>(p >> 8);
      out[3 * col + 2] = static_cast<uint8_t>(p >> 16);
    }
  }
  return CaptureResult::Ok;
}

bool MemoryDesktop::MovePointer(int32_t x, int32_t y) {
  if (RefuseMove) return false;
  PointerX = x;
  PointerY = y;
  Events.push_back({EventKind::Move, x, y});
  return true;
}

bool MemoryDesktop::LeftButtonDown() {
  if (RefuseButton) return false;
  Events.push_back({EventKind::LeftDown, PointerX, PointerY});
  return true;
}

bool MemoryDesktop::LeftButtonUp() {
  if (RefuseButton) return false;
  Events.push_back({EventKind::LeftUp, PointerX, PointerY});
  return true;
}

bool MemoryDesktop::RegisterHotKey(const std::string& name, Key key) {
  HotKeys.erase(name);
  for (const Key held : HeldElsewhere) {
    if (held == key) return false;
  }
  HotKeys[name] = key;
  return true;
}

void MemoryDesktop::PressHotKey(Key key) {
  for (const auto& [name, registered] : HotKeys) {
    if (registered == key && handler_) {
      handler_(key);
      return;
    }
  }
}

}  // namespace ostrane::platform
