// Asks the desktop portal for a remote-desktop session as a program would, and clicks through it:
// proves the test bed end to end without our program. It shows a full-screen window of its own,
// moves the portal's pointer to a point of it until the window sees the pointer there, clicks, and
// checks that the window got the press and the release at that point. Exits 0 when it did, 1 with a
// one-line reason otherwise.
//
//   portal_probe [--timeout S] [--at X,Y] [--after-pid PID] [--delay-ms N]
//   portal_probe --shortcuts TOKEN [--register APP_ID] [--expect ID] [--timeout S]
//   portal_probe --remote-persist TOKEN_FILE [--register APP_ID] [--timeout S]
//
// The last two ask the portal through the program's portal client (PortalCalls.cpp): global
// shortcuts F9 and F10 bound in one call on a session of a fixed token, then the activations; and
// a remote-desktop session with persist_mode 2 that offers and keeps a restore token.
//
// --after-pid waits for that process (the consent helper) to end before clicking; --delay-ms
// waits that much longer, once the session is active and the window is up.

#include "PortalCalls.h"

#include <libportal/portal.h>
#include <libportal/remote.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr int kLeftButton = 0x110;  // BTN_LEFT of linux/input-event-codes.h

struct Options {
  int timeoutSeconds = 60;
  std::optional<QPoint> at;
  pid_t afterPid = 0;
  int delayMs = 0;
};

class Target : public QRasterWindow {
 public:
  std::optional<QPointF> movedTo, pressedAt, releasedAt;
  std::function<void()> changed;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x2a, 0x6e, 0x3f));
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (changed) changed();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    movedTo = event->position();
    if (changed) changed();
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) pressedAt = event->position();
    if (changed) changed();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) releasedAt = event->position();
    if (changed) changed();
  }
};

class Probe {
 public:
  explicit Probe(Options options) : options_(options) {}

  void start() {
    clock_.start();
    QTimer::singleShot(options_.timeoutSeconds * 1000, [this] {
      finish(false,
             "timed out after " + std::to_string(options_.timeoutSeconds) + " s while " + step_);
    });
    portal_ = xdp_portal_new();
    step_ = "asking for a remote-desktop session";
    xdp_portal_create_remote_desktop_session(
        portal_, XDP_DEVICE_POINTER, XDP_OUTPUT_MONITOR, XDP_REMOTE_DESKTOP_FLAG_NONE,
        XDP_CURSOR_MODE_HIDDEN, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer self) {
          static_cast<Probe*>(self)->created(XDP_PORTAL(source), result);
        },
        this);
  }

 private:
  void created(XdpPortal* portal, GAsyncResult* result) {
    GError* error = nullptr;
    session_ = xdp_portal_create_remote_desktop_session_finish(portal, result, &error);
    if (!session_) return finish(false, message("the portal made no session", error));
    step_ = "waiting for consent";
    xdp_session_start(
        session_, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer self) {
          static_cast<Probe*>(self)->started(XDP_SESSION(source), result);
        },
        this);
  }

  void started(XdpSession* session, GAsyncResult* result) {
    GError* error = nullptr;
    if (!xdp_session_start_finish(session, result, &error))
      return finish(false, message("the session did not start", error));
    if (xdp_session_get_session_state(session) != XDP_SESSION_ACTIVE)
      return finish(false, "the session started but is not active");
    GVariant* streams = xdp_session_get_streams(session);
    GVariantIter iter;
    GVariant* properties = nullptr;
    g_variant_iter_init(&iter, streams);
    if (!g_variant_iter_next(&iter, "(u@a{sv})", &node_, &properties))
      return finish(false, "the active session has no stream");
    g_variant_lookup(properties, "size", "(ii)", &streamWidth_, &streamHeight_);
    g_variant_unref(properties);
    printf("portal-probe: session ACTIVE after %.2f s, devices 0x%x, stream node %u, %dx%d\n",
           clock_.elapsed() / 1000.0, xdp_session_get_devices(session), node_, streamWidth_,
           streamHeight_);
    fflush(stdout);

    step_ = "showing the target window";
    target_.changed = [this] { check(); };
    target_.showFullScreen();
    poll_.setInterval(50);
    QObject::connect(&poll_, &QTimer::timeout, [this] { check(); });
    poll_.start();
  }

  // Clicks once the window covers the screen and the helper has let go; then waits for the
  // window to report the click.
  void check() {
    if (done_) return;
    if (!clicked_) {
      if (!target_.isExposed() || target_.width() != streamWidth_ ||
          target_.height() != streamHeight_)
        return;
      step_ = "waiting for the consent helper to end";
      if (options_.afterPid > 0 && (kill(options_.afterPid, 0) == 0 || errno != ESRCH)) return;
      step_ = "waiting before the click";
      if (readyAt_ < 0) readyAt_ = clock_.elapsed();
      if (clock_.elapsed() - readyAt_ < options_.delayMs) return;
      // mutter animates a new window in, and a click during that lands scaled or nowhere: point
      // until the window reports the pointer exactly where it was sent, then click there.
      step_ = "pointing at the window";
      const QPoint at = options_.at.value_or(QPoint(streamWidth_ / 3, streamHeight_ / 3));
      if (!target_.movedTo || *target_.movedTo != QPointF(sent_)) {
        if (clock_.elapsed() - pointedAt_ < 100) return;
        sent_ = at + QPoint(sent_ == at ? 1 : 0, 0);  // a little wiggle makes every move new
        xdp_session_pointer_position(session_, node_, sent_.x(), sent_.y());
        pointedAt_ = clock_.elapsed();
        ++moves_;
        return;
      }
      // libportal does not wait for the portal's answers, and the portal handles each call in
      // a thread of its own: a release sent at once may overtake the press (mutter then logs
      // "multiple virtual 0x110 button releases" and keeps the button down). The release goes
      // once the window has the press.
      xdp_session_pointer_button(session_, kLeftButton, XDP_BUTTON_PRESSED);
      clicked_ = true;
      clickedAt_ = clock_.elapsed();
      step_ = "waiting for the press to arrive";
      return;
    }
    if (!target_.pressedAt) return;
    if (!released_) {
      xdp_session_pointer_button(session_, kLeftButton, XDP_BUTTON_RELEASED);
      released_ = true;
      step_ = "waiting for the release to arrive";
    }
    if (!target_.releasedAt) return;
    const QPointF got = *target_.pressedAt;
    const bool there = got == QPointF(sent_) && *target_.releasedAt == got;
    printf(
        "portal-probe: %d pointer moves till the window saw one; click sent to (%d, %d) arrived "
        "at (%.0f, %.0f) after %lld ms\n",
        moves_, sent_.x(), sent_.y(), got.x(), got.y(), clock_.elapsed() - clickedAt_);
    finish(there, there ? "" : "the click arrived at the wrong place");
  }

  void finish(bool ok, const std::string& why) {
    if (done_) return;
    done_ = true;
    if (!ok) fprintf(stderr, "portal-probe: %s\n", why.c_str());
    if (session_) xdp_session_close(session_);
    QCoreApplication::exit(ok ? 0 : 1);
  }

  static std::string message(const std::string& what, GError* error) {
    std::string text = what + (error ? std::string(": ") + error->message : "");
    g_clear_error(&error);
    return text;
  }

  Options options_;
  QElapsedTimer clock_;
  std::string step_ = "starting";
  XdpPortal* portal_ = nullptr;
  XdpSession* session_ = nullptr;
  guint node_ = 0;
  int streamWidth_ = 0, streamHeight_ = 0;
  qint64 readyAt_ = -1, clickedAt_ = 0;
  Target target_;
  QTimer poll_;
  QPoint sent_{-1, -1};
  qint64 pointedAt_ = -1000;
  int moves_ = 0;
  bool clicked_ = false, released_ = false, done_ = false;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    const char* value = argv[i + 1];
    char* end = nullptr;
    long number = strtol(value, &end, 10);
    if (arg == "--at") {
      int x = 0, y = 0;
      char tail = 0;
      if (sscanf(value, "%d,%d%c", &x, &y, &tail) != 2 || x < 0 || y < 0) return std::nullopt;
      options.at = QPoint(x, y);
      continue;
    }
    if (*end || number < 0) return std::nullopt;
    if (arg == "--timeout" && number > 0)
      options.timeoutSeconds = static_cast<int>(number);
    else if (arg == "--after-pid" && number > 0)
      options.afterPid = static_cast<pid_t>(number);
    else if (arg == "--delay-ms")
      options.delayMs = static_cast<int>(number);
    else
      return std::nullopt;
  }
  if (argc % 2 == 0) return std::nullopt;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--shortcuts") return probe::runShortcuts(argc, argv);
  if (mode == "--remote-persist") return probe::runRemotePersist(argc, argv);
  std::optional<Options> options = parse(argc, argv);
  if (!options) {
    fprintf(stderr, "usage: %s [--timeout S] [--at X,Y] [--after-pid PID] [--delay-ms N]\n",
            argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  Probe probe(*options);
  QTimer::singleShot(0, [&] { probe.start(); });
  return app.exec();
}
