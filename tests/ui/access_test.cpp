#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "ostrane/Version.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Timer.h"
#include "ui/uCopy.h"
#include "ui/uMain.h"

namespace ostrane::ui {
namespace {

using platform::Key;
using testkit::CloseNextMessageBox;

// A desktop that grants capture and input only with the user's consent, and whose hot keys
// may not be global.
class ConsentTest : public ::testing::Test {
 protected:
  ConsentTest() : desktop_(320, 240), scope_(desktop_) {
    ProgramSettings() = RunSettings{};
    InitScreenMetrics();
  }
  void Open() {
    main_ = std::make_unique<TfmMian>();
    picker_ = std::make_unique<TfmCopy>(main_.get());
    const char* values[] = {"0", "0", "10", "10"};
    QLineEdit* edits[] = {main_->edLeft1, main_->edTop1, main_->edRight1, main_->edBottom1,
                          main_->edLeft2, main_->edTop2, main_->edRight2, main_->edBottom2};
    for (int i = 0; i < 8; ++i)
      edits[i]->setText(QString::fromLatin1(values[i % 4]));
  }
  ~ConsentTest() override {
    picker_.reset();
    main_.reset();
  }

  platform::MemoryDesktop desktop_;
  platform::ScopedActiveDesktop scope_;
  std::unique_ptr<TfmMian> main_;
  std::unique_ptr<TfmCopy> picker_;
};

TEST_F(ConsentTest, ARefusalIsSaidOnceAndNothingElseHappensUntilAskedAgain) {
  Open();
  desktop_.AccessGranted = false;
  desktop_.AccessMessage = "Screen capture and clicking need permission on this desktop";
  struct Case {
    const char* what;
    std::function<void()> act;
  };
  const Case cases[] = {
      {"Start", [&] { main_->btnStartClick(); }},
      {"F9", [&] { main_->WMHotKey(Key::F9); }},
      {"find scope", [&] { main_->Button1Click(); }},
      {"click scope", [&] { main_->Button3Click(); }},
  };
  for (const Case& c : cases) {
    const int asked = desktop_.AccessRequests;
    const auto seen = CloseNextMessageBox(c.act);
    EXPECT_TRUE(seen.Seen) << c.what;
    EXPECT_EQ(seen.Text.toStdString(), desktop_.AccessMessage) << c.what;
    EXPECT_EQ(desktop_.AccessRequests, asked + 1) << c.what << ": every attempt asks again";
    EXPECT_FALSE(main_->timerSetPoint->Enabled()) << c.what;
    EXPECT_FALSE(picker_->Timer1->Enabled()) << c.what << ": no pick begins";
  }
  // Once the user agrees, the same Start goes ahead.
  desktop_.AccessGranted = true;
  main_->btnStartClick();
  EXPECT_TRUE(main_->timerSetPoint->Enabled());
  EXPECT_EQ(ProgramSettings().FindScope.Right, 10);
  main_->btnStopClick();
}

// The fields are read before anything else: a mistake in them is told without asking for
// consent first.
TEST_F(ConsentTest, FieldsThatCannotBeReadAreToldBeforeConsentIsAsked) {
  Open();
  desktop_.AccessGranted = false;
  main_->edLeft1->setText(QString());
  for (const auto& act : {std::function<void()>([&] { main_->btnStartClick(); }),
                          std::function<void()>([&] { main_->WMHotKey(Key::F9); })}) {
    const auto seen = CloseNextMessageBox(act);
    EXPECT_EQ(seen.Text.toStdString(), kScopeMessage);
    EXPECT_EQ(desktop_.AccessRequests, 0);
  }
}

TEST_F(ConsentTest, KeysThatAreNotGlobalWorkInTheWindowAndTheStatusLineSaysSo) {
  desktop_.GlobalHotKeys = false;
  desktop_.PointerWatchable = true;
  Open();
  EXPECT_EQ(main_->windowTitle().toStdString(), OSTRANE_TITLE);
  EXPECT_EQ(main_->lblStatus->text().toStdString(), std::string(kLocalKeysNote) + kCornerStopNote);
  // The line sits below the client area, its text whole.
  main_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main_.get()));
  EXPECT_GE(main_->statusBar()->geometry().top(), main_->centralWidget()->geometry().bottom());
  EXPECT_GE(main_->lblStatus->height(),
            main_->lblStatus->heightForWidth(main_->lblStatus->width()));
  EXPECT_LE(main_->statusBar()->geometry().bottom(), main_->height());
  // The corner stops a run.
  main_->btnStartClick();
  ASSERT_TRUE(main_->timerSetPoint->Enabled());
  desktop_.PointerWatcher(0, 0);
  EXPECT_FALSE(main_->timerSetPoint->Enabled());
  main_->show();
  main_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main_.get()));
  QTest::keyClick(main_.get(), Qt::Key_F9);
  EXPECT_TRUE(main_->timerSetPoint->Enabled());
  QTest::keyClick(main_->edLeft1, Qt::Key_F10);
  EXPECT_FALSE(main_->timerSetPoint->Enabled());
}

// A key the desktop would not register works in the window, and the status line says which,
// in the same words on every desktop; with both keys global there is nothing to say.
TEST_F(ConsentTest, KeysHeldElsewhereAreNamedInTheStatusLine) {
  struct Case {
    std::vector<Key> held;
    const char* said;
  };
  for (const Case& c :
       {Case{{}, ""},
        Case{{Key::F9},
             "F9 could not be made global (another program may hold it): it works in this "
             "window only."},
        Case{{Key::F9, Key::F10},
             "F9 and F10 could not be made global (other programs may hold them): they work in "
             "this window only."}}) {
    desktop_.HeldElsewhere = c.held;
    Open();
    EXPECT_EQ(main_->lblStatus->text().toStdString(), c.said);
    EXPECT_EQ(main_->statusBar()->isVisibleTo(main_.get()), !c.held.empty());
    picker_.reset();
    main_.reset();
  }
}

TEST_F(ConsentTest, GlobalKeysLeaveTheTitleAlone) {
  Open();
  EXPECT_EQ(main_->windowTitle().toStdString(), OSTRANE_TITLE);
  main_->show();
  main_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main_.get()));
  QTest::keyClick(main_.get(), Qt::Key_F9);  // the system delivers these, not the window
  EXPECT_FALSE(main_->timerSetPoint->Enabled());
}

}  // namespace
}  // namespace ostrane::ui
