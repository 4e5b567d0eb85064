#include "ui/NativeGlue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/x11/X11Desktop.h"

namespace ostrane::ui {

void PrepareNativePlatform() {
  // The windows must live on the X display the desktop backend talks to.
  qputenv("QT_QPA_PLATFORM", "xcb");
}

void AttachToEventLoop(platform::Desktop& desktop, QObject* owner) {
  auto* d = dynamic_cast<platform::x11::X11Desktop*>(&desktop);
  if (!d) {  // a desktop without an X connection of its own (tests): Qt's events only
    desktop.SetMessagePump([] { QCoreApplication::processEvents(); });
    return;
  }
  desktop.SetMessagePump([d] {
    QCoreApplication::processEvents();
    d->DispatchHotKeyEvents();
  });
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
