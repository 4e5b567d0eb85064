// A window for the end-to-end test under scripts/wayland-session: a plain background with a
// distinctive 40x30 picture at a known place, and a log of what the pointer did to it, in window
// coordinates. Full screen at scale 1 (the default) these are the screen's pixels.
//
//   click_target --log FILE [--at X,Y] [--size WxH] [--pattern PPM]
//
// --size makes it an ordinary window of that size, placed by the compositor, instead.
//
// The log gets one line each, flushed at once:
//   shown W H          the window is exposed at its full size
//   motion X Y         the pointer moved to (X, Y)
//   press X Y          the left button went down at (X, Y); release X Y likewise
//   focus in, focus out  the window got or lost the keyboard focus
//   key NAME           a key was pressed in it (F9, A, ...)
// --pattern writes the picture as a binary PPM, for comparing it with the screen.

#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kPatternWidth = 40;
constexpr int kPatternHeight = 30;
const QColor kBackground(0x70, 0x7a, 0x5c);

// Every pixel differs from its neighbours and no part of the picture repeats elsewhere in it, so
// the only place where it matches is its own; no pixel is the background's colour.
QImage Pattern() {
  QImage image(kPatternWidth, kPatternHeight, QImage::Format_RGB32);
  for (int y = 0; y < kPatternHeight; ++y)
    for (int x = 0; x < kPatternWidth; ++x)
      image.setPixel(x, y, qRgb(40 + x * 5, 20 + y * 7, ((x * 3 + y * 5) % 16) * 16));
  return image;
}

bool SavePpm(const QImage& image, const char* path) {
  FILE* file = fopen(path, "wb");
  if (!file) return false;
  fprintf(file, "P6\n%d %d\n255\n", image.width(), image.height());
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      const unsigned char rgb[3] = {static_cast<unsigned char>(qRed(p)),
                                    static_cast<unsigned char>(qGreen(p)),
                                    static_cast<unsigned char>(qBlue(p))};
      fwrite(rgb, 1, 3, file);
    }
  return fclose(file) == 0;
}

class Target : public QRasterWindow {
 public:
  Target(FILE* log, QPoint at, QSize wanted)
      : log_(log), at_(at), wanted_(wanted), pattern_(Pattern()) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(), size()), kBackground);
    painter.drawImage(at_, pattern_);
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (!shown_ && isExposed() && size() == wanted_) {
      shown_ = true;
      Log("shown %d %d", width(), height());
    }
  }
  void focusInEvent(QFocusEvent*) override { Log("focus in"); }
  void focusOutEvent(QFocusEvent*) override { Log("focus out"); }
  // A key that reaches the window was not taken by the desktop as a global shortcut.
  void keyPressEvent(QKeyEvent* event) override {
    Log(("key " + QKeySequence(event->key()).toString()).toUtf8().constData());
  }
  void mouseMoveEvent(QMouseEvent* event) override { LogAt("motion", event->position()); }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) LogAt("press", event->position());
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) LogAt("release", event->position());
  }

 private:
  void Log(const char* line) { Log("%s", line); }
  template <typename... Args>
  void Log(const char* format, Args... args) {
    fprintf(log_, format, args...);
    fputc('\n', log_);
    fflush(log_);
  }
  // Fractions are kept: a click half a pixel off is a fault, not a rounding.
  void LogAt(const char* what, QPointF at) {
    Log("%s %s %s", what, QByteArray::number(at.x()).constData(),
        QByteArray::number(at.y()).constData());
  }

  FILE* log_;
  QPoint at_;
  QSize wanted_;
  QImage pattern_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  const char* logPath = nullptr;
  const char* patternPath = nullptr;
  QPoint at(200, 150);
  QSize windowed;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) {
      usage = true;
    } else if (!strcmp(argv[i], "--log")) {
      logPath = argv[++i];
    } else if (!strcmp(argv[i], "--pattern")) {
      patternPath = argv[++i];
    } else if (!strcmp(argv[i], "--at")) {
      int x = 0, y = 0;
      char tail = 0;
      if (sscanf(argv[++i], "%d,%d%c", &x, &y, &tail) != 2 || x < 0 || y < 0) usage = true;
      at = QPoint(x, y);
    } else if (!strcmp(argv[i], "--size")) {
      int w = 0, h = 0;
      char tail = 0;
      if (sscanf(argv[++i], "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0) usage = true;
      windowed = QSize(w, h);
    } else {
      usage = true;
    }
  }
  if (usage || !logPath) {
    fprintf(stderr, "usage: %s --log FILE [--at X,Y] [--size WxH] [--pattern PPM]\n", argv[0]);
    return 2;
  }
  FILE* log = fopen(logPath, "a");
  if (!log) {
    fprintf(stderr, "click-target: cannot open %s: %s\n", logPath, strerror(errno));
    return 1;
  }
  if (patternPath && !SavePpm(Pattern(), patternPath)) {
    fprintf(stderr, "click-target: cannot write %s\n", patternPath);
    return 1;
  }
  QGuiApplication app(argc, argv);
  const QSize full = app.primaryScreen() ? app.primaryScreen()->geometry().size() : QSize();
  Target target(log, at, windowed.isEmpty() ? full : windowed);
  if (windowed.isEmpty()) {
    target.showFullScreen();
  } else {
    target.resize(windowed);
    target.show();
  }
  const int status = app.exec();
  fclose(log);
  return status;
}
