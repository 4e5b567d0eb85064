// The desktop of an X server: capture through MIT-SHM (or XGetImage where shared memory is not
// offered), pointer and buttons through XTest, the screen size from the root window.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Desktop.h"

struct _XDisplay;

namespace ostrane::platform::x11 {

class X11Desktop : public Desktop {
 public:
  // Connects to `displayName` (nullptr: the DISPLAY variable). Returns nullptr and a one-line
  // reason in `error` when no display can be reached.
  static std::unique_ptr<X11Desktop> Open(const char* displayName, std::string& error);
  ~X11Desktop() override;

  ScreenSize GetScreenSize() override;
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  void MovePointer(int32_t x, int32_t y) override;
  void LeftButtonDown(int32_t dx, int32_t dy) override;
  void LeftButtonUp(int32_t dx, int32_t dy) override;

  _XDisplay* display() const { return display_; }
  bool SharedMemoryAvailable() const { return useShm_; }
  // Tests turn shared memory off to exercise the XGetImage path.
  void SetUseSharedMemory(bool on) { useShm_ = on && shmOffered_; }
  // Bytes of the shared-memory segment kept between captures; 0 when none is held.
  size_t SharedSegmentBytes() const;

 private:
  explicit X11Desktop(_XDisplay* display);
  struct Image;
  struct Segment;
  bool EnsureSegment(size_t bytes);
  bool GrabShm(int32_t x, int32_t y, int32_t w, int32_t h, Image& image);
  bool GrabPlain(int32_t x, int32_t y, int32_t w, int32_t h, Image& image);
  void Button(bool press);

  _XDisplay* display_;
  unsigned long root_;
  bool shmOffered_ = false;
  bool useShm_ = false;
  bool xtest_ = false;
  // Kept while captures fit in it, so a pass does not create and attach a segment each time.
  std::unique_ptr<Segment> segment_;
};

}  // namespace ostrane::platform::x11
