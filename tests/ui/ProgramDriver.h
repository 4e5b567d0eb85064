// Runs the real program on the tests' X server and drives it from outside, as a user would:
// xdotool for the pointer and keyboard, the program's status file for what its window shows.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace ostrane::ui::testkit {

struct Point {
  int X = 0;
  int Y = 0;
};

class ProgramDriver {
 public:
  // Starts the program with the given extra environment ("NAME=value" pairs).
  explicit ProgramDriver(const std::map<std::string, std::string>& environment = {});
  ~ProgramDriver();
  ProgramDriver(const ProgramDriver&) = delete;
  ProgramDriver& operator=(const ProgramDriver&) = delete;

  // Waits for the main window to be mapped; false on time-out or if the program died.
  bool WaitForWindow(int timeoutMs = 10000);
  bool Alive();
  // The exit status once it ended: -1 while running, 128 + the signal when a signal ended it.
  int ExitStatus() const { return exitStatus_; }
  // Waits for the program to end by itself; false on time-out.
  bool WaitForExit(int timeoutMs);
  // What the program wrote on stderr so far (also copied to the test's stderr at the end).
  std::string StandardError() const;

  // The main window's client area origin on the screen (below the menu bar).
  Point ClientOrigin() const { return client_; }
  unsigned long WindowId() const { return window_; }

  // What the window shows: "count", "running", "find", "click".
  std::map<std::string, std::string> Status() const;
  // Waits until `key` shows `value`.
  bool WaitForStatus(const std::string& key, const std::string& value, int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::string statusFile_;
  std::string errorFile_;
  unsigned long window_ = 0;
  Point client_;
};

// Runs xdotool with the given arguments on the tests' display; true when it succeeded.
bool Xdotool(const std::string& arguments);
// Its standard output.
std::string XdotoolOutput(const std::string& arguments);

}  // namespace ostrane::ui::testkit
