// Joins the desktop backend to Qt's event loop: the desktop's "process pending messages" runs
// Qt's pending events, and hot-key presses reach the desktop's hot-key handler. One
// implementation per backend (NativeGlueX11.cpp, NativeGlueWin32.cpp); CMake builds the one
// that fits.
#pragma once

class QObject;

namespace ostrane::platform {
class Desktop;
}

namespace ostrane::ui {

// Settings that must be made before the application object exists: which Qt platform plugin
// shows the windows, and whether Qt scales them (not on X11; on Windows it does, and the system
// still reports screen pixels, since Qt makes the program aware of each monitor's scaling).
void PrepareNativePlatform();

// The desktop must outlive `owner`, which holds the watchers.
void AttachToEventLoop(platform::Desktop& desktop, QObject* owner);
// Undoes the message pump (the watchers go with their owner).
void DetachFromEventLoop(platform::Desktop& desktop);

}  // namespace ostrane::ui
