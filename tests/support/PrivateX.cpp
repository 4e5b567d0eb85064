#include "tests/support/PrivateX.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace ostrane::testkit {

namespace {

using Clock = std::chrono::steady_clock;

// The script reports the display and the server's process on its command's output, then the
// command waits for its input to end: that is the server's lifetime.
constexpr char kReport[] = "echo \"$DISPLAY $PRIVATE_X_PID\"; exec cat >/dev/null";

// Whether `pid` is gone within `ms`: a process of another parent is gone once it cannot be
// signalled or is a zombie.
bool GoneWithin(pid_t pid, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (kill(pid, 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (std::getline(stat, line)) {
      const auto close = line.rfind(')');
      if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z')
        return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Collects our child `pid` within `ms`; false when it is still running.
bool ReapedWithin(pid_t pid, int ms, int& status) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

PrivateX::PrivateX(const std::string& screen, bool windowManager) {
  // Everything the child needs is made before fork: a test program may run threads.
  std::vector<const char*> argv = {OSTRANE_PRIVATE_X, "--screen", screen.c_str()};
  if (windowManager) argv.push_back("--wm");
  for (const char* a : {"--", "sh", "-c", kReport})
    argv.push_back(a);
  argv.push_back(nullptr);

  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    error_ = "pipe failed";
    return;
  }
  runner_ = fork();
  if (runner_ == 0) {
    // A test program that crashes or is killed must not leave its server behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(input[0], 0);
    dup2(output[1], 1);
    execv(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  lifeline_ = input[1];
  if (runner_ < 0) {
    close(output[0]);
    error_ = "fork failed";
    return;
  }

  std::string report;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    pollfd p{output[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(output[0], &c, 1) != 1 || c == '\n') break;
    report += c;
  }
  close(output[0]);
  std::istringstream fields(report);
  std::string display;
  pid_t server = -1;
  if (fields >> display >> server && display.size() > 1 && display[0] == ':' && server > 0) {
    display_ = display;
    server_ = server;
    return;
  }
  const int status = Stop();
  const std::string script = OSTRANE_PRIVATE_X;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    error_ = "could not run " + script;
  } else {
    error_ = script + " started no X server (its reasons are above)";
  }
}

PrivateX::~PrivateX() {
  Stop();
}

void PrivateX::Kill(int signal) {
  if (server_ <= 0) return;
  kill(server_, signal);
  GoneWithin(server_, 5000);
  server_ = -1;
}

int PrivateX::Stop() {
  if (lifeline_ >= 0) {
    close(lifeline_);
    lifeline_ = -1;
  }
  int status = 0;
  if (runner_ <= 0) return status;
  // With its command's input closed the script stops the server and returns; a script that does
  // not is told to, then ended.
  if (!ReapedWithin(runner_, 10000, status)) {
    kill(runner_, SIGTERM);
    if (!ReapedWithin(runner_, 5000, status)) {
      kill(runner_, SIGKILL);
      if (server_ > 0) kill(server_, SIGKILL);
      waitpid(runner_, &status, 0);
    }
  }
  runner_ = -1;
  server_ = -1;
  return status;
}

}  // namespace ostrane::testkit
