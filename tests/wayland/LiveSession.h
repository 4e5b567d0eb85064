// What the live tests inside scripts/wayland-session share: Qt's events pumped while they wait,
// the consent helper answering the portal's dialog, and an event loop for the backend.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Desktop.h"

extern char** environ;

namespace ostrane::platform::wayland::livetest {

inline void Pump() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Pumps Qt's events until `done` or the time is up.
template <typename Done>
bool PumpUntil(Done done, std::chrono::steady_clock::duration limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The consent helper (OSTRANE_CONSENT_HELPER), run in the background while a session starts.
struct Helper {
  pid_t Pid = 0;
  bool Ended = false;
  bool Succeeded = false;

  void Start(bool refuse = false) {
    const char* path = std::getenv("OSTRANE_CONSENT_HELPER");
    if (!path || !*path) return;
    char* argv[] = {const_cast<char*>(path), const_cast<char*>("--timeout"),
                    const_cast<char*>("30"), refuse ? const_cast<char*>("--refuse") : nullptr,
                    nullptr};
    Ended = Succeeded = false;
    if (posix_spawn(&Pid, path, nullptr, nullptr, argv, environ) != 0) Pid = 0;
  }
  // True once it has ended (or was never started).
  bool Poll() {
    if (Pid <= 0 || Ended) return true;
    int status = 0;
    if (waitpid(Pid, &status, WNOHANG) != Pid) return false;
    Ended = true;
    Succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return true;
  }
  // Waits for it to end, so that its own pointer is out of the way.
  bool Finish() {
    if (Pid <= 0) return true;
    if (!PumpUntil([&] { return Poll(); }, std::chrono::seconds(40))) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
      Ended = true;
    }
    return Succeeded;
  }
};

// The program's loop as the backend sees it, on Qt's: descriptors watched by socket notifiers,
// idle work run by ProcessPending, which also runs `During` (what a test does meanwhile).
class QtTestLoop : public EventLoop {
 public:
  void WatchReadable(int fd, std::function<void()> readable) override {
    if (fd < 0) return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &owner_);
    QObject::connect(notifier, &QSocketNotifier::activated, &owner_,
                     [readable = std::move(readable)] { readable(); });
  }
  void OnIdle(std::function<void()> work) override { idle_.push_back(std::move(work)); }
  void FilterNativeMessages(const char*, std::function<bool(const void*)>) override {}
  void ProcessPending() override {
    Pump();
    for (const auto& work : idle_)
      work();
    if (During) During();
  }

  std::function<void()> During;

 private:
  QObject owner_;
  std::vector<std::function<void()>> idle_;
};

}  // namespace ostrane::platform::wayland::livetest
