// Joins the X11 desktop to Qt's event loop: the desktop's "process pending messages" runs Qt's
// pending events, and hot-key presses on the desktop's own connection are read whenever that
// connection has data and whenever the loop is about to wait.
#pragma once

class QObject;

namespace ostrane::platform::x11 {
class X11Desktop;
}

namespace ostrane::ui {

// The desktop must outlive `owner`, which holds the watchers.
void AttachToEventLoop(platform::x11::X11Desktop& desktop, QObject* owner);
// Undoes the message pump (the watchers go with their owner).
void DetachFromEventLoop(platform::x11::X11Desktop& desktop);

}  // namespace ostrane::ui
