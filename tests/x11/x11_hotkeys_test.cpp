// Global hot keys against a private Xvfb (the desktop's opener is in x11_opener_test.cpp). Keys
// are typed by xdotool, a separate client, as a user would type them into another window.
// gtest first: Xlib's macros (None, Bool) clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>
// clang-format on
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/X11Desktop.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/x11/TestDesktop.h"

namespace ostrane {
namespace {

using platform::Key;
using platform::x11::X11Desktop;

// Types `keys` (xdotool key names, e.g. "shift+F9") on the test display.
void Type(const std::string& keys) {
  const std::string command = "xdotool key " + keys;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A window of another client that holds the keyboard focus and records the keys it gets.
class FocusWindow {
 public:
  FocusWindow() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) return;
    const Window root = DefaultRootWindow(display_);
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.event_mask = KeyPressMask | StructureNotifyMask;
    window_ = XCreateWindow(display_, root, 10, 10, 100, 100, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect | CWEventMask, &a);
    XMapRaised(display_, window_);
    XEvent e;
    do
      XWindowEvent(display_, window_, StructureNotifyMask, &e);
    while (e.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
  }
  ~FocusWindow() {
    if (!display_) return;
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }
  bool Ok() const { return window_ != 0; }

  // The key presses that reached the window so far, as "keysym/state" pairs.
  std::vector<std::pair<KeySym, unsigned>> Presses() {
    XSync(display_, False);
    std::vector<std::pair<KeySym, unsigned>> out;
    XEvent e;
    while (XCheckTypedWindowEvent(display_, window_, KeyPress, &e)) {
      out.emplace_back(XkbKeycodeToKeysym(display_, e.xkey.keycode, 0, 0), e.xkey.state & 0xFF);
    }
    return out;
  }
  _XDisplay* display() const { return display_; }

 private:
  _XDisplay* display_ = nullptr;
  Window window_ = 0;
};

unsigned LockedModifiers(Display* display) {
  XkbStateRec state{};
  XkbGetState(display, XkbUseCoreKbd, &state);
  return state.locked_mods;
}

unsigned MaskOf(Display* display, KeySym keysym) {
  XModifierKeymap* map = XGetModifierMapping(display);
  const KeyCode code = XKeysymToKeycode(display, keysym);
  unsigned mask = 0;
  for (int mod = 0; mod < 8; ++mod)
    for (int k = 0; k < map->max_keypermod; ++k)
      if (code && map->modifiermap[mod * map->max_keypermod + k] == code) mask |= 1u << mod;
  XFreeModifiermap(map);
  return mask;
}

// Moves `keysym` to modifier `mod` alone in the server's modifier map (as a user's xmodmap
// would); false when the server refuses.
bool BindModifier(Display* display, KeySym keysym, int mod) {
  const KeyCode code = XKeysymToKeycode(display, keysym);
  if (!code) return false;
  XModifierKeymap* map = XGetModifierMapping(display);
  for (int m = 0; m < 8; ++m)
    map = XDeleteModifiermapEntry(map, code, m);
  if (mod >= 0) map = XInsertModifiermapEntry(map, code, mod);
  int result = MappingBusy;
  for (int i = 0; i < 50 && result == MappingBusy; ++i) {
    result = XSetModifierMapping(display, map);
    if (result == MappingBusy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  XFreeModifiermap(map);
  XSync(display, False);
  return result == MappingSuccess;
}

class HotKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testkit::OpenTestDesktop(desktop_));
    desktop_->SetHotKeyHandler([this](Key vk) { delivered_.push_back(vk); });
    ASSERT_TRUE(focus_.Ok());
    ASSERT_EQ(LockedModifiers(focus_.display()), 0u);
  }

  void TearDown() override {
    // Leave the keyboard as the next test expects it: locks off, then the map as it was.
    Display* d = focus_.display();
    if (!d) return;
    const unsigned locked = LockedModifiers(d);
    if (locked & LockMask) Type("Caps_Lock");
    for (const KeySym lock : {XK_Num_Lock, XK_Scroll_Lock}) {
      const unsigned mask = MaskOf(d, lock);
      if (mask && (locked & mask)) Type(XKeysymToString(lock));
    }
    for (const auto& [keysym, mod] : restore_)
      BindModifier(d, keysym, mod);
  }

  // What a socket notifier on the hot-key connection would see: dispatches only when the
  // descriptor is readable, until `count` keys were delivered or `timeoutMs` passed.
  std::vector<Key> Pump(size_t count, int timeoutMs = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (delivered_.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{desktop_->HotKeyConnectionFd(), POLLIN, 0};
      if (poll(&p, 1, 20) > 0) desktop_->DispatchHotKeyEvents();
    }
    auto out = delivered_;
    delivered_.clear();
    return out;
  }

  // Registers F9 and F10 under the identifiers 1 and 2.
  void RegisterBoth() {
    ASSERT_TRUE(desktop_->RegisterHotKey("1", Key::F9));
    ASSERT_TRUE(desktop_->RegisterHotKey("2", Key::F10));
  }

  std::unique_ptr<X11Desktop> desktop_;
  std::vector<Key> delivered_;
  FocusWindow focus_;
  // Lock keys a test moved in the modifier map, and the modifier each goes back to (-1: none).
  std::vector<std::pair<KeySym, int>> restore_;
};

TEST_F(HotKeyTest, KeysReachTheHandlerWhileAnotherWindowHasTheFocusInEveryLockState) {
  RegisterBoth();
  EXPECT_GE(desktop_->HotKeyConnectionFd(), 0);
  EXPECT_NE(desktop_->HotKeyConnectionFd(), ConnectionNumber(desktop_->display()));
  struct Step {
    const char* locks;  // toggled before the keys
    unsigned lockedMask;
  };
  const unsigned numLock = MaskOf(focus_.display(), XK_Num_Lock);
  ASSERT_NE(numLock, 0u);
  for (const Step step : {Step{"", 0}, Step{"Num_Lock", numLock},
                          Step{"Caps_Lock", LockMask | numLock}, Step{"Num_Lock", LockMask}}) {
    if (*step.locks) Type(step.locks);
    ASSERT_EQ(LockedModifiers(focus_.display()), step.lockedMask);
    Type("F9");
    Type("F10");
    Type("F9");
    // One delivery per press: releases are not reported.
    EXPECT_EQ(Pump(3), (std::vector<Key>{Key::F9, Key::F10, Key::F9}))
        << "locks " << step.lockedMask;
    EXPECT_TRUE(Pump(1, 100).empty());
  }
  for (const auto& [keysym, state] : focus_.Presses())
    EXPECT_TRUE(keysym != XK_F9 && keysym != XK_F10) << "a held key reached the focused window";
}

TEST_F(HotKeyTest, ModifiedKeysGoToTheFocusedWindowInstead) {
  RegisterBoth();
  for (const char* keys : {"shift+F9", "ctrl+F10", "alt+F9", "ctrl+shift+F10", "super+F9"}) {
    Type(keys);
    Type("F10");  // a plain press after it: anything the modified one caused arrives first
    EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F10})) << keys;
    const auto presses = focus_.Presses();
    bool reached = false;
    for (const auto& [keysym, state] : presses)
      if ((keysym == XK_F9 || keysym == XK_F10) && state != 0) reached = true;
    EXPECT_TRUE(reached) << keys << " reached the focused window";
  }
}

TEST_F(HotKeyTest, NumLockOnAnotherModifierBitStillWorks) {
  Display* d = focus_.display();
  const unsigned usual = MaskOf(d, XK_Num_Lock);
  int usualMod = 0;
  while (usualMod < 8 && !(usual & (1u << usualMod)))
    ++usualMod;
  ASSERT_TRUE(BindModifier(d, XK_Num_Lock, Mod3MapIndex));
  restore_.emplace_back(XK_Num_Lock, usualMod);
  ASSERT_EQ(MaskOf(d, XK_Num_Lock), unsigned{Mod3Mask});
  RegisterBoth();
  Type("Num_Lock");
  ASSERT_EQ(LockedModifiers(d) & Mod3Mask, unsigned{Mod3Mask});
  Type("F9");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F9}));
  Type("Num_Lock");
  ASSERT_TRUE(BindModifier(d, XK_Num_Lock, usualMod));

  // A change of the map while the keys are held is followed as well.
  Pump(1, 100);
  Type("Num_Lock");
  Type("F10");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F10}));
}

TEST_F(HotKeyTest, ScrollLockBoundToAModifierIsIgnoredToo) {
  // Not bound in a default map; a user's map may bind it, here to Mod3.
  Display* d = focus_.display();
  ASSERT_EQ(MaskOf(d, XK_Scroll_Lock), 0u);
  restore_.emplace_back(XK_Scroll_Lock, -1);
  ASSERT_TRUE(BindModifier(d, XK_Scroll_Lock, Mod3MapIndex));
  RegisterBoth();
  Type("Scroll_Lock");
  ASSERT_EQ(LockedModifiers(d), unsigned{Mod3Mask});
  Type("F9");
  Type("Num_Lock Caps_Lock F10");
  EXPECT_EQ(Pump(2), (std::vector<Key>{Key::F9, Key::F10}));
}

TEST_F(HotKeyTest, TheHandlerMayRegisterTheKeysAgain) {
  // Registering anew from within a delivery, as a start-up routine run twice would.
  desktop_->SetHotKeyHandler([this](Key vk) {
    delivered_.push_back(vk);
    desktop_->UnregisterHotKey("1");
    desktop_->UnregisterHotKey("2");
    RegisterBoth();
  });
  RegisterBoth();
  Type("F9 F10 F9");
  EXPECT_EQ(Pump(3), (std::vector<Key>{Key::F9, Key::F10, Key::F9}));
}

TEST_F(HotKeyTest, AKeyHeldByAnotherClientFailsHarmlesslyAndTheOtherKeyStillWorks) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  const Window root = DefaultRootWindow(other);
  const KeyCode f9 = XKeysymToKeycode(other, XK_F9);
  // Another program holds F9, only in one of the lock states: nothing of ours may stay behind.
  for (const unsigned mods : {0u, unsigned{LockMask}}) {
    XGrabKey(other, f9, mods, root, False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    EXPECT_FALSE(desktop_->RegisterHotKey("1", Key::F9)) << mods;
    EXPECT_TRUE(desktop_->RegisterHotKey("2", Key::F10)) << mods;
    Type("F9");
    Type("F10");
    EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F10})) << mods;
    if (mods != 0) {
      // The other program only holds F9 with Caps Lock; a plain F9 is nobody's and goes to the
      // focused window.
      bool reached = false;
      for (const auto& [keysym, state] : focus_.Presses())
        reached |= keysym == XK_F9;
      EXPECT_TRUE(reached) << "a partial grab was left behind";
    }
    XUngrabKey(other, f9, mods, root);
    XSync(other, False);
    while (XPending(other)) {
      XEvent e;
      XNextEvent(other, &e);
    }
  }
  XCloseDisplay(other);
  // Once the key is free, registering it again works.
  EXPECT_TRUE(desktop_->RegisterHotKey("1", Key::F9));
  Type("F9");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F9}));
}

TEST_F(HotKeyTest, UnregisterReplaceAndRefusedRegistrations) {
  RegisterBoth();
  desktop_->UnregisterHotKey("1");
  desktop_->UnregisterHotKey("1");   // twice
  desktop_->UnregisterHotKey("0");   // never registered
  desktop_->UnregisterHotKey("77");  // never registered
  Type("F9");
  Type("F10");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F10}));
  EXPECT_FALSE(focus_.Presses().empty()) << "F9 is free again for the focused window";

  // The same identifier again replaces the key it stood for.
  ASSERT_TRUE(desktop_->RegisterHotKey("2", Key::F12));
  Type("F10");
  Type("F12");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F12}));

  // One key under two identifiers, and keys this backend does not know, are refused.
  EXPECT_FALSE(desktop_->RegisterHotKey("3", Key::F12));
  for (const int n : {0, -1, 25, 0x10078})
    EXPECT_FALSE(desktop_->RegisterHotKey("4", static_cast<Key>(n))) << n;
  Type("F12");
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F12})) << "still held after the refusals";
}

TEST_F(HotKeyTest, RoundTripsOnTheCaptureConnectionDoNotHideKeys) {
  RegisterBoth();
  Type("F9");
  // Requests that wait for the server's answer, on the connection the engine uses.
  std::vector<uint8_t> bits(static_cast<size_t>(12) * 4);
  for (int i = 0; i < 3; ++i) {
    desktop_->GetScreenSize();
    desktop_->Capture(0, 0, 4, 4, bits.data(), 12);
  }
  EXPECT_EQ(Pump(1), (std::vector<Key>{Key::F9}));
}

TEST_F(HotKeyTest, ClosingTheDesktopReleasesTheKeys) {
  RegisterBoth();
  desktop_.reset();
  Type("F9");
  bool reached = false;
  for (int i = 0; i < 50 && !reached; ++i) {
    for (const auto& [keysym, state] : focus_.Presses())
      reached |= keysym == XK_F9;
    if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(reached);
}

}  // namespace
}  // namespace ostrane

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ostrane::testkit::RegisterPrivateXEnvironment("800x600");
  return RUN_ALL_TESTS();
}
