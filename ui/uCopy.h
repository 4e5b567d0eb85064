// The region picker: a borderless window over the whole screen showing a frozen picture of it,
// on which the user draws a rectangle; its corners go into one group of the main window's edits.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

namespace ostrane::ui {

class TfmMian;
class TTimer;

// How long the main window has to disappear before the picture is taken.
inline constexpr int32_t PickerDelayMs = 200;

// Inverts the pixels of a figure, so that drawing it twice restores the picture exactly. The
// figures are built from their two corner points as given, in either order.
namespace invert {
// The outline of the rectangle with corners (x1, y1) and (x2, y2), right and bottom edges
// excluded as the screen's rectangle drawing does; empty when either side is 0.
void Rectangle(QImage& image, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// A vertical line through x and a horizontal one through y, each across the whole picture.
void Crosshair(QImage& image, int32_t x, int32_t y);
}  // namespace invert

// Shows the frozen picture and reports the mouse to the picker.
class TImage : public QWidget {
 public:
  explicit TImage(QWidget* parent);
  QImage Picture;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TfmCopy : public QWidget {
 public:
  // `main` receives the picked corners; nullptr means the program's fmMian.
  explicit TfmCopy(TfmMian* main = nullptr);
  ~TfmCopy() override;

  TImage* Image1;
  TTimer* Timer1;

  bool Dragging = false;
  bool CrosshairOn = false;
  bool TargetScope = false;
  int32_t LastX = -1, LastY = -1;
  int32_t CurX = 0, CurY = 0;
  int32_t StartX = 0, StartY = 0;
  int32_t EndX = 0, EndY = 0;

  // Opens the picker for the find scope (false) or the click scope (true).
  void BeginPick(bool clickScope);

  void Timer1Timer();
  void Image1MouseDown(int32_t x, int32_t y);
  void Image1MouseMove(int32_t x, int32_t y);
  void Image1MouseUp(int32_t x, int32_t y);
  void StoreScope();
  // The release (or a second press) at (x, y): the scope is stored and the main window returns.
  void EndPick(int32_t x, int32_t y);

 private:
  TfmMian* Main() const;
  void EraseCrosshair();
  void HideOverlay();
  void ShowMain();

  TfmMian* main_;
};

// The program's picker, once created.
extern TfmCopy* fmCopy;

}  // namespace ostrane::ui
