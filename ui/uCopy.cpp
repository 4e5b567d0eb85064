#include "ui/uCopy.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "platform/Desktop.h"
#include "platform/PixelRows.h"
#include "ui/Timer.h"
#include "ui/uMain.h"

namespace ostrane::ui {

TfmCopy* fmCopy = nullptr;

namespace invert {

namespace {
void Pixel(QImage& image, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
  auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
  row[x] ^= 0x00FFFFFFu;
}
}  // namespace

void Rectangle(QImage& image, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t l = std::min(x1, x2), r = std::max(x1, x2) - int64_t{1};
  const int64_t t = std::min(y1, y2), b = std::max(y1, y2) - int64_t{1};
  if (r < l || b < t) return;
  // Clipped to the picture, every pixel of the outline exactly once.
  const int64_t w = image.width(), h = image.height();
  for (int64_t x = std::max<int64_t>(l, 0); x <= std::min(r, w - 1); ++x) {
    Pixel(image, static_cast<int32_t>(x), static_cast<int32_t>(t));
    if (b != t) Pixel(image, static_cast<int32_t>(x), static_cast<int32_t>(b));
  }
  for (int64_t y = std::max<int64_t>(t + 1, 0); y <= std::min(b - 1, h - 1); ++y) {
    Pixel(image, static_cast<int32_t>(l), static_cast<int32_t>(y));
    if (r != l) Pixel(image, static_cast<int32_t>(r), static_cast<int32_t>(y));
  }
}

void Crosshair(QImage& image, int32_t x, int32_t y) {
  // Two separate lines, as the screen draws them: the crossing point is inverted twice.
  if (x >= 0 && x < image.width())
    for (int32_t row = 0; row < image.height(); ++row)
      Pixel(image, x, row);
  if (y >= 0 && y < image.height())
    for (int32_t col = 0; col < image.width(); ++col)
      Pixel(image, col, y);
}

}  // namespace invert

TImage::TImage(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::paintEvent(QPaintEvent* event) {
  // The picture holds one pixel per screen pixel; where Qt scales the windows, its pixel ratio
  // maps the widget's logical area back onto them.
  QPainter painter(this);
  const QRectF area(event->rect());
  const qreal ratio = Picture.devicePixelRatio();
  painter.drawImage(area, Picture, QRectF(area.topLeft() * ratio, area.size() * ratio));
}

namespace {
TfmCopy* PickerOf(QWidget* image) {
  return static_cast<TfmCopy*>(image->parentWidget());
}
// Corners are screen pixels: a position in the widget's logical units times the picture's
// pixel ratio (1 where Qt does not scale). The system reports whole screen pixels, which the
// division into logical units and back may leave a hair below: rounded, not truncated.
int32_t ScreenPixel(qreal logical, qreal ratio) {
  return static_cast<int32_t>(std::lround(logical * ratio));
}
}  // namespace

void TImage::mousePressEvent(QMouseEvent* e) {
  const qreal r = Picture.devicePixelRatio();
  PickerOf(this)->Image1MouseDown(ScreenPixel(e->position().x(), r),
                                  ScreenPixel(e->position().y(), r));
}
void TImage::mouseMoveEvent(QMouseEvent* e) {
  const qreal r = Picture.devicePixelRatio();
  PickerOf(this)->Image1MouseMove(ScreenPixel(e->position().x(), r),
                                  ScreenPixel(e->position().y(), r));
}
void TImage::mouseReleaseEvent(QMouseEvent* e) {
  const qreal r = Picture.devicePixelRatio();
  PickerOf(this)->Image1MouseUp(ScreenPixel(e->position().x(), r),
                                ScreenPixel(e->position().y(), r));
}

TfmCopy::TfmCopy(TfmMian* main) : QWidget(nullptr), main_(main) {
  // Borderless, above everything and placed by the program itself, so that a point of the
  // picture is the same point on the screen with or without a window manager.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::X11BypassWindowManagerHint);
  setWindowTitle(QStringLiteral("fmCopy"));
  resize(116, 62);
  Image1 = new TImage(this);
  Image1->setGeometry(0, 0, 116, 62);
  Timer1 = new TTimer(this);
  Timer1->SetInterval(PickerDelayMs);
  Timer1->OnTimer = [this] { Timer1Timer(); };
  fmCopy = this;
}

TfmCopy::~TfmCopy() {
  if (fmCopy == this) fmCopy = nullptr;
}

TfmMian* TfmCopy::Main() const {
  return main_ ? main_ : fmMian;
}

void TfmCopy::BeginPick(bool clickScope) {
  if (TfmMian* main = Main()) main->hide();
  TargetScope = clickScope;
  Timer1->SetEnabled(true);
}

void TfmCopy::Timer1Timer() {
  Timer1->SetEnabled(false);
  platform::Frame frame;
  if (!platform::HasActiveDesktop() || !platform::ActiveDesktop().CaptureFrame(frame) ||
      frame.Width <= 0 || frame.Height <= 0) {
    // No picture, no pick: the main window comes back as it was.
    ShowMain();
    return;
  }
  QImage picture(frame.Width, frame.Height, QImage::Format_RGB32);
  for (int32_t y = 0; y < frame.Height; ++y) {
    const uint8_t* in = platform::RowFromTop(frame.Bits.data(), frame.Height, frame.LineBytes, y);
    auto* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int32_t x = 0; x < frame.Width; ++x)
      out[x] = qRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
  }
  // The frame is in screen pixels; the window is placed in Qt's logical units.
  const QScreen* screen = QGuiApplication::primaryScreen();
  const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
  picture.setDevicePixelRatio(ratio);
  const int w = static_cast<int>(std::ceil(frame.Width / ratio));
  const int h = static_cast<int>(std::ceil(frame.Height / ratio));
  Image1->Picture = std::move(picture);
  Image1->setGeometry(0, 0, w, h);
  setGeometry(0, 0, w, h);
  if (QGuiApplication::platformName() == QLatin1String("wayland")) {
    // A Wayland client cannot place its windows; a full-screen one covers the output from its
    // corner, as the picture needs.
    showFullScreen();
  } else {
    show();
  }
  raise();
  activateWindow();
  // Bypassing the window manager means no focus of its own: hold the mouse while picking.
  Image1->grabMouse(Qt::CrossCursor);
  LastX = LastY = -1;
  CrosshairOn = true;
  Dragging = false;
}

void TfmCopy::EraseCrosshair() {
  if (LastX == -1 && LastY == -1) return;
  invert::Crosshair(Image1->Picture, LastX, LastY);
  Image1->update();
}

void TfmCopy::Image1MouseMove(int32_t x, int32_t y) {
  if (Dragging) {
    invert::Rectangle(Image1->Picture, StartX, StartY, CurX, CurY);
    invert::Rectangle(Image1->Picture, StartX, StartY, x, y);
    CurX = x;
    CurY = y;
    Image1->update();
  } else if (CrosshairOn) {
    EraseCrosshair();
    invert::Crosshair(Image1->Picture, x, y);
    LastX = x;
    LastY = y;
    Image1->update();
  }
}

void TfmCopy::Image1MouseDown(int32_t x, int32_t y) {
  if (!Dragging) {
    CrosshairOn = false;
    EraseCrosshair();
    LastX = LastY = -1;
    StartX = CurX = x;
    StartY = CurY = y;
    Dragging = true;
    return;
  }
  // A second press before any release ends the pick there.
  EndPick(x, y);
}

void TfmCopy::Image1MouseUp(int32_t x, int32_t y) {
  if (Dragging) EndPick(x, y);
}

void TfmCopy::EndPick(int32_t x, int32_t y) {
  EndX = x;
  EndY = y;
  Dragging = false;
  HideOverlay();
  StoreScope();
  ShowMain();
}

void TfmCopy::StoreScope() {
  TfmMian* main = Main();
  if (!main) return;
  QLineEdit* left = TargetScope ? main->edLeft2 : main->edLeft1;
  QLineEdit* top = TargetScope ? main->edTop2 : main->edTop1;
  QLineEdit* right = TargetScope ? main->edRight2 : main->edRight1;
  QLineEdit* bottom = TargetScope ? main->edBottom2 : main->edBottom1;
  left->setText(QString::number(StartX));
  right->setText(QString::number(EndX));
  top->setText(QString::number(StartY));
  bottom->setText(QString::number(EndY));
}

void TfmCopy::HideOverlay() {
  Image1->releaseMouse();
  hide();
  // The frozen picture is only needed while the overlay is up.
  Image1->Picture = QImage();
}

void TfmCopy::ShowMain() {
  if (TfmMian* main = Main()) {
    main->show();
    main->raise();
    main->activateWindow();
  }
}

}  // namespace ostrane::ui
