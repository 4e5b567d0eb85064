// The target window of the demonstration: shows a picture at a given place and counts the left
// clicks it receives into a file, until it is terminated.
//   ostrane-demo-target X Y WIDTH HEIGHT COUNT_FILE
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
void Stop(int) {
  g_stop = 1;
}

void WriteCount(const std::string& path, int count) {
  const std::string temporary = path + ".new";
  if (FILE* f = std::fopen(temporary.c_str(), "w")) {
    std::fprintf(f, "%d\n", count);
    std::fclose(f);
    std::rename(temporary.c_str(), path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT COUNT_FILE\n", argv[0]);
    return 2;
  }
  const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
  const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
  const std::string countFile = argv[5];
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) {
    std::fprintf(stderr, "bad size\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "no X display\n");
    return 1;
  }
  signal(SIGTERM, Stop);
  signal(SIGINT, Stop);
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);

  // A soft gradient with a green button on it: what the program is to find and click.
  const Pixmap pixmap = XCreatePixmap(display, root, w, h, DefaultDepth(display, screen));
  const GC gc = XCreateGC(display, pixmap, 0, nullptr);
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      const unsigned long rgb = (static_cast<unsigned long>(170 + col * 80 / w) << 16) |
                                (static_cast<unsigned long>(190 + row * 60 / h) << 8) | 235;
      XSetForeground(display, gc, rgb);
      XDrawPoint(display, pixmap, gc, col, row);
    }
  }
  const int bw = w / 2, bh = h / 3, bx = (w - bw) / 2, by = (h - bh) / 2;
  XSetForeground(display, gc, 0x1E8C32);
  XFillRectangle(display, pixmap, gc, bx, by, bw, bh);
  XSetForeground(display, gc, 0x0A4614);
  XDrawRectangle(display, pixmap, gc, bx, by, bw - 1, bh - 1);
  XSetForeground(display, gc, 0xFFFFFF);
  const char label[] = "Click me";
  if (XFontStruct* font = XLoadQueryFont(display, "fixed")) {
    XSetFont(display, gc, font->fid);
    const int tw = XTextWidth(font, label, static_cast<int>(sizeof label - 1));
    XDrawString(display, pixmap, gc, bx + (bw - tw) / 2, by + (bh + font->ascent) / 2 - 1, label,
                static_cast<int>(sizeof label - 1));
    XFreeFont(display, font);
  }
  XFreeGC(display, gc);

  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixmap = pixmap;
  attributes.event_mask = ButtonPressMask;
  const Window window =
      XCreateWindow(display, root, x, y, w, h, 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixmap | CWEventMask, &attributes);
  XMapRaised(display, window);
  XSync(display, False);

  int count = 0;
  WriteCount(countFile, count);
  while (!g_stop) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ButtonPress && event.xbutton.button == Button1)
        WriteCount(countFile, ++count);
    }
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, 100);
  }
  XDestroyWindow(display, window);
  XFreePixmap(display, pixmap);
  XCloseDisplay(display);
  return 0;
}
