// The Windows backend against the shared desktop suite: pictures are top-most windows of the test's
// own, whose mouse messages arrive through this thread's message loop.
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/win32/Win32Desktop.h"
#include "tests/conformance/desktop_conformance.h"
#include "tests/win32/TestWindow.h"

namespace ostrane::testkit {
namespace {

using platform::win32::Win32Desktop;

class Win32Harness {
 public:
  class Picture {
   public:
    Picture(int x, int y, int w, int h, const std::vector<uint32_t>& pixels)
        : x_(x), y_(y), window_(x, y, w, h, pixels) {}
    bool Ok() const { return window_.Ok(); }
    // The window is borderless, so its client area starts at its corner.
    std::vector<Arrival> Arrivals() const {
      std::vector<Arrival> arrivals;
      for (const MouseMessage& m : window_.Mouse()) {
        const Arrival::Kind kind = m.message == WM_MOUSEMOVE     ? Arrival::Move
                                   : m.message == WM_LBUTTONDOWN ? Arrival::Press
                                                                 : Arrival::Release;
        arrivals.push_back({kind, kind == Arrival::Move ? 0 : 1, x_ + m.x, y_ + m.y, m.x, m.y});
      }
      return arrivals;
    }

   private:
    int x_, y_;
    Win32TestWindow window_;
  };

  std::string Open() { return {}; }
  platform::Desktop& Desktop() { return desktop_; }
  // The display's size as the job set it up ("WIDTHxHEIGHT").
  std::optional<platform::ScreenSize> SessionScreen() const {
    const char* screen = std::getenv("OSTRANE_TEST_SCREEN");
    return screen ? ParseScreenSize(screen) : std::nullopt;
  }
  std::vector<std::string> CaptureModes() const { return {"GDI"}; }
  void UseCaptureMode(size_t) {}
  std::unique_ptr<Picture> Show(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
    return std::make_unique<Picture>(x, y, w, h, pixels);
  }
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return testkit::PumpUntil(done, timeoutMs);
  }

 private:
  Win32Desktop desktop_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, DesktopConformance, Win32Harness);

}  // namespace
}  // namespace ostrane::testkit
