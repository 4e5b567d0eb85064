#include "platform/wayland/WaylandDesktop.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/posix/Opener.h"
#include "platform/wayland/OutputSize.h"
#include "platform/wayland/PixelConvert.h"
#include "platform/wayland/RestoreToken.h"

namespace ostrane::platform::wayland {

namespace {

// A capture waits at most this long beyond the stream's settle time for a frame: only a stalled
// stream takes this long.
constexpr std::chrono::milliseconds kFrameTimeout{1000};
constexpr std::chrono::milliseconds kFirstFrameTimeout{5000};
constexpr std::chrono::milliseconds kWaitSlice{15};

// A press that follows a motion at once may reach the compositor before the motion has moved
// its pointer, and land where the pointer was or nowhere: measured lost in about half of the
// tries, never with 20 ms or more between them. The portal answers before the compositor has
// acted, so there is nothing to wait on but time.
constexpr std::chrono::milliseconds kMotionSettle{30};

}  // namespace

WaylandDesktop::WaylandDesktop() : session_(RestoreTokens::DefaultDir()) {
  std::string error;
  outputSize_ = FirstOutputSize(error);
  shortcuts_.SetActivated([this](const std::string& id) {
    const auto found = hotKeys_.find(id);
    if (found != hotKeys_.end() && hotKeyHandler_) hotKeyHandler_(found->second);
  });
}

WaylandDesktop::~WaylandDesktop() {
  EndSession();
}

void WaylandDesktop::EndSession() {
  streaming_ = false;
  frames_.Close();
  session_.Close();
}

ScreenSize WaylandDesktop::GetScreenSize() {
  if (streaming_) {
    const VideoFormat format = frames_.Format();
    if (format.Width > 0 && format.Height > 0) return {format.Width, format.Height};
  }
  return outputSize_;
}

bool WaylandDesktop::RequestAccess(std::string& message) {
  if (streaming_ && session_.Active() && !frames_.Lost()) return true;
  // A session the user or the portal ended is asked for anew.
  EndSession();
  std::string error;
  const StartResult started = session_.Start(error, [this] {
    if (loop_) loop_->ProcessPending();
  });
  switch (started) {
    case StartResult::Started:
      break;
    case StartResult::Refused:
      message = kConsentRefused;
      return false;
    case StartResult::NoPortal:
      message = "This desktop offers no screen capture and clicking to programs (" + error + ")";
      return false;
    case StartResult::Failed:
      message = "Screen capture and clicking could not be started: " + error;
      return false;
  }
  const int fd = session_.OpenPipeWireRemote(error);
  if (fd < 0 || !frames_.Open(fd, session_.Stream().NodeId, error)) {
    session_.Close();
    message = "The screen cannot be read: " + error;
    return false;
  }
  streaming_ = true;
  const VideoFormat format = frames_.Format();
  if (format.Width > 0 && format.Height > 0) outputSize_ = {format.Width, format.Height};
  return true;
}

void WaylandDesktop::BeginPass(const CancelFlag& cancel) {
  passCancel_ = &cancel;
  passStart_ = Clock::now();
  passFrame_.reset();
}

void WaylandDesktop::EndPass() {
  // However the pass ended (a match or none), the next look at the screen is a new one.
  passCancel_ = nullptr;
  passFrame_.reset();
}

std::shared_ptr<const CapturedFrame> WaylandDesktop::FrameNotBefore(Clock::time_point notBefore,
                                                                    bool* cancelled) {
  if (!streaming_) return nullptr;
  if (!session_.Active()) {
    EndSession();
    return nullptr;
  }
  // The wait is cut into slices with the program's events handled in between: proving a still
  // screen unchanged takes the stream's settle time, during which Stop and the windows must
  // stay alive. A stream that has not sent its first frame yet is given longer.
  const auto limit = frames_.BuffersSeen() > 0 ? kFrameTimeout : kFirstFrameTimeout;
  const auto deadline = Clock::now() + frames_.SettleTime() + limit;
  std::shared_ptr<const CapturedFrame> frame;
  for (;;) {
    switch (frames_.FrameAfter(notBefore, kWaitSlice, frame)) {
      case FrameWait::Fresh:
      case FrameWait::Unchanged:
        return frame;
      case FrameWait::TimedOut:
        break;
      case FrameWait::Lost:
        EndSession();
        return nullptr;
    }
    if (Clock::now() >= deadline) return nullptr;
    if (loop_) loop_->ProcessPending();
    // What ran meanwhile may have ended the pass (Stop, say) or the session (the program
    // closing).
    if (passCancel_ && passCancel_->Cancelled()) {
      if (cancelled) *cancelled = true;
      return nullptr;
    }
    if (!streaming_) return nullptr;
  }
}

CaptureResult WaylandDesktop::Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                      int32_t lineBytes) {
  if (w <= 0 || h <= 0 || !bits) return CaptureResult::ReadFailed;
  std::shared_ptr<const CapturedFrame> frame;
  bool cancelled = false;
  if (passCancel_) {
    if (!passFrame_) passFrame_ = FrameNotBefore(passStart_, &cancelled);
    frame = passFrame_;
  } else {
    frame = FrameNotBefore(Clock::now());
  }
  if (cancelled) return CaptureResult::Cancelled;
  if (!frame) return CaptureResult::CopyFailed;
  return CopyRect(frame->View(), x, y, w, h, bits, lineBytes) ? CaptureResult::Ok
                                                              : CaptureResult::ReadFailed;
}

bool WaylandDesktop::CaptureFrame(Frame& out) {
  const auto frame = FrameNotBefore(Clock::now());
  if (!frame || frame->Width <= 0 || frame->Height <= 0) return false;
  out.Width = frame->Width;
  out.Height = frame->Height;
  out.LineBytes = static_cast<int32_t>(RowBytes(frame->Width));
  out.Bits.assign(static_cast<size_t>(out.LineBytes) * static_cast<size_t>(out.Height), 0);
  return CopyRect(frame->View(), 0, 0, out.Width, out.Height, out.Bits.data(), out.LineBytes);
}

bool WaylandDesktop::MovePointer(int32_t x, int32_t y) {
  if (!streaming_) return false;
  // The frames are in the monitor's pixels, the portal's pointer in the stream's logical
  // coordinates; they differ by the monitor's scale.
  const PortalStream stream = session_.Stream();
  const VideoFormat format = frames_.Format();
  const double sx = format.Width > 0 ? double(stream.Width) / format.Width : 1.0;
  const double sy = format.Height > 0 ? double(stream.Height) / format.Height : 1.0;
  if (!session_.MovePointer(x * sx, y * sy)) return false;
  lastMotion_ = Clock::now();
  return true;
}

bool WaylandDesktop::LeftButtonDown() {
  if (!streaming_) return false;
  const auto settled = lastMotion_ + kMotionSettle;
  if (Clock::now() < settled) std::this_thread::sleep_until(settled);
  return session_.Button(true);
}

bool WaylandDesktop::LeftButtonUp() {
  return streaming_ && session_.Button(false);
}

bool WaylandDesktop::WatchPointer(std::function<void(int32_t, int32_t)> moved) {
  pointerWatch_ = std::move(moved);
  if (!pointerWatch_) return false;
  return streaming_ ? session_.CursorMetadata() : session_.OffersCursorMetadata();
}

void WaylandDesktop::JoinEventLoop(EventLoop& loop) {
  loop_ = &loop;
  // The loop has no way to stop watching: the watches are given once, and check loop_.
  if (watching_) return;
  watching_ = true;
  // Idle work alone would wait for the next event of the windows; the descriptors wake the loop.
  loop.WatchReadable(shortcuts_.WakeFd(), [this] {
    if (loop_) shortcuts_.Dispatch();
  });
  loop.OnIdle([this] {
    if (loop_) shortcuts_.Dispatch();
  });
  loop.WatchReadable(frames_.CursorFd(), [this] {
    CursorPosition at;
    // Taken even unwatched, which empties the descriptor.
    if (frames_.TakeCursor(at) && loop_ && pointerWatch_) pointerWatch_(at.X, at.Y);
  });
}

std::vector<bool> WaylandDesktop::RegisterHotKeys(const std::vector<HotKey>& keys) {
  std::vector<bool> registered(keys.size(), false);
  if (!shortcuts_.Available()) return registered;
  for (const HotKey& key : keys)
    if (FunctionKeyNumber(key.Code) != 0) hotKeys_[key.Name] = key.Code;
  if (hotKeys_.empty()) return registered;
  std::vector<std::pair<std::string, std::string>> shortcuts;
  for (const auto& [name, key] : hotKeys_)
    shortcuts.emplace_back(name, "F" + std::to_string(FunctionKeyNumber(key)));
  std::string error;
  const bool all = shortcuts_.Bind(shortcuts, error, [this] {
    if (loop_) loop_->ProcessPending();
  });
  if (!all) {
    std::string registry = shortcuts_.RegistryError();
    if (!registry.empty()) registry = "; the portal does not know this program: " + registry;
    std::fprintf(stderr, "ostrane: the desktop did not bind every key as a global shortcut: %s%s\n",
                 error.c_str(), registry.c_str());
  }
  for (size_t i = 0; i < keys.size(); ++i)
    registered[i] = hotKeys_.count(keys[i].Name) && shortcuts_.IsBound(keys[i].Name);
  // A key the desktop did not give is the windows' to take.
  for (auto it = hotKeys_.begin(); it != hotKeys_.end();)
    it = shortcuts_.IsBound(it->first) ? std::next(it) : hotKeys_.erase(it);
  return registered;
}

bool WaylandDesktop::RegisterHotKey(const std::string& name, Key key) {
  return RegisterHotKeys({{name, key}}).front();
}

void WaylandDesktop::UnregisterHotKey(const std::string& name) {
  if (hotKeys_.erase(name) == 0) return;
  // The portal cannot unbind one shortcut; the others stay bound until none remain.
  if (hotKeys_.empty()) shortcuts_.Close();
}

bool WaylandDesktop::ShellOpen(const std::string& target) {
  return posix::OpenWithDesktopOpener(target, {}, {});
}

}  // namespace ostrane::platform::wayland
