// A desktop that lives in memory: a settable screen picture, recorded pointer and button
// events, and switches that make a capture fail. The engine's tests run against it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Desktop.h"

namespace ostrane::platform {

class MemoryDesktop : public Desktop {
 public:
  enum class EventKind { Move, LeftDown, LeftUp };
  struct Event {
    EventKind Kind;
    int32_t X;
    int32_t Y;
    friend bool operator==(const Event&, const Event&) = default;
  };

  MemoryDesktop(int32_t width, int32_t height, uint32_t fill = 0);

  // Screen pixels as 0x00RRGGBB, row-major from the top-left.
  void SetPixel(int32_t x, int32_t y, uint32_t rgb);
  uint32_t PixelAt(int32_t x, int32_t y) const;
  void Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb);

  bool FailCopy = false;
  bool FailRead = false;
  // When set, only the capture with this zero-based number fails (as FailCopy / FailRead say).
  int32_t FailOnlyCapture = -1;

  std::vector<Event> Events;
  int32_t CaptureCount = 0;
  int32_t PointerX = 0;
  int32_t PointerY = 0;

  ScreenSize GetScreenSize() override { return {width_, height_}; }
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  void MovePointer(int32_t x, int32_t y) override;
  void LeftButtonDown(int32_t dx, int32_t dy) override;
  void LeftButtonUp(int32_t dx, int32_t dy) override;

 private:
  int32_t width_;
  int32_t height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace ostrane::platform
