// Opening web and mail addresses on the display the desktop is connected to.
#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "platform/posix/Opener.h"
#include "platform/x11/X11Desktop.h"

namespace ostrane::platform::x11 {

bool X11Desktop::ShellOpen(const std::string& target) {
  // The opener shows its window on the display this desktop is connected to.
  return posix::OpenWithDesktopOpener(target, opener_,
                                      {std::string("DISPLAY=") + DisplayString(display())});
}

}  // namespace ostrane::platform::x11
