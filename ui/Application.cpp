#include "ui/Application.h"

#include <QFileInfo>
#include <QFont>
#include <cstdio>

namespace ostrane::ui {

namespace {
TApplication::ExceptionHandler g_handler;
int g_dropped = 0;

void ReportOnStandardError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "unknown exception\n");
  }
}
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    try {
      if (g_handler) {
        g_handler(error);
      } else {
        ReportOnStandardError(error);
      }
    } catch (...) {
      // A handler that throws must not take the event loop down either.
    }
    return false;
  }
}

void TApplication::SetExceptionHandler(ExceptionHandler handler) {
  g_handler = std::move(handler);
}

void SilentExceptionHandler(std::exception_ptr) {
  ++g_dropped;
}

int DroppedExceptionCount() {
  return g_dropped;
}

void PreparePhysicalPixels() {
  // QT_ENABLE_HIGHDPI_SCALING=0 alone does not override an explicit scale factor.
  // Qt's own calls: setenv and unsetenv are not there on every system the program is built for.
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qunsetenv("QT_SCALE_FACTOR");
  qunsetenv("QT_SCREEN_SCALE_FACTORS");
  qunsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
  qunsetenv("QT_USE_PHYSICAL_DPI");
}

QFont DesignFont(int pixelSize, bool bold) {
  // Asked for even where it is not installed. The design's boxes were measured with its narrow
  // metrics, so where it is missing the Arial-compatible families come first; the font system
  // falls back further by itself.
  static const bool substituted = [] {
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")});
    return true;
  }();
  (void)substituted;
  QFont font(QStringLiteral("MS Sans Serif"));
  // Where the family exists only as a bitmap face (Windows and Wine ship one), that face cannot
  // follow the display's scaling and comes in fixed sizes wider than the boxes: outline faces
  // only, so that the substitutes above take its place.
  font.setStyleStrategy(QFont::ForceOutline);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QString ApplicationTitle(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

QString ApplicationTitle() {
  return ApplicationTitle(QCoreApplication::applicationFilePath());
}

}  // namespace ostrane::ui
