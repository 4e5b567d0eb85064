#include "tests/ui/ProgramDriver.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "ostrane/Version.h"

namespace ostrane::ui::testkit {

namespace {

using Clock = std::chrono::steady_clock;

// The menu bar above the client area: the window's height less the client's 324 rows.
constexpr int kClientHeight = 324;

}  // namespace

bool Xdotool(const std::string& arguments) {
  const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::string XdotoolOutput(const std::string& arguments) {
  const std::string command = "xdotool " + arguments + " 2>/dev/null";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
      out += buffer;
    pclose(pipe);
  }
  return out;
}

ProgramDriver::ProgramDriver(const std::map<std::string, std::string>& environment) {
  char name[] = "/tmp/ostrane-status-XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  statusFile_ = name;
  char errors[] = "/tmp/ostrane-stderr-XXXXXX";
  const int errorFd = mkstemp(errors);
  if (errorFd >= 0) errorFile_ = errors;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a killed test
    if (errorFd >= 0) {
      dup2(errorFd, STDERR_FILENO);
      close(errorFd);
    }
    setenv("OSTRANE_STATUS_FILE", statusFile_.c_str(), 1);
    // The tests' own X server, even when they run inside a Wayland session.
    setenv("OSTRANE_BACKEND", "x11", 1);
    for (const auto& [key, value] : environment)
      setenv(key.c_str(), value.c_str(), 1);
    execl(OSTRANE_PROGRAM, OSTRANE_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (errorFd >= 0) close(errorFd);
}

ProgramDriver::~ProgramDriver() {
  if (pid_ > 0 && Alive()) {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && Alive(); ++i)
      usleep(20000);
    if (Alive()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (!statusFile_.empty()) unlink(statusFile_.c_str());
  if (!errorFile_.empty()) {
    const std::string errors = StandardError();
    if (!errors.empty()) std::fprintf(stderr, "[program's stderr]\n%s", errors.c_str());
    unlink(errorFile_.c_str());
  }
}

bool ProgramDriver::WaitForExit(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Alive()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ProgramDriver::StandardError() const {
  std::ifstream in(errorFile_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ProgramDriver::Alive() {
  if (pid_ <= 0) return false;
  if (exitStatus_ != -1) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

bool ProgramDriver::WaitForWindow(int timeoutMs) {
  // xwininfo gives the absolute position of the client window also when a window manager has
  // put it into a frame (xdotool's geometry does not).
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline && Alive()) {
    std::string info;
    if (FILE* pipe = popen("xwininfo -name '" OSTRANE_TITLE "' 2>/dev/null", "r")) {
      char buffer[256];
      while (fgets(buffer, sizeof buffer, pipe))
        info += buffer;
      pclose(pipe);
    }
    auto field = [&](const std::string& name) -> long {
      const auto at = info.find(name);
      return at == std::string::npos ? -1
                                     : std::strtol(info.c_str() + at + name.size(), nullptr, 0);
    };
    const auto idAt = info.find("Window id: ");
    if (idAt != std::string::npos && info.find("IsViewable") != std::string::npos &&
        field("Height:") >= kClientHeight) {
      window_ = std::strtoul(info.c_str() + idAt + 11, nullptr, 0);
      // The client area's origin as the program reports it, once that report is of the
      // window where it is now: a status line below the client makes the window taller, so
      // the height alone does not tell where the menu bar ends.
      const int left = static_cast<int>(field("Absolute upper-left X:"));
      const int top = static_cast<int>(field("Absolute upper-left Y:"));
      const int menuMost = static_cast<int>(field("Height:")) - kClientHeight;
      int x = 0, y = 0;
      if (std::sscanf(Status()["origin"].c_str(), "%d,%d", &x, &y) == 2 && x == left && y >= top &&
          y <= top + menuMost) {
        client_ = {x, y};
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (Clock::now() >= deadline)
      std::fprintf(stderr, "main window not found:\n%s\n", info.c_str());
  }
  return false;
}

std::map<std::string, std::string> ProgramDriver::Status() const {
  std::map<std::string, std::string> values;
  std::ifstream in(statusFile_);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

bool ProgramDriver::WaitForStatus(const std::string& key, const std::string& value, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    const auto status = Status();
    const auto it = status.find(key);
    if (it != status.end() && it->second == value) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace ostrane::ui::testkit
