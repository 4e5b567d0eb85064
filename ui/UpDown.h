// A pair of up/down arrows bound to an edit: each step writes the position into the edit as
// decimal text, moves by the increment and stops at the limits. The Up and Down arrow keys in
// the edit step too. The edit itself still takes any text.
#pragma once

#include <QWidget>
#include <cstdint>

class QLineEdit;
class QToolButton;

namespace ostrane::ui {

class TUpDown : public QWidget {
 public:
  explicit TUpDown(QWidget* parent = nullptr);

  void SetAssociate(QLineEdit* edit);
  QLineEdit* Associate() const { return associate_; }

  void SetRange(int32_t min, int32_t max);
  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  void SetIncrement(int32_t increment) { increment_ = increment; }
  int32_t Increment() const { return increment_; }
  // Sets the position (clamped to the limits) and writes it into the edit.
  void SetPosition(int32_t position);
  int32_t Position() const { return position_; }

  // One step up (+1) or down (-1), as a click on an arrow does.
  void Step(int direction);

  QToolButton* DownButton() const { return down_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void WritePosition();

  QToolButton* up_;
  QToolButton* down_;
  QLineEdit* associate_ = nullptr;
  int32_t min_ = 0;
  int32_t max_ = 100;
  int32_t increment_ = 1;
  int32_t position_ = 0;
};

}  // namespace ostrane::ui
