#include "tests/support/Xvfb.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace ostrane::testkit {

XvfbServer::XvfbServer(const std::string& size) {
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = "pipe failed";
    return;
  }
  const std::string fdText = std::to_string(fds[1]);
  const std::string screen = size + "x24";
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    // A test program that crashes or is killed must not leave its server behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Quiet: the server's start-up chatter would drown the test output.
    if (!std::getenv("OSTRANE_XVFB_VERBOSE")) {
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(), "-noreset",
           "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    error_ = "fork failed";
    return;
  }
  // The server writes its display number once it accepts connections.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    const ssize_t n = read(fds[0], &c, 1);
    if (n <= 0) break;
    if (c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    error_ = "Xvfb did not start (is the xvfb package installed?)";
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return;
  }
  display_ = ":" + number;
}

XvfbServer::~XvfbServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    usleep(20000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
}

void XvfbServer::Kill(int signal) {
  if (pid_ <= 0) return;
  kill(pid_, signal);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

namespace {

std::unique_ptr<XvfbServer> g_server;
std::string g_size = "1920x1080";

class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_server = std::make_unique<XvfbServer>(g_size);
    if (g_server->Running()) setenv("DISPLAY", g_server->Display().c_str(), 1);
  }
  void TearDown() override { g_server.reset(); }
};

}  // namespace

void RegisterXvfbEnvironment(const std::string& size) {
  g_size = size;
  ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);
}

bool XvfbAvailable() {
  return g_server && g_server->Running();
}

const std::string& XvfbDisplay() {
  static const std::string none;
  return g_server ? g_server->Display() : none;
}

}  // namespace ostrane::testkit
