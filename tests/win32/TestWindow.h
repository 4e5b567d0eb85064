// A window of the test's own on the Windows desktop: shows a known picture at a known place and
// records the mouse messages it receives.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ostrane::testkit {

struct MouseMessage {
  UINT message;  // WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP
  int x, y;      // client coordinates
};

class Win32TestWindow {
 public:
  // A borderless top-most window with its client area at (x, y), w x h pixels, showing `pixels`
  // (w * h values 0xRRGGBB, top row first).
  Win32TestWindow(int x, int y, int w, int h, std::vector<uint32_t> pixels,
                  const std::string& title = "ostrane test window");
  ~Win32TestWindow();
  Win32TestWindow(const Win32TestWindow&) = delete;
  Win32TestWindow& operator=(const Win32TestWindow&) = delete;

  bool Ok() const { return window_ != nullptr; }
  HWND Handle() const { return window_; }
  uintptr_t Native() const { return reinterpret_cast<uintptr_t>(window_); }
  const std::vector<MouseMessage>& Mouse() const { return mouse_; }
  // The messages of one kind, in arrival order.
  std::vector<MouseMessage> Mouse(UINT message) const;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND window_ = nullptr;
  int width_, height_;
  std::vector<uint32_t> pixels_;
  std::vector<MouseMessage> mouse_;
};

// Handles this thread's messages until `done` holds or `timeoutMs` has passed; true when done.
// Every message is first offered to `filter`, which may take it (return true) as a native event
// filter of a window toolkit does.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs,
               const std::function<bool(const MSG&)>& filter = {});

// Lets `ms` milliseconds of messages pass.
void PumpFor(int ms, const std::function<bool(const MSG&)>& filter = {});

// Wine runs programs of the host system through this ntdll export; absent on Windows itself.
using UnixSpawn = long(__cdecl*)(char* const argv[], int wait);
UnixSpawn HostSpawn();

// Types `keys` (xdotool key names) into the X window behind `window`. False when that is not
// possible here.
bool TypeKeys(const Win32TestWindow& window, const std::vector<std::string>& keys);

}  // namespace ostrane::testkit
