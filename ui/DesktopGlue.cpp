#include "ui/DesktopGlue.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>

#include "ui/Application.h"

namespace ostrane::ui {

namespace {
QtEventLoop* g_current = nullptr;
}  // namespace

void PrepareWindowSystem(const platform::BackendEntry& backend) {
  // The windows must live on the desktop the backend talks to.
  qputenv("QT_QPA_PLATFORM", backend.WindowSystem);
  if (backend.UnscaledWindows) PreparePhysicalPixels();
}

class QtEventLoop::NativeFilter : public QAbstractNativeEventFilter {
 public:
  NativeFilter(QByteArray type, std::function<bool(const void*)> filter)
      : type_(std::move(type)), filter_(std::move(filter)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  ~NativeFilter() override {
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
  }
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != type_ || !filter_(message)) return false;
    // Qt's Windows dispatcher asks some filters without a place for a result.
    if (result) *result = 0;
    return true;
  }

 private:
  QByteArray type_;
  std::function<bool(const void*)> filter_;
};

QtEventLoop::QtEventLoop() : previous_(g_current) {
  g_current = this;
  // Events a library read into a queue of its own leave its descriptor silent: they are read
  // before the loop goes to sleep.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &owner_,
                     [this] { RunIdleWork(); });
  }
}

QtEventLoop::~QtEventLoop() {
  for (NativeFilter* filter : filters_)
    delete filter;
  if (g_current == this) g_current = previous_;
}

void QtEventLoop::WatchReadable(int fd, std::function<void()> readable) {
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &owner_);
  QObject::connect(notifier, &QSocketNotifier::activated, &owner_,
                   [readable = std::move(readable)] { readable(); });
}

void QtEventLoop::OnIdle(std::function<void()> work) {
  idle_.push_back(std::move(work));
}

void QtEventLoop::FilterNativeMessages(const char* type, std::function<bool(const void*)> filter) {
  filters_.push_back(new NativeFilter(QByteArray(type), std::move(filter)));
}

void QtEventLoop::ProcessPending() {
  ProcessMessages();
}

void QtEventLoop::RunIdleWork() {
  for (const auto& work : idle_)
    work();
}

void ProcessMessages() {
  QCoreApplication::processEvents();
  if (g_current) g_current->RunIdleWork();
}

}  // namespace ostrane::ui
