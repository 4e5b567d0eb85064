// A private X server for tests and benchmarks, started by scripts/private-x (as the scripts and the
// demonstration start theirs: Xvfb at depth 24 on a free display number, -noreset, optionally a
// window manager) and stopped when the object goes away.
#pragma once

#include <sys/types.h>

#include <string>

namespace ostrane::testkit {

class PrivateX {
 public:
  // Starts the server; on success Display() names it. `screen` is "WIDTHxHEIGHT".
  explicit PrivateX(const std::string& screen = "1920x1080", bool windowManager = false);
  ~PrivateX();
  PrivateX(const PrivateX&) = delete;
  PrivateX& operator=(const PrivateX&) = delete;

  bool Running() const { return server_ > 0; }
  const std::string& Display() const { return display_; }
  // Why the server did not start; empty when it did.
  const std::string& Error() const { return error_; }
  // Ends the server at once with `signal`, as a crash or an administrator would, and waits for it
  // to be gone.
  void Kill(int signal);

 private:
  // The script's wait status.
  int Stop();

  pid_t runner_ = -1;  // scripts/private-x
  pid_t server_ = -1;  // the Xvfb it started
  // The command the script runs on the server lives until this end of its input is closed.
  int lifeline_ = -1;
  std::string display_;
  std::string error_;
};

}  // namespace ostrane::testkit
