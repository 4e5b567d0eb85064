// The Wayland backend on the headless session, for the shared desktop suite and the backend's own
// live checks: one desktop, one consent and one full-screen window for the whole test program.
// A client cannot place windows on Wayland, so pictures are drawn in that window at their screen
// places (at scale 1 its pixels are the screen's), and the pointer events it gets go to the
// topmost picture under them. The session's size comes from OSTRANE_TEST_SCREEN.
#pragma once

#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/wayland/WaylandDesktop.h"
#include "tests/conformance/desktop_conformance.h"
#include "tests/wayland/LiveSession.h"

namespace ostrane::testkit {

class PictureWindow : public QRasterWindow {
 public:
  struct Shown {
    int x, y, w, h;
    QImage image;
    bool Contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
  };
  std::vector<const Shown*> shown;  // the topmost last
  std::vector<Arrival> events;      // on the screen; the picture's own coordinates unset
  int paints = 0;

  const Shown* TopmostAt(int x, int y) const {
    for (auto it = shown.rbegin(); it != shown.rend(); ++it)
      if ((*it)->Contains(x, y)) return *it;
    return nullptr;
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(), size()), QColor(0x3A5F7C));
    for (const Shown* picture : shown)
      painter.drawImage(picture->x, picture->y, picture->image);
    ++paints;
  }
  void mouseMoveEvent(QMouseEvent* e) override { Note(Arrival::Move, 0, e); }
  void mousePressEvent(QMouseEvent* e) override { Note(Arrival::Press, Button(e), e); }
  void mouseReleaseEvent(QMouseEvent* e) override { Note(Arrival::Release, Button(e), e); }

 private:
  static int Button(const QMouseEvent* e) { return e->button() == Qt::LeftButton ? 1 : 2; }
  void Note(Arrival::Kind kind, int button, const QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    events.push_back({kind, button, at.x(), at.y(), 0, 0});
  }
};

struct WaylandLive {
  std::unique_ptr<platform::wayland::livetest::QtTestLoop> loop;
  std::unique_ptr<platform::wayland::WaylandDesktop> desktop;
  std::unique_ptr<PictureWindow> window;
  bool opened = false;
  std::string failure;  // why the session cannot be used
};
// The program's one session; the test program defines it and ends it before Qt.
WaylandLive& Live();

// Opens the session on first use: the consent helper answers the dialog (started again while
// the desktop waits, for it now and then misses the dialog), then the window covers the screen.
inline std::string OpenLive() {
  WaylandLive& live = Live();
  if (live.opened) return live.failure;
  live.opened = true;
  if (!std::getenv("WAYLAND_DISPLAY")) {
    return live.failure = "not in a Wayland session (scripts/wayland-session runs this test)";
  }
  live.loop = std::make_unique<platform::wayland::livetest::QtTestLoop>();
  live.desktop = std::make_unique<platform::wayland::WaylandDesktop>();
  live.desktop->JoinEventLoop(*live.loop);
  platform::wayland::livetest::Helper helper;
  helper.Start();
  int tries = 1;
  live.loop->During = [&] {
    if (helper.Pid > 0 && helper.Poll() && !helper.Succeeded && tries < 3) {
      ++tries;
      helper.Start();
    }
  };
  std::string message;
  const bool granted = live.desktop->RequestAccess(message);
  live.loop->During = nullptr;
  const bool helped = helper.Finish();
  if (!granted) return live.failure = "no access to the screen: " + message;
  if (!helped) return live.failure = "the consent helper failed";
  live.window = std::make_unique<PictureWindow>();
  live.window->showFullScreen();
  const platform::ScreenSize screen = live.desktop->GetScreenSize();
  if (!platform::wayland::livetest::PumpUntil(
          [&] {
            return live.window->isExposed() && live.window->width() == screen.Width &&
                   live.window->height() == screen.Height && live.window->paints > 0;
          },
          std::chrono::seconds(10))) {
    return live.failure = "the window did not cover the screen";
  }
  // mutter drops a click on a window it mapped a moment ago.
  platform::wayland::livetest::PumpUntil([] { return false; }, std::chrono::seconds(1));
  return {};
}

class WaylandHarness {
 public:
  class Picture {
   public:
    Picture(PictureWindow& window, int x, int y, int w, int h, const std::vector<uint32_t>& pixels)
        : window_(window),
          shown_{x, y, w, h, QImage(w, h, QImage::Format_RGB32)},
          first_(window.events.size()) {
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
          shown_.image.setPixel(c, r, 0xFF000000u | pixels[static_cast<size_t>(r) * w + c]);
      window_.shown.push_back(&shown_);
      window_.update();
    }
    ~Picture() {
      auto& shown = window_.shown;
      shown.erase(std::remove(shown.begin(), shown.end(), &shown_), shown.end());
      window_.update();
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool Ok() const { return true; }
    std::vector<Arrival> Arrivals() const {
      std::vector<Arrival> arrivals;
      for (size_t i = first_; i < window_.events.size(); ++i) {
        Arrival a = window_.events[i];
        if (window_.TopmostAt(a.screenX, a.screenY) != &shown_) continue;
        a.x = a.screenX - shown_.x;
        a.y = a.screenY - shown_.y;
        arrivals.push_back(a);
      }
      return arrivals;
    }

   private:
    PictureWindow& window_;
    PictureWindow::Shown shown_;
    size_t first_;
  };

  std::string Open() { return OpenLive(); }
  platform::Desktop& Desktop() { return *Live().desktop; }
  std::optional<platform::ScreenSize> SessionScreen() const {
    const char* size = std::getenv("OSTRANE_TEST_SCREEN");
    return size ? ParseScreenSize(size) : std::nullopt;
  }
  std::vector<std::string> CaptureModes() const { return {"screen cast"}; }
  void UseCaptureMode(size_t) {}
  std::unique_ptr<Picture> Show(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
    return std::make_unique<Picture>(*Live().window, x, y, w, h, pixels);
  }
  // The window paints and gets its events from Qt's loop.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return platform::wayland::livetest::PumpUntil([&] { return done && done(); },
                                                  std::chrono::milliseconds(timeoutMs));
  }
};

}  // namespace ostrane::testkit
