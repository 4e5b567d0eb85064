// The far end of the reaction-time benchmark (scripts/reaction-times): a full-screen window that
// always shows a 40 x 30 picture at --find (the program's find scope), shows it a second time at
// --show after a random pause, and times how long the program takes to click the second one.
//
//   reaction_target --find X,Y --show X,Y --go FILE [--runs N] [--log FILE] [--timeout S]
//
// It shows the second picture first once FILE exists (the program is running). After each click (at
// the second picture) it hides the picture, waits 0.3 to 0.7 s, so that the picture appears at any
// phase of the program's timer, and shows it again. Once N clicks (20 by default) have arrived it
// prints one line and exits 0:
//   reaction: runs 20, median 93.1 ms, worst 158.0 ms, fastest 12.4 ms
// It exits 1 when a shown picture gets no click within the timeout (10 s), and 2 on bad usage.
// The log gets a line per event with its time in milliseconds since the start: "ready" once the
// window is up at full size, then "shown T", "press T X Y" (every left press, wherever it is)
// and "reaction MS".
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kW = 40, kH = 30;

// No pixel repeats a neighbour and no part of the picture repeats elsewhere in it; none is the
// background's colour.
QImage Picture() {
  QImage image(kW, kH, QImage::Format_RGB32);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      image.setPixel(x, y, qRgb(40 + x * 5, 20 + y * 7, ((x * 3 + y * 5) % 16) * 16));
  return image;
}

double Now() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

class Target : public QRasterWindow {
 public:
  Target(QPoint find, QPoint show, const char* go, int runs, double timeoutMs, FILE* log)
      : find_(find),
        show_(show),
        go_(go),
        runs_(runs),
        timeoutMs_(timeoutMs),
        log_(log),
        rng_(20261208) {
    goPoll_.setInterval(50);
    connect(&goPoll_, &QTimer::timeout, this, [this] {
      if (std::FILE* f = std::fopen(go_, "r")) {
        std::fclose(f);
        goPoll_.stop();
        Schedule();
      }
    });
    pause_.setSingleShot(true);
    connect(&pause_, &QTimer::timeout, this, [this] { Reveal(); });
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
      std::fprintf(stderr, "reaction_target: no click within %.0f s of showing the picture\n",
                   timeoutMs_ / 1000);
      QGuiApplication::exit(1);
    });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(), size()), QColor(0x70, 0x7a, 0x5c));
    painter.drawImage(find_, picture_);
    if (showing_) painter.drawImage(show_, picture_);
    // The clock starts once the picture is painted; the window hands it to the display server
    // as this returns.
    if (revealing_) {
      revealing_ = false;
      shownAt_ = Now();
      Log("shown %.1f", shownAt_);
      watchdog_.start(static_cast<int>(timeoutMs_));
    }
  }
  // Ready once shown at the screen's size, whichever comes last.
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    CheckReady();
  }
  void resizeEvent(QResizeEvent* event) override {
    QRasterWindow::resizeEvent(event);
    CheckReady();
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const double t = Now();
    Log("press %.1f %.0f %.0f", t, event->position().x(), event->position().y());
    const QRectF shown(show_, QSizeF(kW, kH));
    if (!showing_ || revealing_ || !shown.contains(event->position())) return;
    watchdog_.stop();
    showing_ = false;
    update();
    times_.push_back(t - shownAt_);
    Log("reaction %.1f", times_.back());
    if (static_cast<int>(times_.size()) == runs_) {
      Finish();
    } else {
      Schedule();
    }
  }

 private:
  template <typename... Args>
  void Log(const char* format, Args... args) {
    if (!log_) return;
    std::fprintf(log_, format, args...);
    std::fputc('\n', log_);
    std::fflush(log_);
  }
  void CheckReady() {
    if (ready_ || !isExposed() || !screen() || size() != screen()->geometry().size()) return;
    ready_ = true;
    Log("ready");
    goPoll_.start();
  }
  void Schedule() { pause_.start(std::uniform_int_distribution<int>(300, 700)(rng_)); }
  void Reveal() {
    showing_ = true;
    revealing_ = true;
    update();
  }
  void Finish() {
    std::vector<double> sorted = times_;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::printf("reaction: runs %zu, median %.1f ms, worst %.1f ms, fastest %.1f ms\n", n, median,
                sorted.back(), sorted.front());
    std::fflush(stdout);
    QGuiApplication::exit(0);
  }

  const QPoint find_, show_;
  const char* go_;
  const int runs_;
  const double timeoutMs_;
  FILE* log_;
  std::mt19937 rng_;
  const QImage picture_ = Picture();
  QTimer goPoll_, pause_, watchdog_;
  bool ready_ = false, showing_ = false, revealing_ = false;
  double shownAt_ = 0;
  std::vector<double> times_;
};

bool ParsePoint(const char* text, QPoint& p) {
  int x = 0, y = 0;
  char tail = 0;
  if (std::sscanf(text, "%d,%d%c", &x, &y, &tail) != 2 || x < 0 || y < 0) return false;
  p = QPoint(x, y);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QPoint find(-1, -1), show(-1, -1);
  int runs = 20;
  double timeout = 10;
  const char* logPath = nullptr;
  const char* go = nullptr;
  bool ok = true;
  for (int i = 1; i < argc && ok; ++i) {
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    ok = value != nullptr;
    if (!ok) break;
    if (!std::strcmp(argv[i], "--find")) {
      ok = ParsePoint(value, find);
    } else if (!std::strcmp(argv[i], "--show")) {
      ok = ParsePoint(value, show);
    } else if (!std::strcmp(argv[i], "--runs")) {
      ok = std::sscanf(value, "%d", &runs) == 1 && runs > 0;
    } else if (!std::strcmp(argv[i], "--timeout")) {
      ok = std::sscanf(value, "%lf", &timeout) == 1 && timeout > 0;
    } else if (!std::strcmp(argv[i], "--go")) {
      go = value;
    } else if (!std::strcmp(argv[i], "--log")) {
      logPath = value;
    } else {
      ok = false;
    }
    ++i;
  }
  if (!ok || find.x() < 0 || show.x() < 0 || !go) {
    std::fprintf(stderr,
                 "usage: reaction_target --find X,Y --show X,Y --go FILE [--runs N] [--log FILE] "
                 "[--timeout S]\n");
    return 2;
  }
  FILE* log = logPath ? std::fopen(logPath, "a") : nullptr;
  if (logPath && !log) {
    std::fprintf(stderr, "reaction_target: cannot open %s\n", logPath);
    return 1;
  }
  Now();
  QGuiApplication app(argc, argv);
  Target target(find, show, go, runs, timeout * 1000, log);
  if (app.primaryScreen()) target.setGeometry(app.primaryScreen()->geometry());
  target.showFullScreen();
  const int status = app.exec();
  if (log) std::fclose(log);
  return status;
}
