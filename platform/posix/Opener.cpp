// Opening web and mail addresses: the desktop's opener runs in a grandchild process, so it is
// never left as a zombie and the caller never waits for a browser.
#include "platform/posix/Opener.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace ostrane::platform::posix {

namespace {

// Where execvp would look for `program`, worked out before forking: after fork only
// async-signal-safe calls are allowed.
std::vector<std::string> Candidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // An empty entry means the current directory.
    out.push_back((dir.empty() ? std::string(".") : dir) + "/" + program);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

void WriteAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

bool SpawnDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> candidates = Candidates(argv[0]);
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (pipe(report) != 0) return false;
  // Close-on-exec set before the fork, as POSIX allows (pipe2 is not POSIX).
  for (const int fd : report) {
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      close(report[0]);
      close(report[1]);
      return false;
    }
  }
  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    close(report[0]);
    const pid_t grandchild = fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int error = errno;
        WriteAll(report[1], &error, sizeof error);
      }
      _exit(0);
    }
    setsid();  // out of the caller's session: a terminal closing does not take it along
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      if (devnull > 2) close(devnull);
    }
    int error = ENOENT;
    for (const auto& c : candidates) {
      execve(c.c_str(), args.data(), envp.data());
      if (errno != ENOENT && errno != ENOTDIR) error = errno;
    }
    WriteAll(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return n == 0;
}

bool OpenWithDesktopOpener(const std::string& target, std::vector<std::string> opener,
                           const std::vector<std::string>& setEnv) {
  // An empty target, or one an opener would read as an option, opens nothing.
  if (target.empty() || target[0] == '-' || target.find('\0') != std::string::npos) return false;
  std::vector<std::string> argv = std::move(opener);
  if (argv.empty()) {
    const char* named = std::getenv("OSTRANE_OPENER");
    argv.push_back(named && *named ? named : "xdg-open");
  }
  if (argv[0].empty()) return false;
  argv.push_back(target);

  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    const size_t nameLength = eq ? static_cast<size_t>(eq - *e) + 1 : std::strlen(*e);
    bool replaced = false;
    for (const std::string& s : setEnv)
      replaced |= s.compare(0, nameLength, *e, nameLength) == 0;
    if (!replaced) env.emplace_back(*e);
  }
  env.insert(env.end(), setEnv.begin(), setEnv.end());
  return SpawnDetached(argv, env);
}

}  // namespace ostrane::platform::posix
