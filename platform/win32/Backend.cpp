#include "platform/Backend.h"
#include "platform/win32/Win32Desktop.h"

namespace ostrane::platform {

namespace {

bool Suits(std::string& why) {
  why = "the Windows desktop";
  return true;
}

std::unique_ptr<Desktop> Open(std::string& error) {
  auto desktop = std::make_unique<win32::Win32Desktop>();
  // A session without a desktop (a service, a locked-down station) has no screen to read.
  const ScreenSize size = desktop->GetScreenSize();
  if (size.Width <= 0 || size.Height <= 0) {
    error = "no interactive desktop: the screen size is unknown";
    return nullptr;
  }
  return desktop;
}

}  // namespace

const BackendEntry& Backend_win32() {
  // The toolkit scales the windows; the system still reports screen pixels, since the program
  // is aware of each monitor's scaling.
  static const BackendEntry entry{"win32", Suits, 10, Open, "windows", false};
  return entry;
}

}  // namespace ostrane::platform
