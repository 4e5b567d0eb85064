// The Windows desktop: GDI for the screen, user32 for input and hot keys, shell32 for opening
// addresses. The header stays free of <windows.h>, so that window code including it does not
// inherit the Windows macros; native handles travel as integers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace ostrane::platform::win32 {

// The hot-key message and the virtual key it carries in the high word of lParam. The
// identifier in wParam is not needed: the key itself says what to do.
constexpr uint32_t kHotKeyMessage = 0x0312;  // WM_HOTKEY
bool DecodeHotKeyMessage(uint32_t message, intptr_t lParam, int32_t& virtualKey);

class Win32Desktop : public Desktop {
 public:
  Win32Desktop() = default;
  ~Win32Desktop() override;
  Win32Desktop(const Win32Desktop&) = delete;
  Win32Desktop& operator=(const Win32Desktop&) = delete;

  ScreenSize GetScreenSize() override;
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  void MovePointer(int32_t x, int32_t y) override;
  void LeftButtonDown(int32_t dx, int32_t dy) override;
  void LeftButtonUp(int32_t dx, int32_t dy) override;
  bool CaptureFrame(Frame& frame) override;

  // `nativeWindow` is an HWND. Hot keys registered before a change of owner stay with the old
  // window, so they are released first.
  void SetOwnerWindow(uintptr_t nativeWindow) override;
  uint16_t AddGlobalAtom(const std::string& name) override;
  bool RegisterHotKey(int32_t id, int32_t virtualKey) override;
  void UnregisterHotKey(int32_t id) override;
  bool ShellOpen(const std::string& target) override;

  // Offers one message of the window system's queue (a pointer to a MSG, as a native event
  // filter receives it). A hot-key message for the owner window is passed to DeliverHotKey and
  // the answer is true: the message has been handled. Anything else is left alone.
  bool HandleNativeMessage(const void* message);

 private:
  void UnregisterAll();

  // Identifiers registered for the owner window; released when the owner changes and when the
  // desktop goes away.
  std::vector<int32_t> registered_;
};

}  // namespace ostrane::platform::win32
