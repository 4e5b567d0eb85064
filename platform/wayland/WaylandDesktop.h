// The desktop of a Wayland session, through the desktop portal: one remote-desktop session,
// asked for when capture or input is first needed, gives a screen-cast of the monitor (read
// from PipeWire) and a virtual pointer on it. Ordinary programs cannot grab keys there: the hot
// keys are global only where the portal offers global shortcuts. Where the portal can keep the
// user's consent, its token is kept in the user's state folder (see RestoreTokens).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/wayland/GlobalShortcuts.h"
#include "platform/wayland/PipeWireFrames.h"
#include "platform/wayland/PortalSession.h"

namespace ostrane::platform::wayland {

// What the user is told when the portal's consent is refused.
inline constexpr const char* kConsentRefused =
    "Screen capture and clicking need permission on this desktop";

class WaylandDesktop : public Desktop {
 public:
  WaylandDesktop();
  ~WaylandDesktop() override;

  // The session's frames once it runs; before that the compositor's first output.
  ScreenSize GetScreenSize() override;
  // Reads the newest frame at least as new as the call (see PipeWireFrames): a pass never sees
  // the screen as it was before the pass began. CopyFailed without a session.
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  // The captures of a pass share the first frame at least as new as the pass's start: a still
  // screen sends no frames, so proving a frame current costs a wait of the stream's settle
  // time, paid once per pass rather than once per capture.
  void BeginPass(const CancelFlag& cancel) override;
  void EndPass() override;
  bool CaptureFrame(Frame& frame) override;
  // Screen pixels are the frames' pixels; the portal takes the stream's logical coordinates.
  bool MovePointer(int32_t x, int32_t y) override;
  bool LeftButtonDown() override;
  bool LeftButtonUp() override;
  // Where the portal can report the pointer with the frames: its positions, in the frames'
  // pixels, are delivered from the loop while a session runs.
  bool WatchPointer(std::function<void(int32_t x, int32_t y)> moved) override;

  // Starts the portal session unless one runs, keeping the windows alive while the user
  // answers the consent dialog.
  bool RequestAccess(std::string& message) override;
  // True while the portal holds the keys; otherwise the windows take F9 and F10 themselves.
  bool HotKeysAreGlobal() const override { return shortcuts_.Bound(); }

  // Activations are read from the loop: its descriptor wakes the loop when one arrives.
  void JoinEventLoop(EventLoop& loop) override;
  void LeaveEventLoop() override { loop_ = nullptr; }
  void SetOwnerWindow(uintptr_t) override {}
  // Binds the keys as portal shortcuts named by their names, with the keys as preferred
  // triggers, together with those registered before, in one request: a desktop may ask the user
  // once for the set, and binds a session only once. False for a key the portal did not give,
  // or where it has no global shortcuts.
  std::vector<bool> RegisterHotKeys(const std::vector<HotKey>& keys) override;
  bool RegisterHotKey(const std::string& name, Key key) override;
  void UnregisterHotKey(const std::string& name) override;
  void SetHotKeyHandler(std::function<void(Key)> handler) override {
    hotKeyHandler_ = std::move(handler);
  }
  bool ShellOpen(const std::string& target) override;

 private:
  // The newest frame at least as new as `notBefore`; nullptr when there is no running session
  // or the pass was cancelled meanwhile (`cancelled` says which).
  std::shared_ptr<const CapturedFrame> FrameNotBefore(Clock::time_point notBefore,
                                                      bool* cancelled = nullptr);
  void EndSession();

  EventLoop* loop_ = nullptr;
  bool watching_ = false;
  // Declared before the shortcuts, whose activations read them, so that they outlive them.
  std::map<std::string, Key> hotKeys_;
  std::function<void(Key)> hotKeyHandler_;
  std::function<void(int32_t, int32_t)> pointerWatch_;
  GlobalShortcuts shortcuts_;
  PortalSession session_;
  PipeWireFrames frames_;
  bool streaming_ = false;
  ScreenSize outputSize_;
  Clock::time_point lastMotion_;
  // The pass under way (none while null): what cancels it, when it began, and the frame its
  // captures share once taken.
  const CancelFlag* passCancel_ = nullptr;
  Clock::time_point passStart_;
  std::shared_ptr<const CapturedFrame> passFrame_;
};

}  // namespace ostrane::platform::wayland
