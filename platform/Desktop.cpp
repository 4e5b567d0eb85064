#include "platform/Desktop.h"

#include <stdexcept>

namespace ostrane::platform {

namespace {
Desktop* g_active = nullptr;
}  // namespace

void Desktop::ProcessPendingMessages() {
  if (pump_) pump_();
}

bool Desktop::CaptureFrame(Frame& frame) {
  const ScreenSize size = GetScreenSize();
  if (size.Width <= 0 || size.Height <= 0) return false;
  frame.Width = size.Width;
  frame.Height = size.Height;
  frame.LineBytes = (size.Width * 3 + 3) & ~3;
  frame.Bits.assign(static_cast<size_t>(frame.LineBytes) * static_cast<size_t>(size.Height), 0);
  return Capture(0, 0, size.Width, size.Height, frame.Bits.data(), frame.LineBytes) ==
         CaptureResult::Ok;
}

uint16_t Desktop::AddGlobalAtom(const std::string& name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end()) return it->second;
  const auto atom = static_cast<uint16_t>(0xC000 + atoms_.size());
  atoms_.emplace(name, atom);
  return atom;
}

bool Desktop::RegisterHotKey(int32_t, int32_t) {
  return false;
}

void Desktop::UnregisterHotKey(int32_t) {}

bool Desktop::ShellOpen(const std::string&) {
  return false;
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
