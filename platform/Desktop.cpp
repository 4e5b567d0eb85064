#include "platform/Desktop.h"

#include <stdexcept>

namespace ostrane::platform {

namespace {
Desktop* g_active = nullptr;
}  // namespace

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
