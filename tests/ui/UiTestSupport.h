// Helpers shared by the widget tests.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace ostrane::ui::testkit {

struct ModalBoxSeen {
  bool Seen = false;
  QString Text;
  QString Title;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> Buttons;
  QRect Geometry;  // the whole window, frame included
};

// Runs `action`, which is expected to open a modal message box, and closes that box with its
// first button, after running `whileOpen` (if given) with the box still open. A repeating timer
// looks for the box a number of times before giving up, so a box that never opens does not leave
// the test hanging.
inline ModalBoxSeen CloseNextMessageBox(const std::function<void()>& action,
                                        const std::function<void()>& whileOpen = {}) {
  ModalBoxSeen seen;
  QTimer timer;
  int tries = 0;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) {
      if (++tries > 400) timer.stop();
      return;
    }
    timer.stop();
    seen.Seen = true;
    seen.Text = box->text();
    seen.Title = box->windowTitle();
    seen.Icon = box->icon();
    for (QAbstractButton* b : box->buttons())
      seen.Buttons.push_back(box->standardButton(b));
    seen.Geometry = box->frameGeometry();
    if (whileOpen) whileOpen();
    box->buttons().first()->click();
  });
  timer.start();
  action();
  timer.stop();
  return seen;
}

}  // namespace ostrane::ui::testkit
