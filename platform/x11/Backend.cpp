#include <cstdlib>

#include "platform/Backend.h"
#include "platform/x11/X11Desktop.h"

namespace ostrane::platform {

namespace {

bool Suits(std::string& why) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    why = "DISPLAY is not set";
    return false;
  }
  why = std::string("DISPLAY is ") + display;
  return true;
}

std::unique_ptr<Desktop> Open(std::string& error) {
  return x11::X11Desktop::Open(nullptr, error);
}

}  // namespace

const BackendEntry& Backend_x11() {
  // X reports screen pixels and so does the window system: the toolkit must not scale.
  static const BackendEntry entry{"x11", Suits, 10, Open, "xcb", true};
  return entry;
}

}  // namespace ostrane::platform
