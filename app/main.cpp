// Program body: connect to the desktop, read the screen size once, create the windows and run
// the event loop until the main window closes.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/BitmapData.h"
#include "engine/Types.h"
#include "platform/NativeDesktop.h"
#include "ui/Application.h"
#include "ui/NativeGlue.h"
#include "ui/Timer.h"
#include "ui/uCopy.h"
#include "ui/uMain.h"

namespace {

// With OSTRANE_STATUS_FILE set, the program keeps a small text file up to date with what the
// main window shows, for scripts that drive it (the demonstration and the end-to-end tests).
void StartStatusReport(ostrane::ui::TfmMian& window) {
  const QString path = qEnvironmentVariable("OSTRANE_STATUS_FILE");
  if (path.isEmpty()) return;
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, &window, [&window, path] {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    const QString text =
        QStringLiteral("count=%1\nrunning=%2\nfind=%3,%4,%5,%6\nclick=%7,%8,%9,%10\n")
            .arg(window.lblCount->text())
            .arg(window.timerSetPoint->Enabled() ? 1 : 0)
            .arg(window.edLeft1->text(), window.edTop1->text(), window.edRight1->text(),
                 window.edBottom1->text())
            .arg(window.edLeft2->text(), window.edTop2->text(), window.edRight2->text(),
                 window.edBottom2->text());
    file.write(text.toUtf8());
    file.commit();
  });
  timer->start(50);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrane;
  ui::PrepareNativePlatform();
  ui::PreparePhysicalPixels();

  std::string error;
  auto desktop = platform::OpenNativeDesktop(error);
  if (!desktop) {
    std::fprintf(stderr, "ostrane: %s\n", error.c_str());
    return 1;
  }
  platform::SetActiveDesktop(desktop.get());
  InitScreenMetrics();

  int status = 0;
  {
    ui::TApplication app(argc, argv);
    ui::TApplication::setStyle(QStringLiteral("Fusion"));
    auto mainWindow = std::make_unique<ui::TfmMian>();
    auto picker = std::make_unique<ui::TfmCopy>(mainWindow.get());
    ui::AttachToEventLoop(*desktop, mainWindow.get());
    StartStatusReport(*mainWindow);
    mainWindow->show();
    status = app.exec();
    ui::DetachFromEventLoop(*desktop);
    picker.reset();
    mainWindow.reset();
  }
  platform::SetActiveDesktop(nullptr);
  return status;
}
