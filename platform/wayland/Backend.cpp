#include <cstdlib>
#include <cstring>

#include "platform/Backend.h"
#include "platform/wayland/OutputSize.h"
#include "platform/wayland/WaylandDesktop.h"

namespace ostrane::platform {

namespace {

bool Suits(std::string& why) {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (type && std::strcmp(type, "wayland") == 0) {
    why = "XDG_SESSION_TYPE is wayland";
    return true;
  }
  if (display && *display) {
    why = std::string("WAYLAND_DISPLAY is ") + display;
    return true;
  }
  why = "not a Wayland session";
  return false;
}

std::unique_ptr<Desktop> Open(std::string& error) {
  // Without the compositor there is no screen; the portal is asked for only when needed.
  if (wayland::FirstOutputSize(error).Width <= 0) return nullptr;
  return std::make_unique<wayland::WaylandDesktop>();
}

}  // namespace

const BackendEntry& Backend_wayland() {
  // Preferred to X11 on a Wayland session, where an X client sees only other X clients. The
  // windows scale with the monitor; the picker maps them back to screen pixels. Without Qt's
  // Wayland plugin the windows can still show through Xwayland.
  static const BackendEntry entry{"wayland", Suits, 20, Open, "wayland;xcb", false};
  return entry;
}

}  // namespace ostrane::platform
