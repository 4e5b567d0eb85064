#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

#include "engine/BitmapData.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Timer.h"
#include "ui/Version.h"
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
    EXPECT_EQ(ProgramSettings().FindScope.Right, 0) << c.what << ": nothing was stored";
  }
  // Once the user agrees, the same Start goes ahead.
  desktop_.AccessGranted = true;
  main_->btnStartClick();
  EXPECT_TRUE(main_->timerSetPoint->Enabled());
  EXPECT_EQ(ProgramSettings().FindScope.Right, 10);
  main_->btnStopClick();
}

TEST_F(ConsentTest, KeysThatAreNotGlobalWorkInTheWindowAndTheTitleSaysSo) {
  desktop_.GlobalHotKeys = false;
  Open();
  EXPECT_EQ(main_->windowTitle().toStdString(), std::string(OSTRANE_TITLE) + kLocalKeysTitle);
  main_->show();
  main_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main_.get()));
  QTest::keyClick(main_.get(), Qt::Key_F9);
  EXPECT_TRUE(main_->timerSetPoint->Enabled());
  QTest::keyClick(main_->edLeft1, Qt::Key_F10);
  EXPECT_FALSE(main_->timerSetPoint->Enabled());
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
