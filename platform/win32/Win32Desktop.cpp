#include "platform/win32/Win32Desktop.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/PixelRows.h"

namespace ostrane::platform::win32 {

namespace {

// A device context borrowed from a window (GetWindowDC, or GetDC of no window for the whole
// screen); given back with ReleaseDC.
class WindowContext {
 public:
  WindowContext(HWND window, HDC dc) : window_(window), dc_(dc) {}
  ~WindowContext() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowContext(const WindowContext&) = delete;
  WindowContext& operator=(const WindowContext&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

class MemoryContext {
 public:
  explicit MemoryContext(HDC dc) : dc_(dc) {}
  ~MemoryContext() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryContext(const MemoryContext&) = delete;
  MemoryContext& operator=(const MemoryContext&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

class GdiBitmap {
 public:
  GdiBitmap() = default;
  ~GdiBitmap() {
    if (bitmap_) DeleteObject(bitmap_);
  }
  GdiBitmap(const GdiBitmap&) = delete;
  GdiBitmap& operator=(const GdiBitmap&) = delete;
  void reset(HBITMAP bitmap) {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = bitmap;
  }
  HBITMAP get() const { return bitmap_; }

 private:
  HBITMAP bitmap_ = nullptr;
};

// Keeps a bitmap selected into a memory context and puts the previous one back when it ends.
// A bitmap still selected into a context can neither be read with GetDIBits nor deleted.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (Ok()) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool Ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Bytes per row of a 24-bit device-independent bitmap: 3 per pixel, rounded up to 4.
int64_t DibLineBytes(int32_t width) {
  return RowBytes(width);
}

// Where the copied pixels go: a picture of `height` rows of `lineBytes` bytes, bottom row
// first, of which the copy fills the rows from `top` (counted from the top) on, from column
// `column`.
struct Destination {
  uint8_t* bits = nullptr;
  int32_t lineBytes = 0;
  int32_t height = 0;
  int32_t column = 0;
  int32_t top = 0;
};

// Copies the `source` area of w x h pixels with top-left corner (fromX, fromY), which lies on
// the screen, into a bitmap compatible with `source` and reads it out as 24-bit rows into `to`.
// The bitmap is deselected before the result of the copy is looked at; every object taken here
// is released on return (the memory context first, then the bitmap).
CaptureResult CopyAndRead(HDC source, int32_t fromX, int32_t fromY, int32_t w, int32_t h,
                          bool stretch, const Destination& to) {
  GdiBitmap bitmap;
  MemoryContext memory(CreateCompatibleDC(source));
  if (!memory.get()) return CaptureResult::CopyFailed;
  // Compatible with the screen, not with the memory context: that one is monochrome.
  bitmap.reset(CreateCompatibleBitmap(source, w, h));
  if (!bitmap.get()) return CaptureResult::CopyFailed;

  BOOL copied = FALSE;
  {
    Selection selection(memory.get(), bitmap.get());
    if (!selection.Ok()) return CaptureResult::CopyFailed;
    copied = stretch ? StretchBlt(memory.get(), 0, 0, w, h, source, fromX, fromY, w, h, SRCCOPY)
                     : BitBlt(memory.get(), 0, 0, w, h, source, fromX, fromY, SRCCOPY);
  }
  if (!copied) return CaptureResult::CopyFailed;

  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // positive: bottom row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;

  const int64_t dibLine = DibLineBytes(w);
  const auto rows = static_cast<UINT>(h);
  int lines = 0;
  if (to.lineBytes == dibLine && to.column == 0 && to.top == 0 && to.height == h) {
    lines = GetDIBits(source, bitmap.get(), 0, rows, to.bits, &info, DIB_RGB_COLORS);
  } else {
    // Rows of another length than the bitmap's own, or a part of the picture: read into a
    // buffer of the bitmap's layout and copy the pixels row by row, so that the caller's buffer
    // is never overrun and what lies beside the part keeps its black.
    std::vector<uint8_t> buffer;
    try {
      buffer.resize(static_cast<size_t>(dibLine) * static_cast<size_t>(h));
    } catch (const std::bad_alloc&) {
      return CaptureResult::ReadFailed;
    }
    lines = GetDIBits(source, bitmap.get(), 0, rows, buffer.data(), &info, DIB_RGB_COLORS);
    for (int32_t r = 0; r < h && lines == h; ++r) {
      std::memcpy(PixelFromTop(to.bits, to.height, to.lineBytes, to.column, to.top + r),
                  RowFromTop(buffer.data(), h, dibLine, r), 3 * static_cast<size_t>(w));
    }
  }
  // Fewer rows than asked for would leave part of the picture unread.
  return lines == h ? CaptureResult::Ok : CaptureResult::ReadFailed;
}

HWND AsWindow(uintptr_t nativeWindow) {
  return reinterpret_cast<HWND>(nativeWindow);
}

}  // namespace

bool DecodeHotKeyMessage(uint32_t message, intptr_t lParam, int32_t& virtualKey) {
  if (message != kHotKeyMessage) return false;
  virtualKey = static_cast<int32_t>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFF);
  return true;
}

int32_t VirtualKeyOf(Key key) {
  const int n = FunctionKeyNumber(key);
  return n != 0 ? VK_F1 + (n - 1) : 0;
}

// VK_F1..VK_F24 are consecutive codes.
Key KeyOfVirtualKey(int32_t virtualKey) {
  return FunctionKey(int64_t{virtualKey} - VK_F1 + 1);
}

Win32Desktop::~Win32Desktop() {
  UnregisterAll();
}

ScreenSize Win32Desktop::GetScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

CaptureResult Win32Desktop::Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                    int32_t lineBytes) {
  // Rows too short for the pixels are refused before anything is written.
  if (w <= 0 || h <= 0 || !bits || int64_t{lineBytes} < 3 * int64_t{w})
    return CaptureResult::ReadFailed;
  // A copy reaching past the screen's edges may bring back nothing at all, so only the part on
  // the screen (all monitors together) is copied.
  const ScreenArea screen{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                          GetSystemMetrics(SM_CXVIRTUALSCREEN),
                          GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  const ScreenArea area = PrepareCapture(screen, x, y, w, h, bits, lineBytes);
  if (area.Width == 0) return CaptureResult::Ok;

  const HWND desktop = GetDesktopWindow();
  WindowContext context(desktop, GetWindowDC(desktop));
  if (!context.get()) return CaptureResult::CopyFailed;
  return CopyAndRead(context.get(), area.X, area.Y, area.Width, area.Height, false,
                     {bits, lineBytes, h, area.X - x, area.Y - y});
}

bool Win32Desktop::CaptureFrame(Frame& frame) {
  const ScreenSize size = GetScreenSize();
  if (size.Width <= 0 || size.Height <= 0) return false;
  const int64_t lineBytes = DibLineBytes(size.Width);
  WindowContext screen(nullptr, GetDC(nullptr));
  if (!screen.get()) return false;
  std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * static_cast<size_t>(size.Height));
  if (CopyAndRead(screen.get(), 0, 0, size.Width, size.Height, true,
                  {bits.data(), static_cast<int32_t>(lineBytes), size.Height, 0, 0}) !=
      CaptureResult::Ok) {
    return false;
  }
  frame.Width = size.Width;
  frame.Height = size.Height;
  frame.LineBytes = static_cast<int32_t>(lineBytes);
  frame.Bits = std::move(bits);
  return true;
}

bool Win32Desktop::MovePointer(int32_t x, int32_t y) {
  return SetCursorPos(x, y) != FALSE;
}

// Without MOUSEEVENTF_MOVE the click happens at the pointer's position, and the coordinates
// the call carries are ignored.
bool Win32Desktop::LeftButtonDown() {
  mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
  return true;
}

bool Win32Desktop::LeftButtonUp() {
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  return true;
}

void Win32Desktop::JoinEventLoop(EventLoop& loop) {
  joined_ = true;
  loop.FilterNativeMessages("windows_generic_MSG", [this](const void* message) {
    return joined_ && HandleNativeMessage(message);
  });
}

void Win32Desktop::SetOwnerWindow(uintptr_t nativeWindow) {
  if (nativeWindow != owner_) UnregisterAll();
  owner_ = nativeWindow;
}

uint16_t Win32Desktop::AddGlobalAtom(const std::string& name) {
  // A name cut short at an embedded NUL would silently share another name's atom.
  if (name.empty() || name.find('\0') != std::string::npos) return 0;
  return GlobalAddAtomA(name.c_str());
}

// The atom names the registration. The session's atom table holds a reference for every
// GlobalAddAtomA until the program ends, and longer on a shared session, so each path that does
// not keep the registration gives its reference back at once.
bool Win32Desktop::RegisterHotKey(const std::string& name, Key key) {
  UnregisterHotKey(name);
  const int32_t virtualKey = VirtualKeyOf(key);
  if (virtualKey == 0) return false;
  const uint16_t atom = AddGlobalAtom(name);
  if (atom == 0) return false;
  if (!::RegisterHotKey(AsWindow(owner_), atom, 0, static_cast<UINT>(virtualKey))) {
    const DWORD error = GetLastError();  // why the key was refused, for the caller to read
    GlobalDeleteAtom(atom);
    SetLastError(error);
    return false;
  }
  registered_[name] = atom;
  return true;
}

void Win32Desktop::Release(int32_t atom) {
  ::UnregisterHotKey(AsWindow(owner_), atom);
  GlobalDeleteAtom(static_cast<ATOM>(atom));
}

void Win32Desktop::UnregisterHotKey(const std::string& name) {
  auto it = registered_.find(name);
  if (it == registered_.end()) return;
  Release(it->second);
  registered_.erase(it);
}

void Win32Desktop::UnregisterAll() {
  for (const auto& [name, atom] : registered_)
    Release(atom);
  registered_.clear();
}

bool Win32Desktop::ShellOpen(const std::string& target) {
  if (target.empty() || target.find('\0') != std::string::npos) return false;
  // Some handlers behind ShellExecute are COM objects and need the thread initialised; a
  // thread that already is (the user interface's) keeps its own set-up.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const HINSTANCE result =
      ShellExecuteA(AsWindow(owner_), "open", target.c_str(), nullptr, nullptr, SW_SHOW);
  if (SUCCEEDED(com)) CoUninitialize();
  // Values above 32 mean the request was handed over.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool Win32Desktop::HandleNativeMessage(const void* message) {
  const auto* msg = static_cast<const MSG*>(message);
  if (!msg || msg->hwnd != AsWindow(owner_)) return false;
  int32_t virtualKey = 0;
  if (!DecodeHotKeyMessage(msg->message, msg->lParam, virtualKey)) return false;
  if (handler_) handler_(KeyOfVirtualKey(virtualKey));
  return true;
}

}  // namespace ostrane::platform::win32
