// The main window's components: their kinds, texts, places and tab order, as the design gives
// them.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QValidator>
#include <array>

#include "ui/Application.h"
#include "ui/Buttons.h"
#include "ui/Timer.h"
#include "ui/UpDown.h"
#include "ui/uMain.h"

namespace ostrane::ui {

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

}  // namespace

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

  // The two scope groups share one inner layout: Left, Top, Right, Bottom.
  struct Field {
    const char* label;
    int labelX, labelY, editX, editY;
  };
  static constexpr Field kFields[4] = {{"Left:", 98, 27, 128, 23},
                                       {"Top:", 98, 52, 128, 48},
                                       {"Right:", 183, 27, 223, 23},
                                       {"Bottom:", 183, 52, 223, 48}};
  auto makeScopeGroup = [&](const char* title, int top, const char* buttonText,
                            TCaptionButton*& button, std::array<QLabel**, 4> labels,
                            std::array<QLineEdit**, 4> edits) {
    QGroupBox* group = MakeGroup(client, QString::fromLatin1(title), 8, top, 282, 79);
    button = new TCaptionButton(QString::fromLatin1(buttonText), group);
    button->setFont(DesignFont(11));
    button->setGeometry(8, 16, 81, 54);
    for (size_t i = 0; i < 4; ++i) {
      const Field& f = kFields[i];
      *labels[i] = MakeLabel(group, QString::fromLatin1(f.label), f.labelX, f.labelY);
      *edits[i] = MakeEdit(group, QString(), f.editX, f.editY, 49, 21);
    }
    SetInnerColours(group, true);
    return group;
  };
  GroupBox1 = makeScopeGroup("Define What To Find On The Screen", 9, "Define Scope", Button1,
                             {&Label1, &Label2, &Label3, &Label4},
                             {&edLeft1, &edTop1, &edRight1, &edBottom1});
  GroupBox2 = makeScopeGroup("Define Where To Click On The Screen", 95, "Define Scope ", Button3,
                             {&Label6, &Label7, &Label8, &Label9},
                             {&edLeft2, &edTop2, &edRight2, &edBottom2});
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

  // The status line: shown only while there is something to say (see SetStatusText).
  lblStatus = new QLabel(this);
  lblStatus->setFont(DesignFont(11));
  lblStatus->setWordWrap(true);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(lblStatus, 1);
  statusBar()->hide();
  FitToContent();
}

void TfmMian::FitToContent() {
  // The window is as tall as its parts: the status line wraps its text over as many lines as it
  // needs at the window's width, and counts whether or not the window is shown yet.
  int status = 0;
  if (!statusBar()->isHidden()) {
    const QMargins margins = statusBar()->contentsMargins();
    const int width = kClientWidth - margins.left() - margins.right() - 8;
    lblStatus->setFixedWidth(width);
    lblStatus->setFixedHeight(lblStatus->heightForWidth(width));
    status = lblStatus->height() + margins.top() + margins.bottom() + 6;
    statusBar()->setFixedHeight(status);
  }
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + status);
}

}  // namespace ostrane::ui
