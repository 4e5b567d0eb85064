#include "tests/support/TestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace ostrane::testkit {

TestWindow::TestWindow(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
  display_ = XOpenDisplay(nullptr);
  if (!display_) return;
  const int screen = DefaultScreen(display_);
  const Window root = RootWindow(display_, screen);

  // The picture lives in the window's background pixmap, so the server repaints it by itself.
  pixmap_ = XCreatePixmap(display_, root, w, h, 24);
  GC gc = XCreateGC(display_, pixmap_, 0, nullptr);
  auto* data = static_cast<char*>(std::malloc(static_cast<size_t>(w) * h * 4));
  for (int i = 0; i < w * h; ++i) {
    const uint32_t p = pixels[i];
    data[4 * i] = static_cast<char>(p & 255);
    data[4 * i + 1] = static_cast<char>((p >> 8) & 255);
    data[4 * i + 2] = static_cast<char>((p >> 16) & 255);
    data[4 * i + 3] = 0;
  }
  XImage* image = XCreateImage(display_, DefaultVisual(display_, screen), 24, ZPixmap, 0, data, w,
                               h, 32, w * 4);
  image->byte_order = LSBFirst;
  XPutImage(display_, pixmap_, gc, image, 0, 0, 0, 0, w, h);
  XDestroyImage(image);  // frees data
  XFreeGC(display_, gc);

  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;  // placed exactly where asked, with or without a manager
  attributes.background_pixmap = pixmap_;
  attributes.event_mask =
      ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
  window_ =
      XCreateWindow(display_, root, x, y, w, h, 0, 24, InputOutput, DefaultVisual(display_, screen),
                    CWOverrideRedirect | CWBackPixmap | CWEventMask, &attributes);
  XMapRaised(display_, window_);
  XFlush(display_);
  XEvent event;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (XCheckTypedWindowEvent(display_, window_, Expose, &event)) break;
    pollfd p{ConnectionNumber(display_), POLLIN, 0};
    poll(&p, 1, 20);
  }
  XSync(display_, False);
}

TestWindow::~TestWindow() {
  if (!display_) return;
  if (window_) XDestroyWindow(display_, window_);
  if (pixmap_) XFreePixmap(display_, pixmap_);
  XCloseDisplay(display_);
}

void TestWindow::ReadPending() {
  if (!display_) return;
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == ButtonPress || event.type == ButtonRelease) {
      const XButtonEvent& b = event.xbutton;
      events_.push_back({event.type == ButtonPress ? PointerEvent::Press : PointerEvent::Release,
                         static_cast<int>(b.button), b.x_root, b.y_root, b.x, b.y});
    } else if (event.type == MotionNotify) {
      const XMotionEvent& m = event.xmotion;
      events_.push_back({PointerEvent::Motion, 0, m.x_root, m.y_root, m.x, m.y});
    }
  }
}

std::vector<PointerEvent> TestWindow::TakeEvents() {
  ReadPending();
  std::vector<PointerEvent> events(events_.begin(), events_.end());
  events_.clear();
  return events;
}

std::optional<PointerEvent> TestWindow::NextButton(int timeoutMs) {
  if (!display_) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ReadPending();
    while (!events_.empty()) {
      const PointerEvent event = events_.front();
      events_.pop_front();
      if (event.kind != PointerEvent::Motion) return event;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return std::nullopt;
    pollfd p{ConnectionNumber(display_), POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<long>(left, 50)));
  }
}

std::vector<PointerEvent> TestWindow::DrainButtons(int timeoutMs) {
  std::vector<PointerEvent> events;
  while (auto e = NextButton(timeoutMs))
    events.push_back(*e);
  return events;
}

}  // namespace ostrane::testkit
