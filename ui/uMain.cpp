#include "ui/uMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QValidator>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/ClickPass.h"
#include "engine/Types.h"
#include "platform/Desktop.h"
#include "ui/Application.h"
#include "ui/Buttons.h"
#include "ui/DesktopGlue.h"
#include "ui/TextToInt.h"
#include "ui/Timer.h"
#include "ui/UAbout.h"
#include "ui/UpDown.h"
#include "ui/Version.h"
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

constexpr int kClientWidth = 297;
constexpr int kClientHeight = 324;

// A typing limit that, unlike QLineEdit's own, does not cut text set by the program.
class TypingLimit : public QValidator {
 public:
  TypingLimit(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}
  State validate(QString& input, int&) const override {
    return input.size() <= limit_ ? Acceptable : Invalid;
  }

 private:
  int limit_;
};

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->setFont(DesignFont(11));
  label->adjustSize();
  label->move(x, y);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  auto* edit = new QLineEdit(text, parent);
  edit->setFont(DesignFont(11));
  edit->setGeometry(x, y, w, h);
  return edit;
}

QGroupBox* MakeGroup(QWidget* parent, const QString& title, int x, int y, int w, int h) {
  auto* group = new QGroupBox(title, parent);
  group->setFont(DesignFont(11, true));
  QPalette palette = group->palette();
  palette.setColor(QPalette::Text, Qt::blue);  // the caption is drawn in the text colour
  palette.setColor(QPalette::WindowText, Qt::blue);
  group->setPalette(palette);
  group->setGeometry(x, y, w, h);
  return group;
}

// The controls inside a group: plain, and black or in the system's colours.
void SetInnerColours(QGroupBox* group, bool black) {
  const QPalette system = QApplication::palette();
  for (QWidget* child : group->findChildren<QWidget*>()) {
    QPalette palette = child->palette();
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
      palette.setColor(role, black ? QColor(Qt::black) : system.color(role));
    }
    child->setPalette(palette);
  }
}

TUpDown* MakeUpDown(QWidget* parent, QLineEdit* edit, int x, int y, int min, int max, int position,
                    int increment = 1) {
  auto* upDown = new TUpDown(parent);
  upDown->setGeometry(x, y, 16, 21);
  upDown->SetRange(min, max);
  upDown->SetIncrement(increment);
  upDown->SetAssociate(edit);
  upDown->SetPosition(position);
  return upDown;
}

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

}  // namespace

TfmMian::TfmMian(QWidget* parent) : QMainWindow(parent) {
  fmMian = this;
  BuildComponents();
  FormCreate();
}

TfmMian::~TfmMian() {
  ReleaseHotKeys();
  if (fmMian == this) fmMian = nullptr;
}

void TfmMian::BuildComponents() {
  setFont(DesignFont(11));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  m1 = menuBar()->addAction(QStringLiteral("About"));
  m2 = menuBar()->addAction(QStringLiteral("Help"));
  connect(m1, &QAction::triggered, this, [this] { m1Click(); });
  connect(m2, &QAction::triggered, this, [this] { m2Click(); });

  // The two scope groups share one inner layout.
  auto makeScopeGroup = [&](const QString& title, int top, const QString& buttonText,
                            TCaptionButton*& button, QLabel*(&labels)[4], QLineEdit*(&edits)[4]) {
    QGroupBox* group = MakeGroup(client, title, 8, top, 282, 79);
    button = new TCaptionButton(buttonText, group);
    button->setFont(DesignFont(11));
    button->setGeometry(8, 16, 81, 54);
    labels[0] = MakeLabel(group, QStringLiteral("Left:"), 98, 27);
    edits[0] = MakeEdit(group, QString(), 128, 23, 49, 21);
    labels[1] = MakeLabel(group, QStringLiteral("Top:"), 98, 52);
    edits[1] = MakeEdit(group, QString(), 128, 48, 49, 21);
    labels[2] = MakeLabel(group, QStringLiteral("Right:"), 183, 27);
    edits[2] = MakeEdit(group, QString(), 223, 23, 49, 21);
    labels[3] = MakeLabel(group, QStringLiteral("Bottom:"), 183, 52);
    edits[3] = MakeEdit(group, QString(), 223, 48, 49, 21);
    SetInnerColours(group, true);
    return group;
  };
  QLabel* labels1[4];
  QLineEdit* edits1[4];
  GroupBox1 = makeScopeGroup(QStringLiteral("Define What To Find On The Screen"), 9,
                             QStringLiteral("Define Scope"), Button1, labels1, edits1);
  Label1 = labels1[0], Label2 = labels1[1], Label3 = labels1[2], Label4 = labels1[3];
  edLeft1 = edits1[0], edTop1 = edits1[1], edRight1 = edits1[2], edBottom1 = edits1[3];
  QLabel* labels2[4];
  QLineEdit* edits2[4];
  GroupBox2 = makeScopeGroup(QStringLiteral("Define Where To Click On The Screen"), 95,
                             QStringLiteral("Define Scope "), Button3, labels2, edits2);
  Label6 = labels2[0], Label7 = labels2[1], Label8 = labels2[2], Label9 = labels2[3];
  edLeft2 = edits2[0], edTop2 = edits2[1], edRight2 = edits2[2], edBottom2 = edits2[3];
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  GroupBox3 = MakeGroup(client, QStringLiteral("Click Interval"), 8, 180, 155, 65);
  edIntMinute = MakeEdit(GroupBox3, QStringLiteral("0"), 8, 34, 29, 21);
  edIntSecond = MakeEdit(GroupBox3, QStringLiteral("1"), 54, 34, 29, 21);
  edIntTen = MakeEdit(GroupBox3, QStringLiteral("0"), 101, 34, 29, 21);
  edIntMinute->setValidator(new TypingLimit(2, edIntMinute));
  edIntSecond->setValidator(new TypingLimit(2, edIntSecond));
  edIntTen->setValidator(new TypingLimit(1, edIntTen));
  // Each label sits above its edit, 3 pixels apart.
  auto labelAbove = [&](const QString& text, QLineEdit* edit) {
    QLabel* label = MakeLabel(GroupBox3, text, edit->x(), 0);
    label->move(edit->x(), edit->y() - label->height() - 3);
    label->setBuddy(edit);
    return label;
  };
  LabelMinute = labelAbove(QStringLiteral("Minutes"), edIntMinute);
  LabelSecond = labelAbove(QStringLiteral("Seconds"), edIntSecond);
  LabelTen = labelAbove(QStringLiteral("1/10 S"), edIntTen);
  UpDown2 = MakeUpDown(GroupBox3, edIntMinute, 37, 34, 0, 999, 0);
  UpDown3 = MakeUpDown(GroupBox3, edIntSecond, 83, 34, 0, 59, 1);
  UpDown4 = MakeUpDown(GroupBox3, edIntTen, 130, 34, 0, 9, 0);
  SetInnerColours(GroupBox3, false);

  GroupBox4 = MakeGroup(client, QStringLiteral("Picture Similar"), 168, 180, 121, 65);
  edBMPSimilar = MakeEdit(GroupBox4, QStringLiteral("100"), 23, 25, 31, 21);
  UpDown10 = MakeUpDown(GroupBox4, edBMPSimilar, 54, 25, 60, 100, 100, 5);
  Label19 = MakeLabel(GroupBox4, QStringLiteral("%"), 74, 29);
  SetInnerColours(GroupBox4, true);

  btnStart = new TCaptionButton(QStringLiteral("(F9)"), client);
  btnStart->setGeometry(110, 251, 88, 65);
  btnStart->SetGlyph(StartGlyph());
  btnStop = new TCaptionButton(QStringLiteral("(F10)"), client);
  btnStop->setGeometry(200, 251, 88, 65);
  btnStop->SetGlyph(StopGlyph());
  connect(btnStart, &QPushButton::clicked, this, [this] { btnStartClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });

  Label5 = MakeLabel(client, QStringLiteral("Find Count:"), 9, 275);
  lblCount = new QLabel(QStringLiteral("0"), client);
  lblCount->setFont(DesignFont(19));
  lblCount->move(71, 270);
  lblCount->setMinimumWidth(36);
  lblCount->adjustSize();

  timerSetPoint = new TTimer(this);
  timerSetPoint->OnTimer = [this] { timerSetPointTimer(); };

  // Tab order: the find group, the click group, Start, Stop, the interval, the similarity.
  const QList<QWidget*> order = {edLeft1,  edTop1,   edBottom1,   edRight1,     Button1,
                                 edLeft2,  edTop2,   edBottom2,   edRight2,     Button3,
                                 btnStart, btnStop,  edIntMinute, UpDown2,      edIntSecond,
                                 UpDown3,  edIntTen, UpDown4,     edBMPSimilar, UpDown10};
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
  edLeft1->setFocus();

  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
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
  timerSetPoint->SetEnabled(false);
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
    CentredMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromStdString(message),
                          QMessageBox::Ok);
    box.setObjectName(QStringLiteral("AccessMessage"));
    box.exec();
  }
  return granted;
}

void TfmMian::btnStartClick() {
  if (!HaveDesktopAccess()) return;
  try {
    Start();
  } catch (...) {
    // A held F9 repeats Start while the box is open, and each further box would open inside
    // the loop of the one before until the stack runs out: the open box already says it.
    if (!startMessageOpen_) ShowStartMessage();
  }
}

void TfmMian::Start() {
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
  s.ClickCount = 0;
  timerSetPoint->SetInterval(s.ClickIntervalMs);
  timerSetPoint->SetEnabled(true);
}

void TfmMian::ShowStartMessage() {
  const ScopedFlag open(startMessageOpen_);
  CentredMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromLatin1(kScopeMessage),
                        QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ScopeMessage"));
  box.exec();
}

void TfmMian::btnStopClick() {
  timerSetPoint->SetEnabled(false);
}

void TfmMian::timerSetPointTimer() {
  // A pass lets pending events through; a tick arriving then is skipped so passes never nest.
  if (passRunning_ || !platform::HasActiveDesktop()) return;
  const ScopedFlag running(passRunning_);
  RunSettings& s = ProgramSettings();
  // Stop, the hot keys and repaints are handled before and after the search and click.
  ProcessMessages();
  // The pass reads the settings as they stand now: a Start handled just above may have
  // replaced them.
  const PassResult result = FindAndClick(
      platform::ActiveDesktop(), ProgramPassInput(s.FindScope, s.ClickScope, s.SimilarPercent));
  if (result.Clicked) s.ClickCount = WrapAdd(s.ClickCount, 1);
  ProcessMessages();
  lblCount->setText(QString::number(s.ClickCount));
  lblCount->adjustSize();
}

void TfmMian::Button1Click() {
  if (fmCopy && HaveDesktopAccess()) fmCopy->BeginPick(false);
}

void TfmMian::Button3Click() {
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
  desktop.UnregisterHotKey(kStartHotKeyName);
  desktop.UnregisterHotKey(kStopHotKeyName);
  StartHotKey = platform::Key::F9;
  StopHotKey = platform::Key::F10;
  // A key another program holds does nothing here (the X11 backend names it on stderr); the
  // buttons still work.
  desktop.RegisterHotKey(kStartHotKeyName, StartHotKey);
  desktop.RegisterHotKey(kStopHotKeyName, StopHotKey);
  if (!desktop.HotKeysAreGlobal() && !localKeys_) {
    // The keys reach the program only while one of its windows has the focus; the title says
    // so, since a user expects them to work from anywhere.
    localKeys_ = true;
    for (const auto& [sequence, key] :
         {std::pair{Qt::Key_F9, platform::Key::F9}, std::pair{Qt::Key_F10, platform::Key::F10}}) {
      auto* shortcut = new QShortcut(QKeySequence(sequence), this);
      shortcut->setContext(Qt::ApplicationShortcut);
      connect(shortcut, &QShortcut::activated, this, [this, key = key] { WMHotKey(key); });
    }
    setWindowTitle(QStringLiteral(OSTRANE_TITLE) + QString::fromLatin1(kLocalKeysTitle));
  }
}

void TfmMian::ReleaseHotKeys() {
  if (!platform::HasActiveDesktop()) return;
  platform::Desktop& desktop = platform::ActiveDesktop();
  desktop.UnregisterHotKey(kStartHotKeyName);
  desktop.UnregisterHotKey(kStopHotKeyName);
  desktop.SetHotKeyHandler(nullptr);
}

void TfmMian::WMHotKey(platform::Key key) {
  if (key == platform::Key::NoKey) return;
  if (key == StartHotKey) {
    btnStartClick();
  } else if (key == StopHotKey) {
    btnStopClick();
  }
}

}  // namespace ostrane::ui
