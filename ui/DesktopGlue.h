// Joins the desktop backend to Qt: the window system the windows use, and Qt's event loop as the
// backend's EventLoop (descriptors to watch, idle work, native messages).
#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "platform/Backend.h"
#include "platform/Desktop.h"

namespace ostrane::ui {

// Settings that must be made before the application object exists: the window system the
// backend needs, and whether Qt scales the windows.
void PrepareWindowSystem(const platform::BackendEntry& backend);

// Qt's event loop, for one desktop. While it lives it is the loop ProcessMessages runs.
class QtEventLoop : public platform::EventLoop {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  void WatchReadable(int fd, std::function<void()> readable) override;
  void OnIdle(std::function<void()> work) override;
  void FilterNativeMessages(const char* type,
                            std::function<bool(const void* message)> filter) override;
  void ProcessPending() override;

  void RunIdleWork();

 private:
  class NativeFilter;
  QObject owner_;  // parent of the watchers, which go with it
  std::vector<std::function<void()>> idle_;
  std::vector<NativeFilter*> filters_;
  QtEventLoop* previous_;
};

// Lets Qt handle everything queued for it, then the backend's idle work, and returns: what a
// pass does before and after its search.
void ProcessMessages();

}  // namespace ostrane::ui
