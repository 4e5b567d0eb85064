#include "ui/Buttons.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace ostrane::ui {

namespace {
constexpr int kGlyphSize = 48;
constexpr int kGlyphSpacing = 4;
}  // namespace

TCaptionButton::TCaptionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void TCaptionButton::SetGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  update();
}

void TCaptionButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  if (isDown()) area.translate(1, 1);
  const QPalette::ColorRole role = QPalette::ButtonText;
  const bool enabled = isEnabled();
  if (glyph_.isNull()) {
    painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, palette(), enabled, text(),
                         role);
    return;
  }
  const QFontMetrics metrics(font());
  const int textWidth = metrics.horizontalAdvance(text());
  const int glyphWidth = glyph_.width() / glyph_.devicePixelRatio();
  const int glyphHeight = glyph_.height() / glyph_.devicePixelRatio();
  const int total = glyphWidth + (text().isEmpty() ? 0 : kGlyphSpacing + textWidth);
  const int left = area.left() + std::max(0, (area.width() - total) / 2);
  const int top = area.top() + (area.height() - glyphHeight) / 2;
  painter.drawPixmap(left, top, glyph_);
  const QRect textRect(left + glyphWidth + kGlyphSpacing, area.top(),
                       std::max(0, area.right() + 1 - (left + glyphWidth + kGlyphSpacing)),
                       area.height());
  painter.drawItemText(textRect, Qt::AlignLeft | Qt::AlignVCenter, palette(), enabled, text(),
                       role);
}

QPixmap StartGlyph() {
  QPixmap pixmap(kGlyphSize, kGlyphSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath triangle;
  triangle.moveTo(12, 6);
  triangle.lineTo(42, 24);
  triangle.lineTo(12, 42);
  triangle.closeSubpath();
  painter.setPen(QPen(QColor(0, 100, 0), 2));
  painter.setBrush(QColor(0, 170, 0));
  painter.drawPath(triangle);
  return pixmap;
}

QPixmap StopGlyph() {
  QPixmap pixmap(kGlyphSize, kGlyphSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(128, 0, 0), 2));
  painter.setBrush(QColor(210, 0, 0));
  painter.drawRoundedRect(QRectF(9, 9, 30, 30), 7, 7);
  return pixmap;
}

}  // namespace ostrane::ui
