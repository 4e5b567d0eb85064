// The main window's hot keys: F9 and F10 by key, a held F9, registration and release.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/MainWindowFixture.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Timer.h"
#include "ui/uMain.h"

namespace ostrane::ui {
namespace {

using testkit::CloseNextMessageBox;
using testkit::MainWindowTest;

TEST_F(MainWindowTest, HotKeysByKey) {
  ShowMarkAndScopes();
  using platform::Key;
  // A press reaches WMHotKey through the event loop.
  auto press = [&](Key key) {
    desktop_.PressHotKey(key);
    QCoreApplication::processEvents();
  };
  EXPECT_EQ(StartHotKey, Key::F9);
  EXPECT_EQ(StopHotKey, Key::F10);
  EXPECT_EQ(desktop_.HotKeys,
            (std::map<std::string, Key>{{"OstraneStart", Key::F9}, {"OstraneStop", Key::F10}}));
  w().WMHotKey(Key::F1);  // a key nobody registered
  EXPECT_FALSE(w().timerSetPoint->Enabled());
  press(Key::F10);
  EXPECT_FALSE(w().timerSetPoint->Enabled());  // stopping a stopped timer changes nothing
  ProgramSettings().ClickCount = 5;
  press(Key::F9);
  EXPECT_TRUE(w().timerSetPoint->Enabled());
  EXPECT_EQ(ProgramSettings().ClickCount, 0);
  w().WMHotKey(Key::F11);
  EXPECT_TRUE(w().timerSetPoint->Enabled());
  press(Key::F10);
  EXPECT_FALSE(w().timerSetPoint->Enabled());
  // The start key shows the same message as the button on bad input.
  w().edTop1->setText(QStringLiteral("top"));
  EXPECT_TRUE(CloseNextMessageBox([&] { press(Key::F9); }).Seen);

  // While that box is open the timer goes on, and the stop key still stops it.
  w().edTop1->setText(QStringLiteral("5"));
  w().btnStartClick();
  w().edTop1->setText(QStringLiteral("top"));
  bool runningBehindTheBox = false;
  bool stoppedBehindTheBox = false;
  EXPECT_TRUE(CloseNextMessageBox([&] { press(Key::F9); },
                                  [&] {
                                    runningBehindTheBox = w().timerSetPoint->Enabled();
                                    press(Key::F10);
                                    stoppedBehindTheBox = !w().timerSetPoint->Enabled();
                                  })
                  .Seen);
  EXPECT_TRUE(runningBehindTheBox);
  EXPECT_TRUE(stoppedBehindTheBox);
}

// A held start key repeats for as long as it is held: every press after the first fails again
// while the box is open, and must not open a box inside the box.
TEST_F(MainWindowTest, AHeldStartKeyOpensOneMessageAtATime) {
  ShowMarkAndScopes();
  SetInterval("0", "0", "1");
  w().btnStartClick();
  ASSERT_TRUE(w().timerSetPoint->Enabled());
  w().edBMPSimilar->setText(QStringLiteral("x"));
  using platform::Key;
  auto press = [&](Key key) {
    desktop_.PressHotKey(key);
    QCoreApplication::processEvents();
  };
  auto openBoxes = [] {
    int n = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
      n += widget->objectName() == QLatin1String("ScopeMessage") && widget->isVisible();
    return n;
  };
  // Should a box open inside the first one, this closes it again, so the test fails instead of
  // waiting for a click that never comes.
  int most = 0;
  QTimer nested;
  QObject::connect(&nested, &QTimer::timeout, [&] {
    most = std::max(most, openBoxes());
    if (openBoxes() > 1) QApplication::activeModalWidget()->close();
  });
  nested.start(5);

  constexpr int kPresses = 10000;
  int pressed = 0;
  int32_t clicksBehindTheBox = 0;
  bool stopped = false;
  const auto seen = CloseNextMessageBox([&] { press(Key::F9); },
                                        [&] {
                                          const int32_t before = ProgramSettings().ClickCount;
                                          for (; pressed < kPresses && most <= 1; ++pressed)
                                            press(Key::F9);
                                          // The fields before the failing one are still stored.
                                          w().edLeft1->setText(QStringLiteral("51"));
                                          press(Key::F9);
                                          QTest::qWait(350);
                                          clicksBehindTheBox =
                                              ProgramSettings().ClickCount - before;
                                          press(Key::F10);
                                          stopped = !w().timerSetPoint->Enabled();
                                        });
  nested.stop();
  ASSERT_TRUE(seen.Seen);
  EXPECT_EQ(pressed, kPresses);
  EXPECT_EQ(most, 1);
  EXPECT_EQ(ProgramSettings().FindScope.Left, 51);
  EXPECT_GE(clicksBehindTheBox, 1) << "the timer stood still behind the box";
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(w().StartMessageOpen());
  // Once the box is closed, the next failed Start shows it again.
  EXPECT_TRUE(CloseNextMessageBox([&] { press(Key::F9); }).Seen);
}

// Records hot-key registrations in order.
class HotKeyDesktop : public platform::MemoryDesktop {
 public:
  HotKeyDesktop() : MemoryDesktop(320, 240) {}
  std::vector<std::pair<std::string, platform::Key>> Registered;
  std::vector<std::string> Unregistered;
  bool RegisterHotKey(const std::string& name, platform::Key key) override {
    Registered.emplace_back(name, key);
    return MemoryDesktop::RegisterHotKey(name, key);
  }
  void UnregisterHotKey(const std::string& name) override {
    Unregistered.push_back(name);
    MemoryDesktop::UnregisterHotKey(name);
  }
};

TEST(HotKeyRegistration, RegisteredAtCreationReleasedOnClose) {
  using platform::Key;
  HotKeyDesktop desktop;
  desktop.HeldElsewhere = {Key::F9, Key::F10};  // the result is not examined
  platform::ScopedActiveDesktop scope(desktop);
  {
    TfmMian window;
    EXPECT_EQ(desktop.Registered, (std::vector<std::pair<std::string, Key>>{
                                      {"OstraneStart", Key::F9}, {"OstraneStop", Key::F10}}));
    EXPECT_EQ(desktop.Owner, static_cast<uintptr_t>(window.winId()));
    // Registering starts by releasing both names, which hold nothing the first time.
    EXPECT_EQ(desktop.Unregistered, (std::vector<std::string>{"OstraneStart", "OstraneStop"}));
    desktop.HeldElsewhere.clear();
    window.RegisterHotKeys();
    window.show();
    desktop.Unregistered.clear();
    window.close();
    EXPECT_EQ(desktop.Unregistered, (std::vector<std::string>{"OstraneStart", "OstraneStop"}));
    EXPECT_TRUE(desktop.HotKeys.empty());
    // Keys that arrive after the close reach nothing.
    desktop.PressHotKey(Key::F9);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.timerSetPoint->Enabled());
  }
}

}  // namespace
}  // namespace ostrane::ui
