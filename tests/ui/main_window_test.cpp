#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/BitmapData.h"
#include "engine/Types.h"
#include "ostrane/Version.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/ui/MainWindowFixture.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Application.h"
#include "ui/Buttons.h"
#include "ui/DesktopGlue.h"
#include "ui/Timer.h"
#include "ui/UpDown.h"
#include "ui/uMain.h"

namespace ostrane::ui {
namespace {

using testkit::CloseNextMessageBox;
using testkit::MainWindowTest;

TEST_F(MainWindowTest, DesignGeometryTextsAndWindowKind) {
  struct Case {
    QWidget* widget;
    QRect geometry;
    const char* text;
  };
  const Case cases[] = {
      {w().GroupBox1, {8, 9, 282, 79}, "Define What To Find On The Screen"},
      {w().GroupBox2, {8, 95, 282, 79}, "Define Where To Click On The Screen"},
      {w().GroupBox3, {8, 180, 155, 65}, "Click Interval"},
      {w().GroupBox4, {168, 180, 121, 65}, "Picture Similar"},
      {w().Button1, {8, 16, 81, 54}, "Define Scope"},
      {w().Button3, {8, 16, 81, 54}, "Define Scope "},
      {w().edLeft1, {128, 23, 49, 21}, ""},
      {w().edBottom2, {223, 48, 49, 21}, ""},
      {w().edIntMinute, {8, 34, 29, 21}, "0"},
      {w().UpDown2, {37, 34, 16, 21}, nullptr},
      {w().edIntSecond, {54, 34, 29, 21}, "1"},
      {w().edIntTen, {101, 34, 29, 21}, "0"},
      {w().edBMPSimilar, {23, 25, 31, 21}, "100"},
      {w().UpDown10, {54, 25, 16, 21}, nullptr},
      {w().btnStart, {110, 251, 88, 65}, "(F9)"},
      {w().btnStop, {200, 251, 88, 65}, "(F10)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.widget->geometry(), c.geometry) << c.text;
    if (!c.text) continue;
    QString text;
    if (auto* g = qobject_cast<QGroupBox*>(c.widget)) text = g->title();
    if (auto* e = qobject_cast<QLineEdit*>(c.widget)) text = e->text();
    if (auto* b = qobject_cast<QPushButton*>(c.widget)) text = b->text();
    EXPECT_EQ(text.toStdString(), c.text);
  }
  EXPECT_EQ(w().Label19->pos(), QPoint(74, 29));
  EXPECT_EQ(w().lblCount->pos(), QPoint(71, 270));
  EXPECT_EQ(w().lblCount->font().pixelSize(), 19);
  EXPECT_TRUE(w().GroupBox1->font().bold());
  EXPECT_FALSE(w().edLeft1->font().bold());
  EXPECT_EQ(w().edLeft1->font().family().toStdString(), "MS Sans Serif");
  EXPECT_EQ(w().btnStart->Glyph().size(), QSize(48, 48));
  EXPECT_EQ(w().windowTitle().toStdString(), OSTRANE_TITLE);
  EXPECT_EQ(w().centralWidget()->size(), QSize(297, 324));
  EXPECT_EQ(w().minimumSize(), w().maximumSize());
  EXPECT_FALSE(w().windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w().windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(w().timerSetPoint->Enabled());
  EXPECT_EQ(w().lblCount->text().toStdString(), "0");

  // The picture's white background is transparent: corners clear, centre coloured.
  const QImage start = StartGlyph().toImage();
  EXPECT_EQ(qAlpha(start.pixel(0, 0)), 0);
  EXPECT_GT(qGreen(start.pixel(24, 24)), 120);
  const QImage stop = StopGlyph().toImage();
  EXPECT_EQ(qAlpha(stop.pixel(47, 47)), 0);
  EXPECT_GT(qRed(stop.pixel(24, 24)), 150);
}

TEST_F(MainWindowTest, EveryCaptionFitsItsBox) {
  for (QLabel* label : w().findChildren<QLabel*>()) {
    const QFontMetrics m(label->font());
    EXPECT_LE(m.horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
  }
  // The labels left of the edits end before the edits begin.
  EXPECT_LE(w().Label4->geometry().right(), w().edBottom1->x());
  EXPECT_LE(w().Label2->geometry().right(), w().edTop1->x());
  EXPECT_LE(w().LabelSecond->geometry().right(), w().LabelTen->x());
  EXPECT_LE(w().Label5->geometry().right(), w().lblCount->x());
}

TEST_F(MainWindowTest, TabOrder) {
  QWidget* expected[] = {w().edLeft1,     w().edTop1,  w().edBottom1,    w().edRight1,
                         w().Button1,     w().edLeft2, w().edTop2,       w().edBottom2,
                         w().edRight2,    w().Button3, w().btnStart,     w().btnStop,
                         w().edIntMinute, w().UpDown2, w().edIntSecond,  w().UpDown3,
                         w().edIntTen,    w().UpDown4, w().edBMPSimilar, w().UpDown10};
  // The next widget Tab reaches: the next one in the chain that takes focus by Tab.
  auto nextTabStop = [](QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
      next = next->nextInFocusChain();
    return next;
  };
  for (size_t i = 1; i < std::size(expected); ++i)
    EXPECT_EQ(nextTabStop(expected[i - 1]), expected[i]) << i;
}

TEST_F(MainWindowTest, DefaultsGiveOneSecondAndExactMatching) {
  ShowMarkAndScopes();
  w().btnStartClick();
  EXPECT_EQ(ProgramSettings().ClickIntervalMs, 1000);
  EXPECT_EQ(ProgramSettings().SimilarPercent, 100);
  EXPECT_EQ(ProgramSettings().FindScope.Right, 56);
  EXPECT_EQ(ProgramSettings().ClickScope.Bottom, 100);
  EXPECT_TRUE(w().timerSetPoint->Enabled());
  EXPECT_EQ(w().timerSetPoint->Interval(), 1000u);
}

TEST_F(MainWindowTest, IntervalArithmetic) {
  ShowMarkAndScopes();
  struct Case {
    const char *m, *s, *t;
    int32_t ms;
  };
  for (const Case c :
       {Case{"2", "5", "3", 125300}, Case{"999", "0", "0", 59940000}, Case{"0", "0", "0", 0},
        Case{"-1", "0", "0", -60000}, Case{"$FFFFFFFF", "1", "0", -59000},
        // 64-bit text, low 32 bits kept: 2^32 + 1 seconds is one second.
        Case{"0", "4294967297", "0", 1000}}) {
    SetInterval(c.m, c.s, c.t);
    w().btnStartClick();
    EXPECT_EQ(ProgramSettings().ClickIntervalMs, c.ms) << c.m << ' ' << c.s << ' ' << c.t;
    EXPECT_EQ(w().timerSetPoint->Interval(), static_cast<uint32_t>(c.ms));
  }
}

TEST_F(MainWindowTest, EmptyLeftShowsTheMessageAndLeavesTheTimerAlone) {
  const auto seen = CloseNextMessageBox([&] { w().btnStartClick(); });
  ASSERT_TRUE(seen.Seen);
  EXPECT_EQ(seen.Text.toStdString(), "You must define the scope on the screen!");
  EXPECT_EQ(seen.Icon, QMessageBox::NoIcon);
  ASSERT_EQ(seen.Buttons.size(), 1);
  EXPECT_EQ(seen.Buttons[0], QMessageBox::Ok);
  EXPECT_EQ(seen.Title, ApplicationTitle());
  EXPECT_EQ(seen.Title.toStdString(), "ui_tests");
  const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
  EXPECT_LE((seen.Geometry.center() - screenCentre).manhattanLength(), 3);
  EXPECT_FALSE(w().timerSetPoint->Enabled());

  // While running, the failed Start keeps the countdown as it was.
  ShowMarkAndScopes();
  w().btnStartClick();
  const auto due = w().timerSetPoint->Due();
  ProgramSettings().ClickCount = 7;
  w().edLeft1->clear();
  SetInterval("0", "3", "0");
  ASSERT_TRUE(CloseNextMessageBox([&] { w().btnStartClick(); }).Seen);
  EXPECT_TRUE(w().timerSetPoint->Enabled());
  EXPECT_EQ(w().timerSetPoint->Due(), due);
  EXPECT_EQ(w().timerSetPoint->Interval(), 1000u);
  EXPECT_EQ(ProgramSettings().ClickCount, 7);
}

TEST_F(MainWindowTest, LettersInTheSimilarityStoreTheScopesFirst) {
  const char* find[4] = {"1", "2", "3", "4"};
  const char* click[4] = {"-5", "$10", " 7", "0x20"};
  SetScopes(find, click);
  w().edBMPSimilar->setText(QStringLiteral("abc"));
  SetInterval("0", "7", "0");
  ProgramSettings().SimilarPercent = 42;
  ProgramSettings().ClickIntervalMs = 99;
  ASSERT_TRUE(CloseNextMessageBox([&] { w().btnStartClick(); }).Seen);
  const RunSettings& s = ProgramSettings();
  EXPECT_EQ(s.FindScope.Left, 1);
  EXPECT_EQ(s.FindScope.Top, 2);
  EXPECT_EQ(s.FindScope.Right, 3);
  EXPECT_EQ(s.FindScope.Bottom, 4);
  EXPECT_EQ(s.ClickScope.Left, -5);
  EXPECT_EQ(s.ClickScope.Top, 16);
  EXPECT_EQ(s.ClickScope.Right, 7);
  EXPECT_EQ(s.ClickScope.Bottom, 32);
  EXPECT_EQ(s.SimilarPercent, 42);
  EXPECT_EQ(s.ClickIntervalMs, 99);
  EXPECT_FALSE(w().timerSetPoint->Enabled());
}

TEST_F(MainWindowTest, TicksClickAndCountAndStartAgainResetsTheCounter) {
  ShowMarkAndScopes();
  SetInterval("0", "0", "1");
  w().btnStartClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w().lblCount->text() == "2"; }, 5000));
  EXPECT_EQ(desktop_.PointerX, 53);  // centre of the 6 x 4 mark at (50, 40)
  EXPECT_EQ(desktop_.PointerY, 42);

  // Start again: the counter is reset, the label keeps the old count until the next tick.
  w().btnStopClick();
  const QString shown = w().lblCount->text();
  w().btnStartClick();
  EXPECT_EQ(ProgramSettings().ClickCount, 0);
  EXPECT_EQ(w().lblCount->text(), shown);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w().lblCount->text() == "1"; }, 5000));

  // Stop keeps both the count and the label.
  w().btnStopClick();
  const int32_t count = ProgramSettings().ClickCount;
  QTest::qWait(250);
  EXPECT_EQ(ProgramSettings().ClickCount, count);
  EXPECT_EQ(w().lblCount->text(), QString::number(count));
}

TEST_F(MainWindowTest, AnExceptionFromATickIsDroppedAndTheTicksGoOn) {
  ShowMarkAndScopes();
  SetInterval("0", "0", "1");
  desktop_.ThrowOnCapture = 0;
  const int dropped = DroppedExceptionCount();
  w().btnStartClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w().lblCount->text() == "1"; }, 5000));
  EXPECT_EQ(DroppedExceptionCount(), dropped + 1);
  EXPECT_FALSE(w().Runner().PassUnderWay());
  w().btnStopClick();
}

TEST_F(MainWindowTest, ATickInsideARunningPassIsSkipped) {
  ShowMarkAndScopes();
  w().btnStartClick();
  w().btnStopClick();
  int nested = 0;
  QtEventLoop loop;
  loop.OnIdle([&] {
    if (nested++ == 0) w().timerSetPointTimer();  // a tick that fell due during the pass
  });
  desktop_.CaptureCount = 0;
  w().timerSetPointTimer();
  EXPECT_EQ(desktop_.CaptureCount, 2);  // one pass, two captures
  EXPECT_EQ(ProgramSettings().ClickCount, 1);
  EXPECT_EQ(w().lblCount->text().toStdString(), "1");
}

TEST_F(MainWindowTest, SpinnersWriteStepAndStopAtTheirLimits) {
  struct Case {
    TUpDown* upDown;
    QLineEdit* edit;
    int32_t min, max, increment, position;
  };
  for (const Case c : {Case{w().UpDown2, w().edIntMinute, 0, 999, 1, 0},
                       Case{w().UpDown3, w().edIntSecond, 0, 59, 1, 1},
                       Case{w().UpDown4, w().edIntTen, 0, 9, 1, 0},
                       Case{w().UpDown10, w().edBMPSimilar, 60, 100, 5, 100}}) {
    EXPECT_EQ(c.upDown->Associate(), c.edit);
    EXPECT_EQ(c.upDown->Min(), c.min);
    EXPECT_EQ(c.upDown->Max(), c.max);
    EXPECT_EQ(c.upDown->Increment(), c.increment);
    EXPECT_EQ(c.upDown->Position(), c.position);
    for (int i = 0; i < 1100; ++i)
      c.upDown->Step(+1);
    EXPECT_EQ(c.edit->text(), QString::number(c.max));  // beyond the typing limit
    for (int i = 0; i < 1100; ++i)
      c.upDown->Step(-1);
    EXPECT_EQ(c.edit->text(), QString::number(c.min));  // no wrapping
  }
  // A click on the arrow, and the arrow keys in the edit.
  w().UpDown10->SetPosition(100);
  QTest::mouseClick(w().UpDown10->DownButton(), Qt::LeftButton);
  EXPECT_EQ(w().edBMPSimilar->text().toStdString(), "95");
  QTest::keyClick(w().edBMPSimilar, Qt::Key_Down);
  EXPECT_EQ(w().edBMPSimilar->text().toStdString(), "90");
  QTest::keyClick(w().edBMPSimilar, Qt::Key_Up);
  EXPECT_EQ(w().edBMPSimilar->text().toStdString(), "95");
  // A number typed within the limits is where the next step starts.
  w().edIntSecond->setText(QStringLiteral("30"));
  QTest::keyClick(w().edIntSecond, Qt::Key_Up);
  EXPECT_EQ(w().edIntSecond->text().toStdString(), "31");
}

TEST_F(MainWindowTest, EditsTakeAnyTextWithinTheirTypingLimits) {
  w().edLeft1->setFocus();
  QTest::keyClicks(w().edLeft1, "abc -1");
  EXPECT_EQ(w().edLeft1->text().toStdString(), "abc -1");
  w().edIntMinute->clear();
  QTest::keyClicks(w().edIntMinute, "1x34");
  EXPECT_EQ(w().edIntMinute->text().toStdString(), "1x");
  w().edIntTen->clear();
  QTest::keyClicks(w().edIntTen, "78");
  EXPECT_EQ(w().edIntTen->text().toStdString(), "7");
}

TEST_F(MainWindowTest, ScalingCannotShiftCoordinates) {
  EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), QByteArray());
  w().show();
  EXPECT_EQ(w().devicePixelRatio(), 1.0);
  EXPECT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0);
  EXPECT_EQ(w().edLeft1->mapTo(&w(), QPoint(0, 0)),
            QPoint(8 + 128, 9 + 23 + w().menuBar()->height()));
}

}  // namespace
}  // namespace ostrane::ui
