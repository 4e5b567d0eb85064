// The Windows desktop: GDI for the screen, user32 for input and hot keys, shell32 for opening
// addresses. The header stays free of <windows.h>, so that window code including it does not
// inherit the Windows macros; native handles travel as integers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/Desktop.h"

namespace ostrane::platform::win32 {

// The hot-key message and the virtual key it carries in the high word of lParam. The
// identifier in wParam is not needed: the key itself says what to do.
constexpr uint32_t kHotKeyMessage = 0x0312;  // WM_HOTKEY
bool DecodeHotKeyMessage(uint32_t message, intptr_t lParam, int32_t& virtualKey);

// The virtual-key code of a key (VK_F1..VK_F24), 0 for none; and back, Key::NoKey for a code
// that names no such key.
int32_t VirtualKeyOf(Key key);
Key KeyOfVirtualKey(int32_t virtualKey);

class Win32Desktop : public Desktop {
 public:
  Win32Desktop() = default;
  ~Win32Desktop() override;
  Win32Desktop(const Win32Desktop&) = delete;
  Win32Desktop& operator=(const Win32Desktop&) = delete;

  ScreenSize GetScreenSize() override;
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  bool MovePointer(int32_t x, int32_t y) override;
  // mouse_event gives no answer: the buttons always report taken.
  bool LeftButtonDown() override;
  bool LeftButtonUp() override;
  bool CaptureFrame(Frame& frame) override;

  // Hot-key messages reach the owner window through the loop's native messages.
  void JoinEventLoop(EventLoop& loop) override;
  void LeaveEventLoop() override { joined_ = false; }

  // `nativeWindow` is an HWND. Hot keys registered before a change of owner stay with the old
  // window, so they are released first.
  void SetOwnerWindow(uintptr_t nativeWindow) override;
  uintptr_t OwnerWindow() const { return owner_; }
  // The global atom of a name, the same for the same name; 0 for a name it cannot be made of.
  // Each call takes a reference in the session's atom table, given back with GlobalDeleteAtom.
  uint16_t AddGlobalAtom(const std::string& name);
  // The key is registered for the owner window under the global atom of `name`.
  bool RegisterHotKey(const std::string& name, Key key) override;
  void UnregisterHotKey(const std::string& name) override;
  void SetHotKeyHandler(std::function<void(Key)> handler) override {
    handler_ = std::move(handler);
  }
  bool ShellOpen(const std::string& target) override;

  // Offers one message of the window system's queue (a pointer to a MSG, as a native event
  // filter receives it). A hot-key message for the owner window goes to the hot-key handler
  // and the answer is true: the message has been handled. Anything else is left alone.
  bool HandleNativeMessage(const void* message);

 private:
  // Gives up a registered key and its atom's reference.
  void Release(int32_t atom);
  void UnregisterAll();

  uintptr_t owner_ = 0;
  bool joined_ = false;
  std::function<void(Key)> handler_;
  // Atoms registered for the owner window, by name; released (the key and the atom) when the
  // owner changes and when the desktop goes away.
  std::map<std::string, int32_t> registered_;
};

}  // namespace ostrane::platform::win32
