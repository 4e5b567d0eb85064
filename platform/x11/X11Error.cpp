#include "platform/x11/X11Error.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace ostrane::platform::x11 {

namespace {
ErrorTrap* g_trap = nullptr;
}  // namespace

int HandleError(_XDisplay* display, void* eventPtr);

namespace {

int OnXError(Display* display, XErrorEvent* event) {
  return HandleError(display, event);
}

int OnXIOError(Display*) {
  std::fprintf(stderr, "ostrane: lost the connection to the X server\n");
  std::exit(1);
}

}  // namespace

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
  char text[256] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  std::fprintf(stderr, "ostrane: ignored X error: %s (request %d.%d)\n", text, event->request_code,
               event->minor_code);
  return 0;
}

void InstallErrorHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  XSetErrorHandler(OnXError);
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
