#include "platform/NativeDesktop.h"

#include "platform/win32/Win32Desktop.h"

namespace ostrane::platform {

std::unique_ptr<Desktop> OpenNativeDesktop(std::string& error) {
  auto desktop = std::make_unique<win32::Win32Desktop>();
  // A session without a desktop (a service, a locked-down station) has no screen to read.
  const ScreenSize size = desktop->GetScreenSize();
  if (size.Width <= 0 || size.Height <= 0) {
    error = "no interactive desktop: the screen size is unknown";
    return nullptr;
  }
  return desktop;
}

}  // namespace ostrane::platform
