#include "platform/Desktop.h"

#include <stdexcept>

namespace ostrane::platform {

namespace {
Desktop* g_active = nullptr;
}  // namespace

void Desktop::ProcessPendingMessages() {
  if (pump_) pump_();
}

Desktop& ActiveDesktop() {
  if (!g_active) throw std::logic_error("no desktop installed");
  return *g_active;
}

void SetActiveDesktop(Desktop* desktop) { g_active = desktop; }

bool HasActiveDesktop() { return g_active != nullptr; }

ScopedActiveDesktop::ScopedActiveDesktop(Desktop& desktop) : previous_(g_active) {
  g_active = &desktop;
}

ScopedActiveDesktop::~ScopedActiveDesktop() { g_active = previous_; }

}  // namespace ostrane::platform
