#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "ostrane/Version.h"
#include "platform/memory/MemoryDesktop.h"
#include "ui/UAbout.h"
#include "ui/uMain.h"

namespace ostrane::ui {
namespace {

// Records what the program asks the desktop to open.
class RecordingDesktop : public platform::MemoryDesktop {
 public:
  RecordingDesktop() : MemoryDesktop(640, 480) {}
  std::vector<std::string> Opened;
  bool Answer = false;
  bool ShellOpen(const std::string& target) override {
    Opened.push_back(target);
    return Answer;
  }
};

class AboutTest : public ::testing::Test {
 protected:
  AboutTest() : scope_(desktop_) {}
  RecordingDesktop desktop_;
  platform::ScopedActiveDesktop scope_;
};

TEST_F(AboutTest, LabelsAndLayout) {
  TFMAbout box;
  box.show();
  EXPECT_EQ(box.windowTitle().toStdString(), "About");
  EXPECT_EQ(box.size(), QSize(322, 118));
  struct Case {
    QLabel* label;
    QPoint position;
    std::string text;
  };
  for (const Case& c :
       {Case{box.Label1, {74, 11}, OSTRANE_TITLE}, Case{box.Label2, {63, 34}, kCopyright},
        Case{box.Label4, {22, 65}, "Web: "}, Case{box.Label5, {64, 67}, kHomePage},
        Case{box.Label6, {22, 89}, "Email: "}, Case{box.Label7, {64, 91}, kSupportMail}}) {
    EXPECT_EQ(c.label->pos(), c.position) << c.text;
    EXPECT_EQ(c.label->text().toStdString(), c.text);
    EXPECT_LE(QFontMetrics(c.label->font()).horizontalAdvance(c.label->text()), c.label->width())
        << c.text;
  }
  EXPECT_TRUE(box.Label1->font().bold());
  EXPECT_EQ(box.Label5->size(), QSize(227, 13));
  EXPECT_EQ(box.Label7->size(), QSize(213, 13));
  for (QLabel* link : {static_cast<QLabel*>(box.Label5), static_cast<QLabel*>(box.Label7)}) {
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->font().pixelSize(), 11);
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
  }
}

TEST_F(AboutTest, LinksOpenThroughTheDesktopAndABackgroundClickCloses) {
  TFMAbout box;
  box.show();
  QTest::mouseClick(box.Label5, Qt::LeftButton);
  QTest::mouseClick(box.Label7, Qt::LeftButton);
  ASSERT_EQ(desktop_.Opened.size(), 2u);
  EXPECT_EQ(desktop_.Opened[0], OSTRANE_HOME_PAGE);
  EXPECT_EQ(desktop_.Opened[1], "mailto:" OSTRANE_SUPPORT_MAIL);
  EXPECT_TRUE(box.isVisible());
  QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(box.isVisible());
  // The opener's answer is not examined.
  EXPECT_TRUE(OpenHomePage());
  desktop_.Answer = true;
  EXPECT_TRUE(OpenSupportMail());
}

TEST_F(AboutTest, MenuItems) {
  TfmMian main;
  main.m2Click();
  ASSERT_EQ(desktop_.Opened.size(), 1u);
  EXPECT_EQ(desktop_.Opened[0], kHomePage);

  // "About" shows the box modally, owned by the main window, until it is closed.
  bool seen = false;
  QTimer closer;
  int tries = 0;
  closer.setInterval(5);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box && box->isVisible()) {
      seen = box->parentWidget() == &main && box->windowTitle() == "About";
      box->close();
      closer.stop();
    } else if (++tries > 400) {
      closer.stop();
    }
  });
  closer.start();
  main.m1->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(main.findChildren<TFMAbout*>().size(), 0);  // destroyed after use
}

}  // namespace
}  // namespace ostrane::ui
