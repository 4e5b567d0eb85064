// A private Xvfb server for tests: started on a free display number chosen by the server
// itself, at depth 24, and stopped when the object goes away.
#pragma once

#include <string>

#include <sys/types.h>

namespace ostrane::testkit {

class XvfbServer {
 public:
  // Starts the server; on success DISPLAY names it. `size` is "WIDTHxHEIGHT".
  explicit XvfbServer(const std::string& size = "1920x1080");
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Running() const { return pid_ > 0 && !display_.empty(); }
  const std::string& Display() const { return display_; }
  const std::string& Error() const { return error_; }
  // Ends the server at once with `signal`, as a crash or an administrator would, and waits for
  // it to be gone.
  void Kill(int signal);

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

// A gtest environment that owns one server for the whole test program and points DISPLAY at it.
// Tests call XvfbAvailable() and skip when the server could not start.
void RegisterXvfbEnvironment(const std::string& size = "1920x1080");
bool XvfbAvailable();
const std::string& XvfbDisplay();

}  // namespace ostrane::testkit
