#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

#include "ui/TextToInt.h"

namespace ostrane::ui {

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
  setFocusPolicy(Qt::TabFocus);
}

void TUpDown::SetAssociate(QLineEdit* edit) {
  if (associate_) associate_->removeEventFilter(this);
  associate_ = edit;
  if (associate_) associate_->installEventFilter(this);
}

void TUpDown::SetRange(int32_t min, int32_t max) {
  min_ = std::min(min, max);
  max_ = std::max(min, max);
  position_ = std::clamp(position_, min_, max_);
}

void TUpDown::SetPosition(int32_t position) {
  position_ = std::clamp(position, min_, max_);
  WritePosition();
}

void TUpDown::Step(int direction) {
  // A number the user typed within the limits is where the step starts from.
  if (associate_) {
    const auto typed = TextToInt32(associate_->text().toStdString());
    if (typed && *typed >= min_ && *typed <= max_) position_ = *typed;
  }
  const int64_t next = int64_t{position_} + int64_t{direction} * increment_;
  position_ = static_cast<int32_t>(std::clamp<int64_t>(next, min_, max_));
  WritePosition();
}

void TUpDown::WritePosition() {
  // setText is not bound by the edit's typing limit, so 999 minutes show in a two-character edit.
  if (associate_) associate_->setText(QString::number(position_));
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == associate_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    Step(event->key() == Qt::Key_Up ? +1 : -1);
    return;
  }
  QWidget::keyPressEvent(event);
}

void TUpDown::resizeEvent(QResizeEvent*) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

}  // namespace ostrane::ui
