#include "ui/StatusReport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>
#include <cmath>
#include <memory>

#include "ui/Timer.h"
#include "ui/uMain.h"

namespace ostrane::ui {

namespace {

// A point of `widget` in screen pixels: Qt's logical units times the window's pixel ratio.
QString ScreenPoint(const QWidget& widget, QPoint local) {
  const QPoint global = widget.mapToGlobal(local);
  const qreal ratio = widget.devicePixelRatioF();
  return QStringLiteral("%1,%2")
      .arg(std::lround(global.x() * ratio))
      .arg(std::lround(global.y() * ratio));
}

// The text of the message box open now, on one line; empty when none is.
QString OpenMessage() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  return box && box->isVisible() ? box->text().simplified() : QString();
}

QString StatusText(TfmMian& window) {
  QMenuBar* menu = window.menuBar();
  return QStringLiteral("count=%1\nrunning=%2\nfind=%3,%4,%5,%6\nclick=%7,%8,%9,%10\n")
             .arg(window.lblCount->text())
             .arg(window.timerSetPoint->Enabled() ? 1 : 0)
             .arg(window.edLeft1->text(), window.edTop1->text(), window.edRight1->text(),
                  window.edBottom1->text())
             .arg(window.edLeft2->text(), window.edTop2->text(), window.edRight2->text(),
                  window.edBottom2->text()) +
         QStringLiteral("origin=%1\nabout=%2\nhelp=%3\n")
             .arg(ScreenPoint(window, QPoint(0, menu->height())),
                  ScreenPoint(*menu, menu->actionGeometry(window.m1).center()),
                  ScreenPoint(*menu, menu->actionGeometry(window.m2).center())) +
         QStringLiteral("hotkeys=%1,%2\nstatus=%3\nmessage=%4\n")
             .arg(window.HotKeyPresses(platform::Key::F9))
             .arg(window.HotKeyPresses(platform::Key::F10))
             .arg(window.lblStatus->text().simplified(), OpenMessage());
}

}  // namespace

void StartStatusReport(TfmMian& window) {
  const QString path = qEnvironmentVariable("OSTRANE_STATUS_FILE");
  if (path.isEmpty()) return;
  // Polled rather than hooked into every control: the file is rewritten only when its text
  // changed, and a reader always sees a whole file (written aside, then renamed).
  auto* timer = new QTimer(&window);
  auto last = std::make_shared<QString>();
  QObject::connect(timer, &QTimer::timeout, &window, [&window, path, last] {
    const QString text = StatusText(window);
    if (text == *last) return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(text.toUtf8());
    if (file.commit()) *last = text;
  });
  timer->start(50);
}

}  // namespace ostrane::ui
