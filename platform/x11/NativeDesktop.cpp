#include "platform/NativeDesktop.h"

#include "platform/x11/X11Desktop.h"

namespace ostrane::platform {

std::unique_ptr<Desktop> OpenNativeDesktop(std::string& error) {
  return x11::X11Desktop::Open(nullptr, error);
}

}  // namespace ostrane::platform
