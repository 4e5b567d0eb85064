// The X11 backend against the shared desktop suite, on the tests' private X server: pictures are
// override-redirect windows of a connection of their own, read in both of the backend's ways.
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/x11/X11Desktop.h"
#include "tests/conformance/desktop_conformance.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/support/TestWindow.h"

namespace ostrane::testkit {
namespace {

using platform::x11::X11Desktop;

class X11Harness {
 public:
  class Picture {
   public:
    Picture(int x, int y, int w, int h, const std::vector<uint32_t>& pixels)
        : window_(x, y, w, h, pixels) {}
    bool Ok() const { return window_.Ok(); }
    std::vector<Arrival> Arrivals() {
      for (const PointerEvent& e : window_.TakeEvents()) {
        const Arrival::Kind kind = e.kind == PointerEvent::Motion  ? Arrival::Move
                                   : e.kind == PointerEvent::Press ? Arrival::Press
                                                                   : Arrival::Release;
        arrivals_.push_back({kind, e.button, e.rootX, e.rootY, e.x, e.y});
      }
      return arrivals_;
    }

   private:
    TestWindow window_;
    std::vector<Arrival> arrivals_;
  };

  std::string Open() {
    if (!PrivateXAvailable()) return "the tests' X server did not start";
    std::string error;
    desktop_ = X11Desktop::Open(nullptr, error);
    return desktop_ ? std::string() : error;
  }
  platform::Desktop& Desktop() { return *desktop_; }
  std::optional<platform::ScreenSize> SessionScreen() const {
    return ParseScreenSize(PrivateXScreen());
  }
  std::vector<std::string> CaptureModes() const { return {"shared memory", "XGetImage"}; }
  void UseCaptureMode(size_t mode) { desktop_->SetUseSharedMemory(mode == 0); }
  std::unique_ptr<Picture> Show(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
    return std::make_unique<Picture>(x, y, w, h, pixels);
  }
  // The server and the windows' connections work on their own; only time has to pass.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (done && done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  std::unique_ptr<X11Desktop> desktop_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(X11, DesktopConformance, X11Harness);

}  // namespace
}  // namespace ostrane::testkit
