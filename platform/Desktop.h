// The operating-system operations the engine and the windows need, behind one small interface.
// A backend (X11, Win32, or the in-memory desktop of the tests) implements it; the program
// installs one instance at start-up with SetActiveDesktop.
#pragma once

#include <cstdint>
#include <functional>

namespace ostrane::platform {

struct ScreenSize {
  int32_t Width = 0;
  int32_t Height = 0;
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

 private:
  std::function<void()> pump_;
};

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
