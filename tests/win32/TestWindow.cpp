#include "tests/win32/TestWindow.h"

namespace ostrane::testkit {

namespace {

constexpr char kClassName[] = "OstraneTestWindow";

void RegisterClassOnce(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
}

}  // namespace

Win32TestWindow::Win32TestWindow(int x, int y, int w, int h, std::vector<uint32_t> pixels,
                                 const std::string& title)
    : width_(w), height_(h), pixels_(std::move(pixels)) {
  pixels_.resize(static_cast<size_t>(w) * h);
  RegisterClassOnce(&Procedure);
  window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, title.c_str(), WS_POPUP,
                            x, y, w, h, nullptr, nullptr, GetModuleHandleA(nullptr), this);
  if (!window_) return;
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  UpdateWindow(window_);
}

Win32TestWindow::~Win32TestWindow() {
  if (!window_) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  PumpFor(0);
}

std::vector<MouseMessage> Win32TestWindow::Mouse(UINT message) const {
  std::vector<MouseMessage> out;
  for (const MouseMessage& m : mouse_)
    if (m.message == message) out.push_back(m);
  return out;
}

void Win32TestWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top row first, as the pixels are kept
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, 0, 0, width_, height_, 0, 0, 0, height_, pixels_.data(), &info,
                    DIB_RGB_COLORS);
  EndPaint(window_, &ps);
}

LRESULT CALLBACK Win32TestWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self) {
    switch (message) {
      case WM_ERASEBKGND:
        return 1;
      case WM_PAINT:
        self->Paint();
        return 0;
      case WM_MOUSEMOVE:
      case WM_LBUTTONDOWN:
      case WM_LBUTTONUP:
        self->mouse_.push_back(
            {message, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return 0;
      case WM_MOUSEACTIVATE:
        return MA_ACTIVATE;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs,
               const std::function<bool(const MSG&)>& filter) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (filter && filter(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done && done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

void PumpFor(int ms, const std::function<bool(const MSG&)>& filter) {
  PumpUntil({}, ms, filter);
}

UnixSpawn HostSpawn() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  // Through a generic pointer: FARPROC is not meant to be cast to the real type directly.
  const auto address = reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp"));
  return reinterpret_cast<UnixSpawn>(address);
}

bool TypeKeys(const Win32TestWindow& window, const std::vector<std::string>& keys) {
  const UnixSpawn spawn = HostSpawn();
  const auto xid =
      reinterpret_cast<uintptr_t>(GetPropA(window.Handle(), "__wine_x11_whole_window"));
  if (!spawn || !xid) return false;
  std::vector<std::string> args = {"xdotool", "key", "--window", std::to_string(xid)};
  args.insert(args.end(), keys.begin(), keys.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return spawn(argv.data(), 1) == 0;
}

}  // namespace ostrane::testkit
