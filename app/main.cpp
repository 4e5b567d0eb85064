// Program body: connect to the desktop, read the screen size once, create the windows and run
// the event loop until the main window closes.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/BitmapData.h"
#include "engine/Types.h"
#include "platform/NativeDesktop.h"
#include "ui/Application.h"
#include "ui/NativeGlue.h"
#include "ui/StatusReport.h"
#include "ui/uCopy.h"
#include "ui/uMain.h"

int main(int argc, char** argv) {
  using namespace ostrane;
  ui::PrepareNativePlatform();

  std::string error;
  auto desktop = platform::OpenNativeDesktop(error);
  if (!desktop) {
    std::fprintf(stderr, "ostrane: %s\n", error.c_str());
    return 1;
  }
  platform::SetActiveDesktop(desktop.get());
  InitScreenMetrics();

  int status = 0;
  {
    ui::TApplication app(argc, argv);
    ui::TApplication::setStyle(QStringLiteral("Fusion"));
    auto mainWindow = std::make_unique<ui::TfmMian>();
    auto picker = std::make_unique<ui::TfmCopy>(mainWindow.get());
    ui::AttachToEventLoop(*desktop, mainWindow.get());
    ui::StartStatusReport(*mainWindow);
    mainWindow->show();
    status = app.exec();
    ui::DetachFromEventLoop(*desktop);
    picker.reset();
    mainWindow.reset();
  }
  platform::SetActiveDesktop(nullptr);
  return status;
}
