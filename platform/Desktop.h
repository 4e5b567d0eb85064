// The operating-system operations the engine and the windows need, behind one small interface.
// A backend (X11, Win32, or the in-memory desktop of the tests) implements it; the program
// installs one instance at start-up with SetActiveDesktop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ostrane::platform {

struct ScreenSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

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
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Size of the primary screen in pixels.
  virtual ScreenSize GetScreenSize() = 0;

  // Copies the screen rectangle with top-left corner (x, y) and w x h pixels (w, h > 0) into
  // `bits`: h rows of `lineBytes` bytes each, bottom row first, pixels as blue, green, red.
  // Pixels that lie outside the screen read as 0. Padding bytes at the end of a row may be
  // left untouched.
  virtual CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                int32_t lineBytes) = 0;

  // Moves the pointer to the screen point (x, y).
  virtual void MovePointer(int32_t x, int32_t y) = 0;

  // Left button down and up. They act at the pointer's position; dx and dy are passed along
  // as the Windows call carries them but do not move the pointer.
  virtual void LeftButtonDown(int32_t dx, int32_t dy) = 0;
  virtual void LeftButtonUp(int32_t dx, int32_t dy) = 0;

  // Lets the user interface handle everything queued for it, then returns. The user interface
  // supplies the work with SetMessagePump; without a pump this does nothing.
  void ProcessPendingMessages();
  void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }

  // The freeze-frame: the whole primary screen, its size read afresh. False when it cannot be
  // taken. The default reads the screen through Capture.
  virtual bool CaptureFrame(Frame& frame);

  // The native window that owns hot keys and shell requests (an HWND on Windows); 0 for none.
  virtual void SetOwnerWindow(uintptr_t nativeWindow) { ownerWindow_ = nativeWindow; }
  uintptr_t OwnerWindow() const { return ownerWindow_; }

  // A 16-bit identifier for a name, the same for the same name (a global atom on Windows).
  // The default keeps a table of this process, starting at 0xC000 as Windows does.
  virtual uint16_t AddGlobalAtom(const std::string& name);

  // A system-wide key without modifiers, reported to the hot-key handler whatever window has the
  // focus. Registration fails, harmlessly, when another program holds the key; the default
  // desktop has no such keys.
  virtual bool RegisterHotKey(int32_t id, int32_t virtualKey);
  virtual void UnregisterHotKey(int32_t id);
  void SetHotKeyHandler(std::function<void(int32_t virtualKey)> handler) {
    hotKeyHandler_ = std::move(handler);
  }
  // Called by the backend (or its glue in the user interface) when a registered key is pressed.
  void DeliverHotKey(int32_t virtualKey) {
    if (hotKeyHandler_) hotKeyHandler_(virtualKey);
  }

  // Asks the desktop to open a web or "mailto:" address with its default handler. The answer
  // says only whether the request could be handed over.
  virtual bool ShellOpen(const std::string& target);

 private:
  std::function<void()> pump_;
  std::function<void(int32_t)> hotKeyHandler_;
  std::map<std::string, uint16_t> atoms_;
  uintptr_t ownerWindow_ = 0;
};

// Virtual-key codes of the keys the program registers.
constexpr int32_t kVirtualKeyF9 = 0x78;
constexpr int32_t kVirtualKeyF10 = 0x79;

// The desktop the engine talks to. Not owned; must outlive its use.
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
