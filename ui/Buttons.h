// Push buttons whose caption wraps onto several lines, with an optional picture to the left of
// the caption (the picture and caption centred together, 4 pixels apart).
#pragma once

#include <QPixmap>
#include <QPushButton>

namespace ostrane::ui {

class TCaptionButton : public QPushButton {
 public:
  explicit TCaptionButton(const QString& text, QWidget* parent = nullptr);

  void SetGlyph(const QPixmap& glyph);
  const QPixmap& Glyph() const { return glyph_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap glyph_;
};

// The 48 x 48 pictures of the Start and Stop buttons, on a transparent background.
QPixmap StartGlyph();
QPixmap StopGlyph();

}  // namespace ostrane::ui
