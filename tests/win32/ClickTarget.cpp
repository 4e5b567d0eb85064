// A window for the end-to-end test of the real program under Wine: shows a known picture at a
// known place and appends every left-button press it receives to a log, as "X Y" in screen
// pixels, one a line. Ends when its window is closed, when LOG.quit exists, or after ten minutes.
//   click_target X Y W H SEED LOG
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/Pattern.h"
#include "tests/win32/TestWindow.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: click_target X Y W H SEED LOG\n");
    return 2;
  }
  // Screen pixels at any display scaling, as the program under test works in them.
  SetProcessDPIAware();
  const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
  const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
  const auto seed = static_cast<uint32_t>(std::atoi(argv[5]));
  const std::string log = argv[6], quit = log + ".quit";
  ostrane::testkit::Win32TestWindow window(x, y, w, h, ostrane::testkit::Pattern(w, h, seed),
                                           "ostrane click target");
  if (!window.Ok()) return 1;
  size_t written = 0;
  for (int ms = 0; ms < 600000 && IsWindow(window.Handle()); ms += 20) {
    ostrane::testkit::PumpFor(20);
    const auto presses = window.Mouse(WM_LBUTTONDOWN);
    if (presses.size() > written) {
      if (FILE* f = std::fopen(log.c_str(), "ab")) {  // plain line ends for the shell reading it
        for (; written < presses.size(); ++written)
          std::fprintf(f, "%d %d\n", x + presses[written].x, y + presses[written].y);
        std::fclose(f);
      }
    }
    if (FILE* f = std::fopen(quit.c_str(), "r")) {
      std::fclose(f);
      break;
    }
  }
  return 0;
}
