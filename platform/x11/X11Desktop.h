// The desktop of an X server: capture through MIT-SHM (or XGetImage where shared memory is not
// offered), pointer and buttons through XTest, the screen size from the root window.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Desktop.h"

struct _XDisplay;

namespace ostrane::platform::x11 {

class X11Desktop : public Desktop {
 public:
  // Connects to `displayName` (nullptr: the DISPLAY variable). Returns nullptr and a one-line
  // reason in `error` when no display can be reached.
  static std::unique_ptr<X11Desktop> Open(const char* displayName, std::string& error);
  ~X11Desktop() override;

  ScreenSize GetScreenSize() override;
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  bool CaptureFrame(Frame& frame) override { return CaptureFrameByCapture(*this, frame); }
  // A point off the screen moves the pointer to the nearest screen pixel.
  bool MovePointer(int32_t x, int32_t y) override;
  bool LeftButtonDown() override { return Button(true); }
  bool LeftButtonUp() override { return Button(false); }

  // Puts the backend's X error handlers back (the toolkit set its own when it connected),
  // watches the capture connection (a lost server is noticed there first, with our message)
  // and the hot-key connection.
  void JoinEventLoop(EventLoop& loop) override;
  void LeaveEventLoop() override { joined_ = false; }
  void SetOwnerWindow(uintptr_t) override {}  // X grabs need no owner window

  _XDisplay* display() const { return display_; }
  // The capture connection's descriptor. Call DispatchEvents whenever it is readable: it keeps
  // the screen size current, and notices a lost server even while nothing is captured.
  int ConnectionFd() const;
  void DispatchEvents() { KnownScreenSize(); }
  bool SharedMemoryAvailable() const { return useShm_; }
  // Tests turn shared memory off to exercise the XGetImage path.
  void SetUseSharedMemory(bool on) { useShm_ = on && shmOffered_; }
  // Bytes of the shared-memory segment kept between captures; 0 when none is held.
  size_t SharedSegmentBytes() const;
  // Tests capture from a window of their own (0: the root window again), one the server can be
  // made to refuse.
  void SetCaptureSource(unsigned long window) { source_ = window ? window : root_; }

  // Hot keys: F1..F24, grabbed on the root window with no modifiers and with every combination
  // of Caps Lock, Num Lock and Scroll Lock. They live on a second
  // connection of their own: a round trip on the capture connection would pull their events
  // into Xlib's queue, where a watcher of the socket never sees them. A key that cannot be
  // grabbed is named on stderr with the reason ("ostrane: F9 is held by another program"):
  // nothing else would tell the user why it does nothing.
  bool RegisterHotKey(const std::string& name, Key key) override;
  void UnregisterHotKey(const std::string& name) override;
  void SetHotKeyHandler(std::function<void(Key)> handler) override {
    hotKeyHandler_ = std::move(handler);
  }
  // The descriptor to watch for hot-key events (the connection is opened on first use); -1 when
  // it cannot be opened.
  int HotKeyConnectionFd() const;
  // Handles every event waiting on the hot-key connection: each press of a registered key goes
  // to the hot-key handler. Call it whenever the descriptor is readable, and once after registering
  // (registration talks to the server and may queue events read meanwhile).
  void DispatchHotKeyEvents();

  // Hands the target to the desktop's opener ("xdg-open", or the program named by the
  // OSTRANE_OPENER variable) as one argument, without a shell, in a detached process.
  bool ShellOpen(const std::string& target) override;
  // Replaces the opener: the program and its leading arguments; the target is appended. Empty
  // restores the default.
  void SetOpenerCommand(std::vector<std::string> command) { opener_ = std::move(command); }

 private:
  explicit X11Desktop(_XDisplay* display);
  struct Image;
  struct Segment;
  bool EnsureSegment(size_t bytes);
  bool GrabShm(int32_t x, int32_t y, int32_t w, int32_t h, Image& image);
  bool GrabPlain(int32_t x, int32_t y, int32_t w, int32_t h, Image& image);
  ScreenSize KnownScreenSize();
  CaptureResult CaptureOn(const ScreenSize& screen, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint8_t* bits, int32_t lineBytes);
  bool Button(bool press);

  _XDisplay* display_;
  unsigned long root_;
  unsigned long source_;  // the drawable captures read: the root window but in tests
  bool shmOffered_ = false;
  bool useShm_ = false;
  bool xtest_ = false;
  // The root window's size, kept current from its ConfigureNotify events, so a capture needs no
  // round trip to learn it.
  ScreenSize screen_;
  // Kept while captures fit in it, so a pass does not create and attach a segment each time.
  std::unique_ptr<Segment> segment_;

  struct HotKeys;
  struct HotKeysDeleter {
    void operator()(HotKeys* hotKeys) const;
  };
  HotKeys* EnsureHotKeys() const;
  mutable std::unique_ptr<HotKeys, HotKeysDeleter> hotKeys_;
  mutable bool hotKeysTried_ = false;
  std::vector<std::string> opener_;
  std::function<void(Key)> hotKeyHandler_;
  bool joined_ = false;
};

}  // namespace ostrane::platform::x11
