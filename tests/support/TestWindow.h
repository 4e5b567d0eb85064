// A window of the test's own on an X server: shows a known picture at a known place, without
// a window manager, and reports the pointer events it receives.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

struct _XDisplay;

namespace ostrane::testkit {

struct PointerEvent {
  enum Kind { Motion, Press, Release };
  Kind kind;
  int button;        // 1 for the left button; 0 for a motion
  int rootX, rootY;  // on the screen
  int x, y;          // in the window
};

class TestWindow {
 public:
  // `pixels` holds w * h values 0xRRGGBB, top row first.
  TestWindow(int x, int y, int w, int h, const std::vector<uint32_t>& pixels);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  bool Ok() const { return window_ != 0; }
  // Waits up to `timeoutMs` for the next button event, passing over motions.
  std::optional<PointerEvent> NextButton(int timeoutMs);
  // Every button event that arrived within `timeoutMs` of quiet.
  std::vector<PointerEvent> DrainButtons(int timeoutMs);
  // Every event that has arrived so far and was not taken yet, motions included; does not wait.
  std::vector<PointerEvent> TakeEvents();

 private:
  void ReadPending();

  _XDisplay* display_ = nullptr;
  unsigned long window_ = 0;
  unsigned long pixmap_ = 0;
  std::deque<PointerEvent> events_;
};

}  // namespace ostrane::testkit
