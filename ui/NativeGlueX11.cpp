#include "ui/NativeGlue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Error.h"
#include "ui/Application.h"

namespace ostrane::ui {

void PrepareNativePlatform() {
  // The windows must live on the X display the desktop backend talks to.
  qputenv("QT_QPA_PLATFORM", "xcb");
  // X reports screen pixels and so does the window system; Qt's scaling stays off so that
  // every window coordinate is one too.
  PreparePhysicalPixels();
}

void AttachToEventLoop(platform::Desktop& desktop, QObject* owner) {
  auto* d = dynamic_cast<platform::x11::X11Desktop*>(&desktop);
  if (!d) {  // a desktop without an X connection of its own (tests): Qt's events only
    desktop.SetMessagePump([] { QCoreApplication::processEvents(); });
    return;
  }
  // Qt's X connection set its own process-wide error handlers when the application object was
  // made, after ours: without this, failed requests of ours would go unseen and a lost server
  // would end the program with Qt's messages instead of ours.
  platform::x11::InstallErrorHandlers();
  desktop.SetMessagePump([d] {
    QCoreApplication::processEvents();
    d->DispatchHotKeyEvents();
  });
  // The server closes its connections one after another when it goes down, the capture
  // connection (opened before Qt's) first: watching it lets the lost server be noticed here,
  // with the program's own message, before Qt notices on its own connection.
  auto* captureNotifier = new QSocketNotifier(d->ConnectionFd(), QSocketNotifier::Read, owner);
  QObject::connect(captureNotifier, &QSocketNotifier::activated, owner,
                   [d] { d->DispatchEvents(); });
  const int fd = d->HotKeyConnectionFd();
  if (fd >= 0) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [d] { d->DispatchHotKeyEvents(); });
  }
  // Any round trip on that connection may have pulled events into Xlib's own queue, where the
  // socket stays silent: read them before the loop goes to sleep.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, owner,
                     [d] { d->DispatchHotKeyEvents(); });
  }
  d->DispatchHotKeyEvents();
}

void DetachFromEventLoop(platform::Desktop& desktop) {
  desktop.SetMessagePump(nullptr);
}

}  // namespace ostrane::ui
