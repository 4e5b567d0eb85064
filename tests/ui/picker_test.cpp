#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRandomGenerator>
#include <QTest>
#include <memory>

#include "engine/BitmapData.h"
#include "engine/Types.h"
#include "platform/memory/MemoryDesktop.h"
#include "ui/Timer.h"
#include "ui/uCopy.h"
#include "ui/uMain.h"

namespace ostrane::ui {
namespace {

using platform::MemoryDesktop;

QImage RandomPicture(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  QRandomGenerator random(42);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, 0xFF000000u | (random.generate() & 0xFFFFFF));
  return image;
}

TEST(InvertDrawing, DrawingTwiceRestoresEveryPixel) {
  const QImage original = RandomPicture(64, 48);
  struct Figure {
    bool rect;
    int x1, y1, x2, y2;
  };
  for (const Figure f :
       {Figure{true, 10, 10, 30, 20}, Figure{true, 30, 20, 10, 10}, Figure{true, 5, 5, 5, 5},
        Figure{true, 5, 5, 6, 40}, Figure{true, -10, -10, 100, 100}, Figure{true, 60, 40, 2, 3},
        Figure{false, 0, 0, 0, 0}, Figure{false, 63, 47, 0, 0}, Figure{false, 20, 30, 0, 0},
        Figure{false, -1, -1, 0, 0}, Figure{false, 200, 10, 0, 0}}) {
    QImage image = original.copy();
    if (f.rect) {
      invert::Rectangle(image, f.x1, f.y1, f.x2, f.y2);
      invert::Rectangle(image, f.x1, f.y1, f.x2, f.y2);
    } else {
      invert::Crosshair(image, f.x1, f.y1);
      invert::Crosshair(image, f.x1, f.y1);
    }
    EXPECT_EQ(image, original) << f.rect << ' ' << f.x1 << ',' << f.y1;
  }
}

TEST(InvertDrawing, OutlineCoversItsCornersOnceAndNotTheInside) {
  QImage image(20, 20, QImage::Format_RGB32);
  image.fill(Qt::white);
  // Dragged up and to the left: built from the two corners, not a normalised rectangle.
  invert::Rectangle(image, 15, 12, 5, 4);
  auto black = [&](int x, int y) { return image.pixel(x, y) == qRgb(0, 0, 0); };
  EXPECT_TRUE(black(5, 4));
  EXPECT_TRUE(black(14, 4));
  EXPECT_TRUE(black(5, 11));
  EXPECT_TRUE(black(14, 11));
  EXPECT_FALSE(black(15, 12));  // right and bottom edges excluded
  EXPECT_FALSE(black(10, 8));   // hollow
  int inverted = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      inverted += black(x, y);
  EXPECT_EQ(inverted, 2 * 10 + 2 * 6);

  QImage cross(9, 7, QImage::Format_RGB32);
  cross.fill(Qt::white);
  invert::Crosshair(cross, 3, 2);
  EXPECT_EQ(cross.pixel(3, 0), qRgb(0, 0, 0));
  EXPECT_EQ(cross.pixel(8, 2), qRgb(0, 0, 0));
  EXPECT_EQ(cross.pixel(4, 3), qRgb(255, 255, 255));
}

class PickerTest : public ::testing::Test {
 protected:
  PickerTest() : desktop_(640, 480, 0x336699), scope_(desktop_) {
    ProgramSettings() = RunSettings{};
    InitScreenMetrics();
    desktop_.Fill(10, 10, 50, 50, 0xFF0000);
    main_ = std::make_unique<TfmMian>();
    picker_ = std::make_unique<TfmCopy>(main_.get());
    main_->show();
  }

  // Opens the picker for one scope and brings the overlay up at once.
  void Open(bool clickScope) {
    main_->Button1Click();
    if (clickScope) main_->Button3Click();
    ASSERT_FALSE(main_->isVisible());
    ASSERT_TRUE(picker_->Timer1->Enabled());
    picker_->Timer1Timer();
    ASSERT_TRUE(picker_->isVisible());
  }
  QWidget* image() { return picker_->Image1; }
  void Press(Qt::MouseButton b, int x, int y) { QTest::mousePress(image(), b, {}, QPoint(x, y)); }
  void Release(Qt::MouseButton b, int x, int y) {
    QTest::mouseRelease(image(), b, {}, QPoint(x, y));
  }
  void Move(int x, int y) { QTest::mouseMove(image(), QPoint(x, y)); }
  std::string Scope(bool clickScope) {
    auto text = [](QLineEdit* e) { return e->text().toStdString(); };
    TfmMian& m = *main_;
    return clickScope ? text(m.edLeft2) + "," + text(m.edTop2) + "," + text(m.edRight2) + "," +
                            text(m.edBottom2)
                      : text(m.edLeft1) + "," + text(m.edTop1) + "," + text(m.edRight1) + "," +
                            text(m.edBottom1);
  }

  MemoryDesktop desktop_;
  platform::ScopedActiveDesktop scope_;
  std::unique_ptr<TfmMian> main_;
  std::unique_ptr<TfmCopy> picker_;
};

TEST_F(PickerTest, TheOverlayCoversTheScreenWithItsFrozenPicture) {
  main_->Button1Click();
  EXPECT_FALSE(main_->isVisible());
  EXPECT_EQ(picker_->Timer1->Interval(), 200u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return picker_->isVisible(); }, 3000));
  EXPECT_FALSE(picker_->Timer1->Enabled());
  EXPECT_EQ(picker_->geometry(), QRect(0, 0, 640, 480));
  EXPECT_EQ(picker_->Image1->geometry(), QRect(0, 0, 640, 480));
  EXPECT_EQ(picker_->devicePixelRatio(), 1.0);
  EXPECT_TRUE(picker_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(picker_->Image1->Picture.pixel(20, 20), qRgb(255, 0, 0));
  EXPECT_EQ(picker_->Image1->Picture.pixel(100, 100), qRgb(0x33, 0x66, 0x99));
  EXPECT_TRUE(picker_->CrosshairOn);
  EXPECT_EQ(picker_->LastX, -1);
  // The picture stays as taken while the screen changes.
  desktop_.Fill(0, 0, 640, 480, 0);
  EXPECT_EQ(picker_->Image1->Picture.pixel(20, 20), qRgb(255, 0, 0));
}

TEST_F(PickerTest, DragUpAndLeftWritesTheCornersAsPicked) {
  Open(false);
  Move(300, 400);
  Press(Qt::LeftButton, 300, 400);
  Move(200, 300);
  Move(100, 150);
  Release(Qt::LeftButton, 100, 150);
  EXPECT_EQ(Scope(false), "300,400,100,150");
  EXPECT_EQ(Scope(true), ",,,");
  EXPECT_FALSE(picker_->isVisible());
  EXPECT_FALSE(picker_->Dragging);
  EXPECT_TRUE(main_->isVisible());
}

TEST_F(PickerTest, AClickWithoutMovementAndEveryButtonPick) {
  struct Case {
    Qt::MouseButton button;
    bool clickScope;
    int x, y;
  };
  for (const Case c : {Case{Qt::LeftButton, true, 50, 60}, Case{Qt::RightButton, false, 7, 8},
                       Case{Qt::MiddleButton, true, 639, 479}}) {
    Open(c.clickScope);
    Press(c.button, c.x, c.y);
    Release(c.button, c.x, c.y);
    const std::string x = std::to_string(c.x), y = std::to_string(c.y);
    EXPECT_EQ(Scope(c.clickScope), x + "," + y + "," + x + "," + y) << c.button;
    EXPECT_TRUE(main_->isVisible());
  }
}

TEST_F(PickerTest, ASecondPressEndsThePick) {
  Open(true);
  Press(Qt::LeftButton, 10, 20);
  Move(25, 35);
  Press(Qt::RightButton, 30, 40);
  EXPECT_EQ(Scope(true), "10,20,30,40");
  EXPECT_FALSE(picker_->isVisible());
  EXPECT_FALSE(picker_->Dragging);
  // The release that follows changes nothing.
  Release(Qt::LeftButton, 99, 99);
  EXPECT_EQ(Scope(true), "10,20,30,40");
}

TEST_F(PickerTest, CrosshairAndBandAreErasedExactly) {
  Open(false);
  const QImage original = picker_->Image1->Picture.copy();
  Move(100, 120);
  EXPECT_EQ(picker_->Image1->Picture.pixel(100, 5), original.pixel(100, 5) ^ 0x00FFFFFF);
  Move(300, 200);
  EXPECT_EQ(picker_->Image1->Picture.pixel(100, 5), original.pixel(100, 5));
  Press(Qt::LeftButton, 300, 200);
  EXPECT_EQ(picker_->Image1->Picture, original);  // the crosshair is gone
  Move(250, 150);
  Move(350, 260);
  EXPECT_EQ(picker_->Image1->Picture.pixel(300, 200), original.pixel(300, 200) ^ 0x00FFFFFF);
  EXPECT_EQ(picker_->Image1->Picture.pixel(260, 160), original.pixel(260, 160));  // old band gone
  Move(300, 200);  // back to a plain point: no band
  EXPECT_EQ(picker_->Image1->Picture, original);
}

TEST_F(PickerTest, AFailedFreezeFrameBringsTheMainWindowBackUnchanged) {
  main_->edLeft1->setText(QStringLiteral("1"));
  desktop_.FailCopy = true;
  main_->Button1Click();
  EXPECT_FALSE(main_->isVisible());
  picker_->Timer1Timer();
  EXPECT_FALSE(picker_->isVisible());
  EXPECT_TRUE(main_->isVisible());
  EXPECT_FALSE(picker_->Timer1->Enabled());
  EXPECT_EQ(Scope(false), "1,,,");
}

TEST_F(PickerTest, APickDoesNotStopARunningRepetition) {
  main_->edLeft1->setText(QStringLiteral("0"));
  for (QLineEdit* e : {main_->edTop1, main_->edRight1, main_->edBottom1, main_->edLeft2,
                       main_->edTop2, main_->edRight2, main_->edBottom2})
    e->setText(QStringLiteral("0"));
  main_->btnStartClick();
  Open(true);
  Press(Qt::LeftButton, 1, 2);
  Release(Qt::LeftButton, 3, 4);
  EXPECT_TRUE(main_->timerSetPoint->Enabled());
  EXPECT_EQ(ProgramSettings().ClickScope.Right, 0);  // used at the next Start
}

}  // namespace
}  // namespace ostrane::ui
