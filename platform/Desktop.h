// The operating-system operations the engine and the windows need, behind one small interface.
// A backend (X11, Win32, or the in-memory desktop of the tests) implements it; the backend
// loader (Backends.h) picks and opens the one that suits the session.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ostrane::platform {

struct ScreenSize {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Contains(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
};

// Bytes in one stored row of `width` pixels: three per pixel, padded to a multiple of four.
constexpr int64_t RowBytes(int64_t width) {
  return (width * 3 + 3) & ~int64_t{3};
}

// A picture of the whole screen, in the same layout as a capture: bottom row first, pixels as
// blue, green, red, rows padded to LineBytes (a multiple of 4).
struct Frame {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t LineBytes = 0;
  std::vector<uint8_t> Bits;
};

enum class CaptureResult {
  Ok,
  CopyFailed,  // the screen could not be copied (the block copy of the screen failed)
  ReadFailed,  // the copy was taken but its pixels could not be read out
  Cancelled,   // the pass was cancelled while the capture waited for the screen
};

// Set when a pass must end without acting: Stop, a new Start, picking a scope or the window
// closing, handled while the pass lets events through. Everything runs in one thread.
class CancelFlag {
 public:
  void Cancel() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

 private:
  bool cancelled_ = false;
};

// The keys a program may ask for system-wide: the function keys, without modifiers. Each
// backend maps them to its own key codes.
// clang-format off
enum class Key : int32_t {
  NoKey = 0,
  F1 = 1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  F13, F14, F15, F16, F17, F18, F19, F20, F21, F22, F23, F24,
};
// clang-format on

// The one place that knows which keys are function keys: backends map numbers 1..24 to their
// own codes and take anything else as no key.
constexpr int kFunctionKeyCount = 24;
// The function key with number n (1..24); Key::NoKey for any other n.
constexpr Key FunctionKey(int64_t n) {
  return n >= 1 && n <= kFunctionKeyCount ? static_cast<Key>(n) : Key::NoKey;
}
// The number of a function key (1..24); 0 for Key::NoKey and for any value that names no key.
constexpr int FunctionKeyNumber(Key key) {
  const auto n = static_cast<int32_t>(key);
  return n >= 1 && n <= kFunctionKeyCount ? n : 0;
}

// What a backend needs from the program's event loop to deliver its own events: the user
// interface implements it and hands it over with Desktop::JoinEventLoop.
class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Calls `readable` from the loop whenever the descriptor has data (POSIX descriptors).
  virtual void WatchReadable(int fd, std::function<void()> readable) = 0;
  // Calls `work` whenever the program processes its pending messages and before the loop
  // sleeps: for events a library has already read into a queue of its own, where the
  // descriptor stays silent.
  virtual void OnIdle(std::function<void()> work) = 0;
  // Offers each of the window system's own messages of kind `type`, by the toolkit's name for it
  // ("windows_generic_MSG", a MSG*; "xcb_generic_event_t"), to `filter`, which answers whether
  // it handled the message.
  virtual void FilterNativeMessages(const char* type,
                                    std::function<bool(const void* message)> filter) = 0;
  // Handles what is pending for the program (its windows' events and the idle work above) and
  // returns: for a backend that must wait for something without freezing the windows.
  virtual void ProcessPending() = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Size of the primary screen in pixels, as the backend knows it now.
  virtual ScreenSize GetScreenSize() = 0;

  // Copies the screen rectangle with top-left corner (x, y) and w x h pixels (w, h > 0) into
  // `bits`: h rows of `lineBytes` bytes each, bottom row first, pixels as blue, green, red.
  // Pixels that lie outside the screen read as 0. Padding bytes at the end of a row may be
  // left untouched.
  virtual CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                int32_t lineBytes) = 0;

  // A pass is about to capture: what it captures until EndPass shows the screen as it is at this
  // moment or later. Captures of one pass may share one picture; a desktop that reads the
  // screen straight away needs nothing here. A desktop that waits inside a capture gives up with
  // CaptureResult::Cancelled once `cancel` is set; it must not keep `cancel` past EndPass.
  virtual void BeginPass(const CancelFlag& cancel) { (void)cancel; }
  // The pass has ended, however it ended: a later capture looks at the screen anew.
  virtual void EndPass() {}

  // The freeze-frame: the whole primary screen, its size read afresh. False when it cannot be
  // taken.
  virtual bool CaptureFrame(Frame& frame) = 0;

  // Moves the pointer to the screen point (x, y). False when the system did not take the move.
  virtual bool MovePointer(int32_t x, int32_t y) = 0;
  // The left button, pressed and released where the pointer is; false when the system did not
  // take the event (where the system gives no answer, true).
  virtual bool LeftButtonDown() = 0;
  virtual bool LeftButtonUp() = 0;

  // Reports where the user's pointer is whenever the desktop learns it, from the program's
  // loop; nullptr for none. False where the desktop cannot tell (then nothing is reported).
  // It gives a way to stop that needs no keys where the keys cannot be global.
  virtual bool WatchPointer(std::function<void(int32_t x, int32_t y)> moved) {
    (void)moved;
    return false;
  }

  // Asks for what capture and input need before their first use: on a desktop that grants them
  // per session (a portal), the user's consent. True at once where nothing is needed. False
  // when the user refused or a piece of the desktop is missing, with `message` saying so in
  // the user's words; the next call asks again.
  virtual bool RequestAccess(std::string& message) {
    (void)message;
    return true;
  }

  // Whether registered hot keys reach the program whatever window has the focus. Where they
  // cannot, the windows take the keys themselves while one of them has the focus.
  virtual bool HotKeysAreGlobal() const { return true; }

  // Joins the backend to the program's event loop; `loop` must outlive the desktop's use of it
  // (until LeaveEventLoop). Hot-key presses are delivered from there.
  virtual void JoinEventLoop(EventLoop& loop) = 0;
  virtual void LeaveEventLoop() = 0;

  // The window that owns hot keys and shell requests where the system wants one (an HWND on
  // Windows); 0 for none.
  virtual void SetOwnerWindow(uintptr_t nativeWindow) = 0;

  // A system-wide key without modifiers, reported to the hot-key handler whatever window has
  // the focus. `name` identifies the registration (registering a name again replaces it).
  // Registration fails, harmlessly, when another program holds the key.
  virtual bool RegisterHotKey(const std::string& name, Key key) = 0;
  // Several keys at once, for a desktop that asks the user once for the whole set; whether each
  // was registered, in order.
  struct HotKey {
    std::string Name;
    Key Code = Key::NoKey;
  };
  virtual std::vector<bool> RegisterHotKeys(const std::vector<HotKey>& keys) {
    std::vector<bool> registered;
    for (const HotKey& key : keys)
      registered.push_back(RegisterHotKey(key.Name, key.Code));
    return registered;
  }
  virtual void UnregisterHotKey(const std::string& name) = 0;
  // Receives every press of a registered key; nullptr for none.
  virtual void SetHotKeyHandler(std::function<void(Key)> handler) = 0;

  // Asks the desktop to open a web or "mailto:" address with its default handler. The answer
  // says only whether the request could be handed over.
  virtual bool ShellOpen(const std::string& target) = 0;
};

// The part of a capture rectangle (x, y, w, h) that lies on a screen of size `screen`; empty
// (Width 0) when none does. Before the copy, everything of `bits` (h rows of lineBytes) that the
// part will not fill is zeroed, so that what lies off the screen reads black: all of it when
// the rectangle is not wholly on the screen, else only the padding after each row.
struct ScreenArea {
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};
ScreenArea PrepareCapture(const ScreenSize& screen, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint8_t* bits, int32_t lineBytes);
// The same for a screen that need not begin at (0, 0): `bounds` in the rectangle's coordinates
// (on Windows all monitors together, which may reach left of and above the primary one).
ScreenArea PrepareCapture(const ScreenArea& bounds, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint8_t* bits, int32_t lineBytes);

// A frame of the whole screen read through Capture: for backends without a faster way.
bool CaptureFrameByCapture(Desktop& desktop, Frame& frame);

// The program's desktop, installed by the program body for the windows to use. Not owned; must
// outlive its use. The engine's pass takes its desktop as an argument instead.
Desktop& ActiveDesktop();
void SetActiveDesktop(Desktop* desktop);
bool HasActiveDesktop();

// Installs a desktop for the lifetime of the object and restores the previous one afterwards.
class ScopedActiveDesktop {
 public:
  explicit ScopedActiveDesktop(Desktop& desktop);
  ~ScopedActiveDesktop();
  ScopedActiveDesktop(const ScopedActiveDesktop&) = delete;
  ScopedActiveDesktop& operator=(const ScopedActiveDesktop&) = delete;

 private:
  Desktop* previous_;
};

}  // namespace ostrane::platform
