// X errors must never end the process. One process-wide handler records them; a trap scoped
// around a request tells whether that request failed. Errors that arrive after the trap is gone
// (of requests without a reply that nobody waited for) are reported on stderr and ignored.
#pragma once

struct _XDisplay;

namespace ostrane::platform::x11 {

// Puts our handlers in place of whatever is installed now. Xlib keeps one handler per process,
// and a library that opens a display of its own may set its own after ours (Qt does when its
// application object is made): call this again after such a library started. Errors on
// displays the backend did not open go to the handler ours replaced, unless that is Xlib's
// default, which would end the program. A lost connection, on any display, ends the program
// with a one-line message and status 1.
void InstallErrorHandlers();

// The connections the backend opened; errors on them are never handed to another library's
// handler. Forget a display before closing it.
void AdoptDisplay(_XDisplay* display);
void ForgetDisplay(_XDisplay* display);

// The handler's work, for the process-wide handler only.
int HandleError(_XDisplay* display, void* event);

class ErrorTrap {
 public:
  // Reinstalls our handlers first if another library replaced them.
  explicit ErrorTrap(_XDisplay* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits until the server has handled every request sent so far and tells whether any of
  // them failed since the trap was set. The first failure sticks: use one trap per request
  // whose outcome matters on its own.
  bool Failed();
  // Whether a failure has been reported so far, without waiting. Enough after a request that
  // waits for its reply (XGetImage, XShmGetImage): its error arrives before the reply does.
  bool FailedSoFar() const { return errorCode_ != 0; }
  // The error code of the first failure, 0 when none.
  int ErrorCode() const { return errorCode_; }

 private:
  friend int HandleError(_XDisplay*, void*);
  _XDisplay* display_;
  ErrorTrap* outer_;
  unsigned long firstRequest_;
  int errorCode_ = 0;
};

}  // namespace ostrane::platform::x11
