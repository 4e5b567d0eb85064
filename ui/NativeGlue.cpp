#include "ui/NativeGlue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/x11/X11Desktop.h"

namespace ostrane::ui {

void AttachToEventLoop(platform::x11::X11Desktop& desktop, QObject* owner) {
  platform::x11::X11Desktop* d = &desktop;
  desktop.SetMessagePump([d] {
    QCoreApplication::processEvents();
    d->DispatchHotKeyEvents();
  });
  const int fd = desktop.HotKeyConnectionFd();
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
  desktop.DispatchHotKeyEvents();
}

void DetachFromEventLoop(platform::x11::X11Desktop& desktop) {
  desktop.SetMessagePump(nullptr);
}

}  // namespace ostrane::ui
