// For scripts and tests that drive the real program from outside: with OSTRANE_STATUS_FILE set,
// the program keeps a small text file with what its main window shows, rewritten whenever that
// changes. One "key=value" line each:
//   count, running          the counter's text and whether the pass timer runs (1 or 0)
//   find, click             the four scope edits of each group, as typed
//   origin                  the client area's top-left corner below the menu bar
//   about, help             the centres of the two menu items
//   hotkeys                 how many F9 and F10 presses reached the window, "F9,F10"
//   status                  the status line's text
//   message                 the text of the message box open now, if any
// Positions are screen pixels, whatever scaling Qt applies to the windows.
#pragma once

namespace ostrane::ui {

class TfmMian;

// Does nothing unless OSTRANE_STATUS_FILE names a file. `window` must outlive the report.
void StartStatusReport(TfmMian& window);

}  // namespace ostrane::ui
