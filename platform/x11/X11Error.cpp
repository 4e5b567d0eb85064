#include "platform/x11/X11Error.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

// Xlib's own handler, which prints the error and exits; exported by libX11 but declared only in
// its internal header.
extern "C" int _XDefaultError(Display* display, XErrorEvent* event);

namespace ostrane::platform::x11 {

namespace {

ErrorTrap* g_trap = nullptr;
// The handler ours replaced most recently, for displays that are not ours; null for none.
XErrorHandler g_previous = nullptr;
// Set while the previous handler runs, in case it hands the error back to whoever it replaced.
bool g_inPrevious = false;

std::vector<Display*>& OwnDisplays() {
  static std::vector<Display*> displays;
  return displays;
}

int OnXError(Display* display, XErrorEvent* event) {
  return HandleError(display, event);
}

int OnXIOError(Display*) {
  // Xlib is in the middle of a request and other threads may still run: destructors and exit
  // handlers are not safe now, and a second message from anyone would only confuse.
  static const char kLine[] = "ostrane: lost the connection to the X server\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

}  // namespace

void AdoptDisplay(_XDisplay* display) {
  OwnDisplays().push_back(display);
}

void ForgetDisplay(_XDisplay* display) {
  auto& displays = OwnDisplays();
  displays.erase(std::remove(displays.begin(), displays.end(), display), displays.end());
}

// Records the error in the innermost trap of the same display that was set before the failing
// request was sent.
int HandleError(_XDisplay* display, void* eventPtr) {
  auto* event = static_cast<XErrorEvent*>(eventPtr);
  for (ErrorTrap* trap = g_trap; trap; trap = trap->outer_) {
    if (trap->display_ == display && event->serial >= trap->firstRequest_) {
      if (trap->errorCode_ == 0) trap->errorCode_ = event->error_code;
      return 0;
    }
  }
  const auto& own = OwnDisplays();
  if (g_previous && !g_inPrevious && std::find(own.begin(), own.end(), display) == own.end()) {
    g_inPrevious = true;
    const int result = g_previous(display, event);
    g_inPrevious = false;
    return result;
  }
  char text[256] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  std::fprintf(stderr, "ostrane: ignored X error: %s (request %d.%d)\n", text, event->request_code,
               event->minor_code);
  return 0;
}

void InstallErrorHandlers() {
  const XErrorHandler replaced = XSetErrorHandler(OnXError);
  if (replaced != OnXError) g_previous = replaced == _XDefaultError ? nullptr : replaced;
  XSetIOErrorHandler(OnXIOError);
}

// Errors of earlier requests belong to whoever sent them, not to this trap: the request serial
// tells them apart without a round trip.
ErrorTrap::ErrorTrap(_XDisplay* display)
    : display_(display), outer_(g_trap), firstRequest_(NextRequest(display)) {
  InstallErrorHandlers();
  g_trap = this;
}

ErrorTrap::~ErrorTrap() {
  g_trap = outer_;
}

bool ErrorTrap::Failed() {
  XSync(display_, False);
  return errorCode_ != 0;
}

}  // namespace ostrane::platform::x11
