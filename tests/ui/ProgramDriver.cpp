#include "tests/ui/ProgramDriver.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace ostrane::ui::testing {

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
  pid_ = fork();
  if (pid_ == 0) {
    setenv("OSTRANE_STATUS_FILE", statusFile_.c_str(), 1);
    for (const auto& [key, value] : environment)
      setenv(key.c_str(), value.c_str(), 1);
    execl(OSTRANE_PROGRAM, OSTRANE_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
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
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline && Alive()) {
    const std::string ids = XdotoolOutput("search --onlyvisible --name '^Ostrane 1.4$'");
    if (!ids.empty()) {
      window_ = std::stoul(ids);
      std::istringstream geometry(
          XdotoolOutput("getwindowgeometry --shell " + ids.substr(0, ids.find('\n'))));
      std::map<std::string, int> values;
      for (std::string line; std::getline(geometry, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
      }
      if (values["HEIGHT"] >= kClientHeight) {
        client_ = {values["X"], values["Y"] + values["HEIGHT"] - kClientHeight};
        return Status().count("count") > 0 || WaitForStatus("running", "0", 3000);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

}  // namespace ostrane::ui::testing
