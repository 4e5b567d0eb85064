#include "ui/uMain.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "engine/Types.h"
#include "ostrane/Version.h"
#include "platform/Desktop.h"
#include "ui/Application.h"
#include "ui/DesktopGlue.h"
#include "ui/TextToInt.h"
#include "ui/Timer.h"
#include "ui/UAbout.h"
#include "ui/uCopy.h"

namespace ostrane::ui {

platform::Key StartHotKey = platform::Key::NoKey;
platform::Key StopHotKey = platform::Key::NoKey;
TfmMian* fmMian = nullptr;

RunSettings& ProgramSettings() {
  static RunSettings settings;
  return settings;
}

void CentreOnScreen(QWidget& window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize frame = window.frameGeometry().size();
    window.move(screen->geometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }
}

namespace {

int32_t ToInt32(const QLineEdit* edit) {
  const auto value = TextToInt32(edit->text().toStdString());
  if (!value) throw std::invalid_argument("not an integer: " + edit->text().toStdString());
  return *value;
}

int32_t ToInt64Low32(const QLineEdit* edit) {
  const auto value = TextToInt64(edit->text().toStdString());
  if (!value) throw std::invalid_argument("not an integer: " + edit->text().toStdString());
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(*value)));
}

// Sets a flag for the length of a scope, however the scope is left.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

// A message box centred on the screen once it knows its own size.
class CentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    CentreOnScreen(*this);
  }
};

void ShowMessage(const QString& name, const QString& text) {
  CentredMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
  box.setObjectName(name);
  box.exec();
}

// The hot keys: the program-wide key each is registered with, the name it is registered under,
// and its key.
struct HotKeyBinding {
  platform::Key* Registered;
  const char* Name;
  platform::Key Key;
};
const HotKeyBinding kHotKeys[] = {{&StartHotKey, kStartHotKeyName, platform::Key::F9},
                                  {&StopHotKey, kStopHotKeyName, platform::Key::F10}};

QString KeyName(platform::Key key) {
  return QStringLiteral("F%1").arg(platform::FunctionKeyNumber(key));
}

// What the status line says of a pass that could not do its work.
QString PassNote(const PassResult& result) {
  switch (result.Outcome) {
    case PassOutcome::CaptureFailed:
      return QStringLiteral("The screen could not be read.");
    case PassOutcome::ClickRefused:
      return QStringLiteral("The desktop did not take the click.");
    default:
      return {};
  }
}

}  // namespace

TfmMian::TfmMian(QWidget* parent, const search::SearchOptions& search) : QMainWindow(parent) {
  fmMian = this;
  BuildComponents();
  platform::Desktop* desktop = platform::HasActiveDesktop() ? &platform::ActiveDesktop() : nullptr;
  runner_ = std::make_unique<PassRunner>(
      desktop, *timerSetPoint, ProgramSettings(),
      platform::ScreenSize{ScreenMetrics.Width, ScreenMetrics.Height}, search, ProcessMessages);
  FormCreate();
}

TfmMian::~TfmMian() {
  ReleaseHotKeys();
  if (platform::HasActiveDesktop()) platform::ActiveDesktop().WatchPointer(nullptr);
  if (fmMian == this) fmMian = nullptr;
}

void TfmMian::FormCreate() {
  TApplication::SetExceptionHandler(SilentExceptionHandler);
  setWindowTitle(QStringLiteral(OSTRANE_TITLE));
  RegisterHotKeys();
}

void TfmMian::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (centred_) return;
  centred_ = true;
  CentreOnScreen(*this);
}

void TfmMian::closeEvent(QCloseEvent* event) {
  FormClose();
  QMainWindow::closeEvent(event);
}

void TfmMian::FormClose() {
  if (closed_) return;
  closed_ = true;
  runner_->Stop();
  ReleaseHotKeys();
  QCoreApplication::quit();
}

bool TfmMian::HaveDesktopAccess() {
  if (!platform::HasActiveDesktop()) return true;
  // Asking may wait for the user's answer while events go on; a second Start or Define Scope
  // meanwhile (a held F9) waits for the same answer rather than asking again.
  if (accessPending_) return false;
  std::string message;
  bool granted;
  {
    const ScopedFlag pending(accessPending_);
    granted = platform::ActiveDesktop().RequestAccess(message);
  }
  if (!granted && !accessMessageOpen_) {
    const ScopedFlag open(accessMessageOpen_);
    ShowMessage(QStringLiteral("AccessMessage"), QString::fromStdString(message));
  }
  return granted;
}

void TfmMian::btnStartClick() {
  try {
    // The fields first: a mistake in them is told before any consent is asked for.
    ReadFields();
    if (!HaveDesktopAccess()) return;
    runner_->Start();
  } catch (...) {
    // A held F9 repeats Start while the box is open, and each further box would open inside
    // the loop of the one before until the stack runs out: the open box already says it.
    if (!startMessageOpen_) ShowStartMessage();
  }
}

void TfmMian::ReadFields() {
  RunSettings& s = ProgramSettings();
  // Each value is stored as soon as it has been read, so a failure keeps the earlier ones.
  s.FindScope.Left = ToInt32(edLeft1);
  s.FindScope.Top = ToInt32(edTop1);
  s.FindScope.Right = ToInt32(edRight1);
  s.FindScope.Bottom = ToInt32(edBottom1);
  s.ClickScope.Left = ToInt32(edLeft2);
  s.ClickScope.Top = ToInt32(edTop2);
  s.ClickScope.Right = ToInt32(edRight2);
  s.ClickScope.Bottom = ToInt32(edBottom2);
  s.SimilarPercent = ToInt32(edBMPSimilar);
  const int32_t minutes = ToInt64Low32(edIntMinute);
  const int32_t seconds = ToInt64Low32(edIntSecond);
  const int32_t tenths = ToInt64Low32(edIntTen);
  s.ClickIntervalMs =
      WrapAdd(WrapAdd(WrapMul(minutes, 60000), WrapMul(seconds, 1000)), WrapMul(tenths, 100));
}

void TfmMian::ShowStartMessage() {
  const ScopedFlag open(startMessageOpen_);
  ShowMessage(QStringLiteral("ScopeMessage"), QString::fromLatin1(kScopeMessage));
}

void TfmMian::btnStopClick() {
  runner_->Stop();
}

void TfmMian::timerSetPointTimer() {
  // Stop, the hot keys and repaints are handled before and after the search and click; a tick
  // arriving meanwhile is skipped.
  const auto result = runner_->Tick();
  if (!result) return;
  if (result->Outcome != PassOutcome::Cancelled) {
    passNote_ = PassNote(*result);
    ShowStatus();
  }
  lblCount->setText(QString::number(ProgramSettings().ClickCount));
  lblCount->adjustSize();
}

void TfmMian::Button1Click() {
  // The picker hides this window and freezes the screen: a pass must not click into it.
  runner_->CancelPass();
  if (fmCopy && HaveDesktopAccess()) fmCopy->BeginPick(false);
}

void TfmMian::Button3Click() {
  runner_->CancelPass();
  if (fmCopy && HaveDesktopAccess()) fmCopy->BeginPick(true);
}

void TfmMian::m1Click() {
  TFMAbout box(this);
  box.exec();
}

void TfmMian::m2Click() {
  OpenHomePage();
}

void TfmMian::RegisterHotKeys() {
  if (!platform::HasActiveDesktop()) return;
  platform::Desktop& desktop = platform::ActiveDesktop();
  desktop.SetOwnerWindow(static_cast<uintptr_t>(winId()));
  // The press is handled from the event loop, not from inside the backend's event reading:
  // Start may open a modal box, which runs a loop of its own.
  desktop.SetHotKeyHandler([this](platform::Key key) {
    QMetaObject::invokeMethod(
        this, [this, key] { WMHotKey(key); }, Qt::QueuedConnection);
  });
  std::vector<platform::Desktop::HotKey> wanted;
  for (const HotKeyBinding& binding : kHotKeys) {
    desktop.UnregisterHotKey(binding.Name);
    *binding.Registered = binding.Key;
    wanted.push_back({binding.Name, binding.Key});
  }
  const std::vector<bool> registered = desktop.RegisterHotKeys(wanted);
  const bool global = desktop.HotKeysAreGlobal();

  // A key that cannot reach the program from anywhere works while one of its windows has the
  // focus, and the status line says so: a user expects the keys to work from anywhere.
  QStringList local;
  bool stopLocal = false;
  for (size_t i = 0; i < std::size(kHotKeys); ++i) {
    if (global && i < registered.size() && registered[i]) continue;
    const platform::Key key = kHotKeys[i].Key;
    local << KeyName(key);
    stopLocal = stopLocal || kHotKeys[i].Registered == &StopHotKey;
    if (localKeys_) continue;
    auto* shortcut =
        new QShortcut(QKeySequence(Qt::Key_F1 + platform::FunctionKeyNumber(key) - 1), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, key] { WMHotKey(key); });
  }
  localKeys_ = localKeys_ || !local.isEmpty();
  if (local.isEmpty()) {
    keysNote_.clear();
  } else if (!global) {
    keysNote_ = QString::fromLatin1(kLocalKeysNote);
  } else {
    keysNote_ = local.join(QStringLiteral(" and ")) +
                (local.size() == 1 ? QStringLiteral(" could not be made global (another program "
                                                    "may hold it): it works in this window only.")
                                   : QStringLiteral(" could not be made global (other programs "
                                                    "may hold them): they work in this window "
                                                    "only."));
  }
  // Where F10 cannot stop the run from anywhere, the pointer can: pushed into the top-left
  // corner, if the desktop reports where it is.
  if (stopLocal &&
      desktop.WatchPointer([this](int32_t x, int32_t y) { runner_->PointerMoved(x, y); })) {
    keysNote_ += QString::fromLatin1(kCornerStopNote);
  }
  ShowStatus();
}

void TfmMian::ReleaseHotKeys() {
  if (!platform::HasActiveDesktop()) return;
  platform::Desktop& desktop = platform::ActiveDesktop();
  for (const HotKeyBinding& binding : kHotKeys)
    desktop.UnregisterHotKey(binding.Name);
  desktop.SetHotKeyHandler(nullptr);
}

int TfmMian::HotKeyPresses(platform::Key key) const {
  const auto found = hotKeyPresses_.find(key);
  return found == hotKeyPresses_.end() ? 0 : found->second;
}

void TfmMian::WMHotKey(platform::Key key) {
  if (key == platform::Key::NoKey) return;
  ++hotKeyPresses_[key];
  if (key == StartHotKey) {
    btnStartClick();
  } else if (key == StopHotKey) {
    btnStopClick();
  }
}

void TfmMian::ShowStatus() {
  QStringList parts;
  if (!passNote_.isEmpty()) parts << passNote_;
  if (!keysNote_.isEmpty()) parts << keysNote_;
  const QString text = parts.join(QLatin1Char(' '));
  if (text == lblStatus->text() && statusBar()->isHidden() == text.isEmpty()) return;
  lblStatus->setText(text);
  statusBar()->setHidden(text.isEmpty());
  FitToContent();
}

}  // namespace ostrane::ui
