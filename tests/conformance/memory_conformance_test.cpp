// The in-memory desktop the engine's and the windows' tests stand on behaves as the real backends
// do. A picture is its pixels on the screen; a pointer event reaches the topmost picture under it.
#include <algorithm>
#include <memory>
#include <vector>

#include "platform/memory/MemoryDesktop.h"
#include "tests/conformance/desktop_conformance.h"

namespace ostrane::testkit {
namespace {

using platform::MemoryDesktop;

class MemoryHarness {
 public:
  // Neither of the real sessions' sizes, so that nothing depends on one. The screen is not black:
  // only what lies off it must read black.
  static constexpr int32_t kWidth = 1600, kHeight = 900;

  class Picture {
   public:
    Picture(MemoryHarness& harness, int x, int y, int w, int h, const std::vector<uint32_t>& pixels)
        : harness_(harness),
          x_(x),
          y_(y),
          w_(w),
          h_(h),
          firstEvent_(harness.desktop_.Events.size()) {
      for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
          beneath_.push_back(harness.desktop_.PixelAt(x + c, y + r));
          harness.desktop_.SetPixel(x + c, y + r, pixels[static_cast<size_t>(r) * w + c]);
        }
      }
      harness.shown_.push_back(this);
    }
    ~Picture() {
      auto& shown = harness_.shown_;
      shown.erase(std::remove(shown.begin(), shown.end(), this), shown.end());
      for (int r = 0; r < h_; ++r)
        for (int c = 0; c < w_; ++c)
          harness_.desktop_.SetPixel(x_ + c, y_ + r, beneath_[static_cast<size_t>(r) * w_ + c]);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool Ok() const { return true; }
    std::vector<Arrival> Arrivals() const {
      std::vector<Arrival> arrivals;
      const auto& events = harness_.desktop_.Events;
      for (size_t i = firstEvent_; i < events.size(); ++i) {
        const MemoryDesktop::Event& e = events[i];
        if (harness_.TopmostAt(e.X, e.Y) != this) continue;
        switch (e.Kind) {
          case MemoryDesktop::EventKind::Move:
            arrivals.push_back({Arrival::Move, 0, e.X, e.Y, e.X - x_, e.Y - y_});
            break;
          case MemoryDesktop::EventKind::LeftDown:
            arrivals.push_back({Arrival::Press, 1, e.X, e.Y, e.X - x_, e.Y - y_});
            break;
          case MemoryDesktop::EventKind::LeftUp:
            arrivals.push_back({Arrival::Release, 1, e.X, e.Y, e.X - x_, e.Y - y_});
            break;
        }
      }
      return arrivals;
    }
    bool Contains(int x, int y) const { return x >= x_ && y >= y_ && x < x_ + w_ && y < y_ + h_; }

   private:
    MemoryHarness& harness_;
    int x_, y_, w_, h_;
    size_t firstEvent_;
    std::vector<uint32_t> beneath_;
  };

  std::string Open() { return {}; }
  platform::Desktop& Desktop() { return desktop_; }
  std::optional<platform::ScreenSize> SessionScreen() const {
    return platform::ScreenSize{kWidth, kHeight};
  }
  std::vector<std::string> CaptureModes() const { return {"memory"}; }
  void UseCaptureMode(size_t) {}
  std::unique_ptr<Picture> Show(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
    return std::make_unique<Picture>(*this, x, y, w, h, pixels);
  }
  // Everything has happened by the time a call returns: nothing to wait for.
  bool PumpUntil(const std::function<bool()>& done, int) { return done && done(); }

 private:
  const Picture* TopmostAt(int x, int y) const {
    for (auto it = shown_.rbegin(); it != shown_.rend(); ++it)
      if ((*it)->Contains(x, y)) return *it;
    return nullptr;
  }

  MemoryDesktop desktop_{kWidth, kHeight, 0x3A5F7C};
  std::vector<const Picture*> shown_;  // the topmost last
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, DesktopConformance, MemoryHarness);

}  // namespace
}  // namespace ostrane::testkit
