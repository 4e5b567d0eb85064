#include "platform/x11/X11Desktop.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
// clang-format on
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/x11/X11Error.h"

namespace ostrane::platform::x11 {

// One grabbed image and whatever backs it; released on every path by the destructor.
struct X11Desktop::Image {
  Display* display = nullptr;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;

  Image() {
    shm.shmid = -1;
    shm.shmaddr = reinterpret_cast<char*>(-1);
  }
  ~Image() {
    if (shmAttached) {
      XShmDetach(display, &shm);
      XSync(display, False);
    }
    if (image) {
      if (shm.shmid >= 0) image->data = nullptr;  // the segment is not Xlib's to free
      XDestroyImage(image);
    }
    // Removing twice is harmless; removing once is needed on the paths that failed early.
    if (shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm.shmaddr);
    if (shm.shmid >= 0) shmctl(shm.shmid, IPC_RMID, nullptr);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
};

namespace {

// Bit position and width of a colour mask, for images of unusual visuals.
struct Channel {
  int shift = 0;
  int bits = 0;
  explicit Channel(unsigned long mask) {
    if (!mask) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++bits;
    }
  }
  uint8_t Extract(unsigned long pixel) const {
    if (bits == 0) return 0;
    const unsigned long v = (pixel >> shift) & ((1ul << bits) - 1);
    return bits >= 8 ? static_cast<uint8_t>(v >> (bits - 8))
                     : static_cast<uint8_t>((v * 255) / ((1ul << bits) - 1));
  }
};

bool IsBgrx32(const XImage* image) {
  return image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
         image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
}

// Writes the image's rows into the bottom-up 24-bit layout at column `col`, starting with the
// output row `topRow` counted from the top of an output of `outHeight` rows.
bool ConvertInto(XImage* image, uint8_t* bits, int32_t lineBytes, int32_t outHeight, int32_t col,
                 int32_t topRow) {
  const int w = image->width;
  const int h = image->height;
  if (IsBgrx32(image)) {
    for (int r = 0; r < h; ++r) {
      const auto* src = reinterpret_cast<const uint8_t*>(image->data) +
                        static_cast<ptrdiff_t>(r) * image->bytes_per_line;
      uint8_t* dst =
          bits + static_cast<ptrdiff_t>(outHeight - 1 - (topRow + r)) * lineBytes + 3 * col;
      for (int c = 0; c < w; ++c, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
    }
    return true;
  }
  if (image->red_mask == 0 || image->green_mask == 0 || image->blue_mask == 0) {
    return false;  // not a true-colour image: there are no RGB values to read
  }
  const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
  for (int r = 0; r < h; ++r) {
    uint8_t* dst =
        bits + static_cast<ptrdiff_t>(outHeight - 1 - (topRow + r)) * lineBytes + 3 * col;
    for (int c = 0; c < w; ++c, dst += 3) {
      const unsigned long p = XGetPixel(image, c, r);
      dst[0] = blue.Extract(p);
      dst[1] = green.Extract(p);
      dst[2] = red.Extract(p);
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<X11Desktop> X11Desktop::Open(const char* displayName, std::string& error) {
  InstallErrorHandlers();
  const char* name = displayName ? displayName : std::getenv("DISPLAY");
  if (!name || !*name) {
    error = "no X display: DISPLAY is not set";
    return nullptr;
  }
  Display* display = XOpenDisplay(name);
  if (!display) {
    error = std::string("no X display: cannot open \"") + name + "\"";
    return nullptr;
  }
  return std::unique_ptr<X11Desktop>(new X11Desktop(display));
}

X11Desktop::X11Desktop(_XDisplay* display) : display_(display) {
  root_ = RootWindow(display_, DefaultScreen(display_));
  int major = 0, minor = 0;
  Bool pixmaps = False;
  // Shared memory only helps a client on the server's own machine; the attach test in GrabShm
  // turns it off where the server cannot reach our segment.
  shmOffered_ = XShmQueryVersion(display_, &major, &minor, &pixmaps) == True;
  useShm_ = shmOffered_;
  int eventBase = 0, errorBase = 0;
  xtest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) == True;
}

X11Desktop::~X11Desktop() {
  XCloseDisplay(display_);
}

ScreenSize X11Desktop::GetScreenSize() {
  Window root = 0;
  int x = 0, y = 0;
  unsigned int w = 0, h = 0, border = 0, depth = 0;
  if (!XGetGeometry(display_, root_, &root, &x, &y, &w, &h, &border, &depth)) {
    const int screen = DefaultScreen(display_);
    return {DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
  }
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

bool X11Desktop::GrabShm(int32_t x, int32_t y, int32_t w, int32_t h, Image& image) {
  const int screen = DefaultScreen(display_);
  image.display = display_;
  image.image =
      XShmCreateImage(display_, DefaultVisual(display_, screen),
                      static_cast<unsigned>(DefaultDepth(display_, screen)), ZPixmap, nullptr,
                      &image.shm, static_cast<unsigned>(w), static_cast<unsigned>(h));
  if (!image.image) return false;
  const size_t bytes = static_cast<size_t>(image.image->bytes_per_line) * image.image->height;
  image.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (image.shm.shmid < 0) return false;
  image.shm.shmaddr = static_cast<char*>(shmat(image.shm.shmid, nullptr, 0));
  if (image.shm.shmaddr == reinterpret_cast<char*>(-1)) return false;
  image.image->data = image.shm.shmaddr;
  image.shm.readOnly = False;
  {
    ErrorTrap trap(display_);
    XShmAttach(display_, &image.shm);
    if (trap.Failed()) {
      useShm_ = false;  // the server cannot reach our memory (a remote display)
      return false;
    }
  }
  image.shmAttached = true;
  // Marked for removal now, so the segment goes away with the process whatever happens.
  shmctl(image.shm.shmid, IPC_RMID, nullptr);
  ErrorTrap trap(display_);
  const Bool ok = XShmGetImage(display_, root_, image.image, x, y, AllPlanes);
  return ok && !trap.Failed();
}

bool X11Desktop::GrabPlain(int32_t x, int32_t y, int32_t w, int32_t h, Image& image) {
  ErrorTrap trap(display_);
  image.display = display_;
  image.image = XGetImage(display_, root_, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                          AllPlanes, ZPixmap);
  return image.image && !trap.Failed();
}

CaptureResult X11Desktop::Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                  int32_t lineBytes) {
  if (w <= 0 || h <= 0) return CaptureResult::ReadFailed;
  // Everything outside the screen reads as black, as the Windows copy yields.
  std::memset(bits, 0, static_cast<size_t>(lineBytes) * static_cast<size_t>(h));

  // Requests reaching past the root window raise BadMatch, so only the visible part is asked for.
  const ScreenSize screen = GetScreenSize();
  const int64_t x0 = std::max<int64_t>(x, 0);
  const int64_t y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + w, screen.Width);
  const int64_t y1 = std::min<int64_t>(int64_t{y} + h, screen.Height);
  if (x1 <= x0 || y1 <= y0) return CaptureResult::Ok;
  const auto cx = static_cast<int32_t>(x0), cy = static_cast<int32_t>(y0);
  const auto cw = static_cast<int32_t>(x1 - x0), ch = static_cast<int32_t>(y1 - y0);

  bool grabbed = false;
  Image image;
  if (useShm_) {
    grabbed = GrabShm(cx, cy, cw, ch, image);
  }
  if (!grabbed) {
    Image plain;
    if (!GrabPlain(cx, cy, cw, ch, plain)) return CaptureResult::CopyFailed;
    return ConvertInto(plain.image, bits, lineBytes, h, cx - x, cy - y) ? CaptureResult::Ok
                                                                        : CaptureResult::ReadFailed;
  }
  return ConvertInto(image.image, bits, lineBytes, h, cx - x, cy - y) ? CaptureResult::Ok
                                                                      : CaptureResult::ReadFailed;
}

void X11Desktop::MovePointer(int32_t x, int32_t y) {
  if (xtest_) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
  } else {
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y);
  }
  XFlush(display_);
}

void X11Desktop::Button(bool press) {
  if (!xtest_) return;  // without XTest there is no way to send a click
  XTestFakeButtonEvent(display_, 1, press ? True : False, CurrentTime);
  XFlush(display_);
}

void X11Desktop::LeftButtonDown(int32_t, int32_t) {
  Button(true);
}
void X11Desktop::LeftButtonUp(int32_t, int32_t) {
  Button(false);
}

}  // namespace ostrane::platform::x11
