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

#include "concurrency/WorkShare.h"
#include "platform/PixelRows.h"
#include "platform/x11/X11Error.h"

namespace ostrane::platform::x11 {

// One grabbed image; a shared-memory image only borrows the desktop's segment.
struct X11Desktop::Image {
  XImage* image = nullptr;
  bool shared = false;

  Image() = default;
  ~Image() {
    if (!image) return;
    if (shared) image->data = nullptr;  // the segment is not Xlib's to free
    XDestroyImage(image);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
};

// A System V shared-memory segment attached to the server; released with the desktop, when a
// larger capture needs a bigger one, and on every failure.
struct X11Desktop::Segment {
  Display* display;
  XShmSegmentInfo info{};
  size_t bytes = 0;
  bool attached = false;

  explicit Segment(Display* d) : display(d) {
    info.shmid = -1;
    info.shmaddr = reinterpret_cast<char*>(-1);
  }
  ~Segment() {
    if (attached) {
      XShmDetach(display, &info);
      XSync(display, False);
    }
    if (info.shmaddr != reinterpret_cast<char*>(-1)) shmdt(info.shmaddr);
    // Removing twice is harmless; removing once is needed on the paths that failed early.
    if (info.shmid >= 0) shmctl(info.shmid, IPC_RMID, nullptr);
  }
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;
};

namespace {

constexpr int64_t kShareMinPixels = 1 << 17;

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
    auto rows = [&](int r0, int r1) {
      for (int r = r0; r < r1; ++r) {
        const auto* src = reinterpret_cast<const uint8_t*>(image->data) +
                          static_cast<ptrdiff_t>(r) * image->bytes_per_line;
        ConvertBgrxRow(src, PixelFromTop(bits, outHeight, lineBytes, col, topRow + r), w);
      }
    };
    // The conversion is bound by memory traffic, which a second core nearly doubles; small
    // captures are not worth the hand-over.
    if (int64_t{w} * h < kShareMinPixels) {
      rows(0, h);
    } else {
      concurrency::ShareRows(h, std::clamp(h / 16, 1, 16),
                             [&](int32_t, int32_t r0, int32_t r1) { rows(r0, r1); });
    }
    return true;
  }
  if (image->red_mask == 0 || image->green_mask == 0 || image->blue_mask == 0) {
    return false;  // not a true-colour image: there are no RGB values to read
  }
  const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
  for (int r = 0; r < h; ++r) {
    uint8_t* dst = PixelFromTop(bits, outHeight, lineBytes, col, topRow + r);
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
  AdoptDisplay(display_);
  root_ = RootWindow(display_, DefaultScreen(display_));
  source_ = root_;
  int major = 0, minor = 0;
  Bool pixmaps = False;
  // Shared memory only helps a client on the server's own machine; the attach test in GrabShm
  // turns it off where the server cannot reach our segment.
  shmOffered_ = XShmQueryVersion(display_, &major, &minor, &pixmaps) == True;
  useShm_ = shmOffered_;
  int eventBase = 0, errorBase = 0;
  xtest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) == True;
  // Selected before the size is read, so no later change goes unseen.
  XSelectInput(display_, root_, StructureNotifyMask);
  GetScreenSize();
}

X11Desktop::~X11Desktop() {
  segment_.reset();  // detaching needs the connection
  ForgetDisplay(display_);
  XCloseDisplay(display_);
}

int X11Desktop::ConnectionFd() const {
  return ConnectionNumber(display_);
}

size_t X11Desktop::SharedSegmentBytes() const {
  return segment_ ? segment_->bytes : 0;
}

ScreenSize X11Desktop::GetScreenSize() {
  Window root = 0;
  int x = 0, y = 0;
  unsigned int w = 0, h = 0, border = 0, depth = 0;
  if (!XGetGeometry(display_, root_, &root, &x, &y, &w, &h, &border, &depth)) {
    const int screen = DefaultScreen(display_);
    screen_ = {DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
  } else {
    screen_ = {static_cast<int32_t>(w), static_cast<int32_t>(h)};
  }
  return screen_;
}

ScreenSize X11Desktop::KnownScreenSize() {
  // Reads what has arrived without waiting for the server.
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == ConfigureNotify && event.xconfigure.window == root_) {
      screen_ = {event.xconfigure.width, event.xconfigure.height};
    }
  }
  return screen_;
}

bool X11Desktop::EnsureSegment(size_t bytes) {
  if (segment_ && segment_->bytes >= bytes) return true;
  segment_.reset();
  auto segment = std::make_unique<Segment>(display_);
  segment->info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (segment->info.shmid < 0) return false;
  segment->info.shmaddr = static_cast<char*>(shmat(segment->info.shmid, nullptr, 0));
  if (segment->info.shmaddr == reinterpret_cast<char*>(-1)) return false;
  segment->info.readOnly = False;
  {
    ErrorTrap trap(display_);
    XShmAttach(display_, &segment->info);
    if (trap.Failed()) {
      useShm_ = false;  // the server cannot reach our memory (a remote display)
      return false;
    }
  }
  segment->attached = true;
  // Marked for removal now, so the segment goes away with the process whatever happens.
  shmctl(segment->info.shmid, IPC_RMID, nullptr);
  segment->bytes = bytes;
  segment_ = std::move(segment);
  return true;
}

bool X11Desktop::GrabShm(int32_t x, int32_t y, int32_t w, int32_t h, Image& image) {
  const int screen = DefaultScreen(display_);
  XShmSegmentInfo sizing{};
  image.image =
      XShmCreateImage(display_, DefaultVisual(display_, screen),
                      static_cast<unsigned>(DefaultDepth(display_, screen)), ZPixmap, nullptr,
                      &sizing, static_cast<unsigned>(w), static_cast<unsigned>(h));
  if (!image.image) return false;
  image.shared = true;
  const size_t bytes = static_cast<size_t>(image.image->bytes_per_line) * image.image->height;
  if (!EnsureSegment(bytes)) return false;
  image.image->data = segment_->info.shmaddr;
  image.image->obdata = reinterpret_cast<char*>(&segment_->info);
  ErrorTrap trap(display_);
  const Bool ok = XShmGetImage(display_, source_, image.image, x, y, AllPlanes);
  if (ok && !trap.FailedSoFar()) return true;
  segment_.reset();  // a fresh segment next time, in case this one is what failed
  return false;
}

bool X11Desktop::GrabPlain(int32_t x, int32_t y, int32_t w, int32_t h, Image& image) {
  ErrorTrap trap(display_);
  image.image = XGetImage(display_, source_, x, y, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), AllPlanes, ZPixmap);
  return image.image && !trap.FailedSoFar();
}

CaptureResult X11Desktop::Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                  int32_t lineBytes) {
  if (w <= 0 || h <= 0) return CaptureResult::ReadFailed;
  const ScreenSize known = KnownScreenSize();
  const CaptureResult result = CaptureOn(known, x, y, w, h, bits, lineBytes);
  if (result == CaptureResult::Ok) return result;
  // The screen may have shrunk after the last event was read: ask, and try once more if so.
  const ScreenSize now = GetScreenSize();
  if (now.Width == known.Width && now.Height == known.Height) return result;
  return CaptureOn(now, x, y, w, h, bits, lineBytes);
}

CaptureResult X11Desktop::CaptureOn(const ScreenSize& screen, int32_t x, int32_t y, int32_t w,
                                    int32_t h, uint8_t* bits, int32_t lineBytes) {
  // Requests reaching past the root window raise BadMatch, so only the visible part is asked
  // for; the rest reads black, as the Windows copy yields.
  const ScreenArea area = PrepareCapture(screen, x, y, w, h, bits, lineBytes);
  if (area.Width == 0) return CaptureResult::Ok;
  const int32_t cx = area.X, cy = area.Y, cw = area.Width, ch = area.Height;

  bool grabbed = false;
  Image image;
  // The helper wakes while the server copies, ready to share the conversion.
  if (int64_t{cw} * ch >= kShareMinPixels) concurrency::WakeHelper();
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

bool X11Desktop::MovePointer(int32_t x, int32_t y) {
  // The protocol carries 16-bit coordinates, so a point far off the screen would wrap around
  // onto it; the nearest screen pixel is where the pointer stops for any other point outside.
  const ScreenSize screen = KnownScreenSize();
  if (!screen.Contains(x, y)) {
    x = std::clamp(x, 0, std::max(screen.Width - 1, 0));
    y = std::clamp(y, 0, std::max(screen.Height - 1, 0));
  }
  const bool sent = xtest_ ? XTestFakeMotionEvent(display_, -1, x, y, CurrentTime) != 0
                           : XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y) != 0;
  XFlush(display_);
  return sent;
}

bool X11Desktop::Button(bool press) {
  if (!xtest_) return false;  // without XTest there is no way to send a click
  const bool sent = XTestFakeButtonEvent(display_, 1, press ? True : False, CurrentTime) != 0;
  XFlush(display_);
  return sent;
}

void X11Desktop::JoinEventLoop(EventLoop& loop) {
  InstallErrorHandlers();
  joined_ = true;
  // The server closes its connections one after another when it goes down, the capture
  // connection (opened before the toolkit's) first: watching it lets the lost server be noticed
  // here, with the program's own message.
  loop.WatchReadable(ConnectionFd(), [this] {
    if (joined_) DispatchEvents();
  });
  const int fd = HotKeyConnectionFd();
  if (fd >= 0) {
    loop.WatchReadable(fd, [this] {
      if (joined_) DispatchHotKeyEvents();
    });
  }
  // Any round trip on that connection may have pulled events into Xlib's own queue, where the
  // socket stays silent.
  loop.OnIdle([this] {
    if (joined_) DispatchHotKeyEvents();
  });
  DispatchHotKeyEvents();
}

}  // namespace ostrane::platform::x11
