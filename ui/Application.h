// The application object, the handler for exceptions that escape event handlers, and what must
// happen before the application object exists.
#pragma once

#include <QApplication>
#include <QFont>
#include <QString>
#include <exception>
#include <functional>

namespace ostrane::ui {

// Delivers every event through a guard: an exception escaping a handler (tick, button, menu,
// hot key) goes to the installed exception handler instead of tearing the event loop down.
class TApplication : public QApplication {
 public:
  using ExceptionHandler = std::function<void(std::exception_ptr)>;

  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Without a handler, the exception's text goes to standard error and the program goes on.
  static void SetExceptionHandler(ExceptionHandler handler);
};

// Drops the exception without a word.
void SilentExceptionHandler(std::exception_ptr error);
// How many exceptions SilentExceptionHandler has dropped.
int DroppedExceptionCount();

// Every coordinate the user types or picks is a physical screen pixel: Qt's device-independent
// scaling is turned off. Must run before the application object is created.
void PreparePhysicalPixels();

// "MS Sans Serif" at a pixel size, the windows' design font.
QFont DesignFont(int pixelSize, bool bold = false);

// The title a program gets when it never sets one: its file name up to the first full stop, with
// every letter after the first in lower case.
QString ApplicationTitle(const QString& programPath);
// The title of this program.
QString ApplicationTitle();

}  // namespace ostrane::ui
