// A window of the test's own on an X server: shows a known picture at a known place, without
// a window manager, and reports the button events it receives.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct _XDisplay;

namespace ostrane::testkit {

struct ButtonEvent {
  bool press;
  int button;
  int rootX, rootY;
  int x, y;
};

class TestWindow {
 public:
  // `pixels` holds w * h values 0xRRGGBB, top row first.
  TestWindow(int x, int y, int w, int h, const std::vector<uint32_t>& pixels);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  bool Ok() const { return window_ != 0; }
  // Waits up to `timeoutMs` for the next button event.
  std::optional<ButtonEvent> NextButton(int timeoutMs);
  // Every button event that arrived within `timeoutMs` of quiet.
  std::vector<ButtonEvent> DrainButtons(int timeoutMs);

 private:
  _XDisplay* display_ = nullptr;
  unsigned long window_ = 0;
  unsigned long pixmap_ = 0;
};

}  // namespace ostrane::testkit
