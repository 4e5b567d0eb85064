#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QObject>

#include "platform/win32/Win32Desktop.h"
#include "ui/NativeGlue.h"

namespace ostrane::ui {

namespace {

// Hands WM_HOTKEY for the owner window to the backend, which calls the hot-key handler.
class HotKeyFilter : public QObject, public QAbstractNativeEventFilter {
 public:
  HotKeyFilter(platform::win32::Win32Desktop& desktop, QObject* owner)
      : QObject(owner), desktop_(desktop) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  ~HotKeyFilter() override {
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
  }
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG" || !desktop_.HandleNativeMessage(message)) return false;
    // Qt's Windows dispatcher asks some filters without a place for a result.
    if (result) *result = 0;
    return true;
  }

 private:
  platform::win32::Win32Desktop& desktop_;
};

}  // namespace

void PrepareNativePlatform() {}

void AttachToEventLoop(platform::Desktop& desktop, QObject* owner) {
  desktop.SetMessagePump([] { QCoreApplication::processEvents(); });
  if (auto* d = dynamic_cast<platform::win32::Win32Desktop*>(&desktop)) new HotKeyFilter(*d, owner);
}

void DetachFromEventLoop(platform::Desktop& desktop) {
  desktop.SetMessagePump(nullptr);
}

}  // namespace ostrane::ui
