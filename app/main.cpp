// Program body: connect to the desktop, read the screen size once, run.
#include <cstdio>
#include <string>

#include "engine/BitmapData.h"
#include "platform/x11/X11Desktop.h"

int main() {
  std::string error;
  auto desktop = ostrane::platform::x11::X11Desktop::Open(nullptr, error);
  if (!desktop) {
    std::fprintf(stderr, "ostrane: %s\n", error.c_str());
    return 1;
  }
  ostrane::platform::SetActiveDesktop(desktop.get());
  ostrane::InitScreenMetrics();
  std::printf("Ostrane 1.4 on a %dx%d screen\n", ostrane::ScreenMetrics.Width,
              ostrane::ScreenMetrics.Height);
  ostrane::platform::SetActiveDesktop(nullptr);
  return 0;
}
