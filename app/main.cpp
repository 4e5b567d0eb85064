// Program body: open the desktop the loader picks, read the screen size and the search level once,
// create the windows and run the event loop until the main window closes.
#include <cstdio>
#include <memory>
#include <string>

#include "engine/BitmapData.h"
#include "engine/search/Options.h"
#include "platform/Backends.h"
#include "ui/Application.h"
#include "ui/DesktopGlue.h"
#include "ui/StatusReport.h"
#include "ui/uCopy.h"
#include "ui/uMain.h"

int main(int argc, char** argv) {
  using namespace ostrane;
  std::string error;
  platform::OpenedDesktop opened = platform::LoadDesktop(error);
  if (!opened.Desktop) {
    std::fprintf(stderr, "ostrane: %s\n", error.c_str());
    return 1;
  }
  platform::Desktop& desktop = *opened.Desktop;
  ui::PrepareWindowSystem(*opened.Backend);
  platform::SetActiveDesktop(&desktop);
  InitScreenMetrics();
  // The search's vector level is the environment's to lower, read here once.
  search::SearchOptions search;
  search.level = search::LevelFromEnvironment();

  int status = 0;
  {
    ui::TApplication app(argc, argv);
    ui::TApplication::setStyle(QStringLiteral("Fusion"));
    ui::QtEventLoop loop;
    desktop.JoinEventLoop(loop);
    auto mainWindow = std::make_unique<ui::TfmMian>(nullptr, search);
    auto picker = std::make_unique<ui::TfmCopy>(mainWindow.get());
    ui::StartStatusReport(*mainWindow);
    mainWindow->show();
    status = app.exec();
    picker.reset();
    mainWindow.reset();
    desktop.LeaveEventLoop();
  }
  platform::SetActiveDesktop(nullptr);
  return status;
}
