// A desktop that lives in memory: a settable screen picture, recorded pointer and button
// events, hot keys pressed by the test, and switches that make a capture fail. The engine's and
// the windows' tests run against it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace ostrane::platform {

class MemoryDesktop : public Desktop {
 public:
  enum class EventKind { Move, LeftDown, LeftUp };
  struct Event {
    EventKind Kind;
    int32_t X;
    int32_t Y;
    friend bool operator==(const Event&, const Event&) = default;
  };

  MemoryDesktop(int32_t width, int32_t height, uint32_t fill = 0);

  // Screen pixels as 0x00RRGGBB, row-major from the top-left.
  void SetPixel(int32_t x, int32_t y, uint32_t rgb);
  uint32_t PixelAt(int32_t x, int32_t y) const;
  void Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb);

  bool FailCopy = false;
  bool FailRead = false;
  // When set, only the capture with this zero-based number fails (as FailCopy / FailRead say).
  int32_t FailOnlyCapture = -1;

  // What the system answers to a move or a button event (the event is recorded only when
  // taken).
  bool RefuseMove = false;
  bool RefuseButton = false;

  std::vector<Event> Events;
  int32_t CaptureCount = 0;
  // Passes begun and ended, and the captures made when the last one began.
  int32_t PassesBegun = 0;
  int32_t PassesEnded = 0;
  int32_t CapturesAtPassStart = -1;
  // Runs inside every capture, as the events a waiting desktop handles meanwhile; a pass
  // cancelled by then gets CaptureResult::Cancelled, as from a desktop that waits.
  std::function<void()> DuringCapture;
  // Where WatchPointer reports to, once asked (PointerWatchable says whether it may be).
  bool PointerWatchable = false;
  std::function<void(int32_t, int32_t)> PointerWatcher;
  int32_t PointerX = 0;
  int32_t PointerY = 0;

  // Registered hot keys by name; a key in HeldElsewhere cannot be registered.
  std::map<std::string, Key> HotKeys;
  std::vector<Key> HeldElsewhere;
  // Shell requests as asked for; ShellAnswer is what ShellOpen answers.
  std::vector<std::string> Opened;
  bool ShellAnswer = true;
  uintptr_t Owner = 0;
  // What RequestAccess answers (and counts), and whether hot keys are global.
  bool AccessGranted = true;
  std::string AccessMessage;
  int AccessRequests = 0;
  bool GlobalHotKeys = true;
  // The loop the desktop was joined to, if any.
  EventLoop* Loop = nullptr;

  // Delivers `key` as the system would when it is pressed: only while it is registered.
  void PressHotKey(Key key);

  ScreenSize GetScreenSize() override { return {width_, height_}; }
  CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                        int32_t lineBytes) override;
  bool CaptureFrame(Frame& frame) override { return CaptureFrameByCapture(*this, frame); }
  void BeginPass(const CancelFlag& cancel) override {
    ++PassesBegun;
    CapturesAtPassStart = CaptureCount;
    cancel_ = &cancel;
  }
  void EndPass() override {
    ++PassesEnded;
    cancel_ = nullptr;
  }
  bool MovePointer(int32_t x, int32_t y) override;
  // Recorded at the pointer's position.
  bool LeftButtonDown() override;
  bool LeftButtonUp() override;
  bool WatchPointer(std::function<void(int32_t, int32_t)> moved) override {
    if (!PointerWatchable) return false;
    PointerWatcher = std::move(moved);
    return true;
  }
  bool RequestAccess(std::string& message) override {
    ++AccessRequests;
    if (!AccessGranted) message = AccessMessage;
    return AccessGranted;
  }
  bool HotKeysAreGlobal() const override { return GlobalHotKeys; }
  void JoinEventLoop(EventLoop& loop) override { Loop = &loop; }
  void LeaveEventLoop() override { Loop = nullptr; }
  void SetOwnerWindow(uintptr_t nativeWindow) override { Owner = nativeWindow; }
  bool RegisterHotKey(const std::string& name, Key key) override;
  void UnregisterHotKey(const std::string& name) override { HotKeys.erase(name); }
  void SetHotKeyHandler(std::function<void(Key)> handler) override {
    handler_ = std::move(handler);
  }
  bool ShellOpen(const std::string& target) override {
    Opened.push_back(target);
    return ShellAnswer;
  }

 private:
  const CancelFlag* cancel_ = nullptr;
  std::function<void(Key)> handler_;
  int32_t width_;
  int32_t height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace ostrane::platform
