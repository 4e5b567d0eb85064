// System-wide keys: passive grabs on the root window of a connection used for nothing else.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Error.h"

namespace ostrane::platform::x11 {

namespace {

// The keysym of a key this backend can grab; NoSymbol for any other.
KeySym KeySymFor(Key key) {
  const int n = FunctionKeyNumber(key);
  return n != 0 ? XK_F1 + static_cast<KeySym>(n - 1) : NoSymbol;
}

// The modifier bits that keys with `keysym` are bound to in the current modifier map.
unsigned MaskOfKeySym(Display* display, const XModifierKeymap* map, KeySym keysym) {
  // The first code of the keysym is asked for as well, for servers without the keyboard
  // extension, where the per-level lookup finds nothing.
  const KeyCode first = XKeysymToKeycode(display, keysym);
  unsigned mask = 0;
  for (int mod = 0; mod < 8; ++mod) {
    for (int k = 0; k < map->max_keypermod; ++k) {
      const KeyCode code = map->modifiermap[mod * map->max_keypermod + k];
      if (code == 0) continue;
      if (code == first) mask |= 1u << mod;
      for (unsigned level = 0; level < 2; ++level) {
        if (XkbKeycodeToKeysym(display, code, 0, level) == keysym) mask |= 1u << mod;
      }
    }
  }
  return mask;
}

// The lock modifiers a user may have on without meaning anything by it.
unsigned LockModifiers(Display* display) {
  unsigned locks = LockMask;
  if (XModifierKeymap* map = XGetModifierMapping(display)) {
    locks |= MaskOfKeySym(display, map, XK_Num_Lock);
    locks |= MaskOfKeySym(display, map, XK_Scroll_Lock);
    XFreeModifiermap(map);
  }
  // A lock bound to Shift or Control would make those combinations fire as well.
  return locks & ~static_cast<unsigned>(ShiftMask | ControlMask);
}

// Every combination of the separate lock bits in `locks`, starting with none.
std::vector<unsigned> Combinations(unsigned locks) {
  std::vector<unsigned> bits;
  for (unsigned b = 1; b <= Mod5Mask; b <<= 1) {
    if (locks & b) bits.push_back(b);
  }
  std::vector<unsigned> out;
  for (unsigned subset = 0; subset < (1u << bits.size()); ++subset) {
    unsigned mask = 0;
    for (size_t i = 0; i < bits.size(); ++i) {
      if (subset & (1u << i)) mask |= bits[i];
    }
    out.push_back(mask);
  }
  return out;
}

}  // namespace

struct X11Desktop::HotKeys {
  struct Grab {
    Key key = Key::NoKey;
    KeyCode keycode = 0;
    unsigned locks = 0;             // the lock bits the grabs were made with
    std::vector<unsigned> grabbed;  // modifier sets actually held
  };

  Display* display = nullptr;
  Window root = 0;
  std::map<std::string, Grab> keys;  // by registered name

  ~HotKeys() {
    for (auto& [name, key] : keys)
      Release(key);
    ForgetDisplay(display);
    XCloseDisplay(display);
  }

  void Release(Grab& key) {
    for (const unsigned mods : key.grabbed)
      XUngrabKey(display, key.keycode, mods, root);
    key.grabbed.clear();
    XFlush(display);
  }

  // Grabs the key with every lock combination; all or nothing. False, with the reason on
  // stderr, when the key has no code in the keyboard map or another client holds any of the
  // combinations.
  bool Take(Grab& key) {
    const KeySym keysym = KeySymFor(key.key);
    key.keycode = XKeysymToKeycode(display, keysym);
    key.locks = LockModifiers(display);
    if (key.keycode == 0) {
      std::fprintf(stderr, "ostrane: %s has no key on this keyboard\n", XKeysymToString(keysym));
      return false;
    }
    for (const unsigned mods : Combinations(key.locks)) {
      // One trap per combination: a failure is reported asynchronously and must be pinned to
      // the grab that caused it.
      ErrorTrap trap(display);
      XGrabKey(display, key.keycode, mods, root, False, GrabModeAsync, GrabModeAsync);
      if (trap.Failed()) {
        Release(key);
        if (trap.ErrorCode() == BadAccess) {
          std::fprintf(stderr, "ostrane: %s is held by another program\n", XKeysymToString(keysym));
        } else {
          char text[256] = {};
          XGetErrorText(display, trap.ErrorCode(), text, sizeof text);
          std::fprintf(stderr, "ostrane: %s could not be grabbed: %s\n", XKeysymToString(keysym),
                       text);
        }
        return false;
      }
      key.grabbed.push_back(mods);
    }
    return true;
  }

  // The keyboard or modifier map changed: a key may have a new code, a lock a new bit.
  void Refresh() {
    for (auto& [name, key] : keys) {
      if (key.grabbed.empty()) continue;  // never held; stays so until registered again
      const KeyCode code = XKeysymToKeycode(display, KeySymFor(key.key));
      if (code == key.keycode && LockModifiers(display) == key.locks) continue;
      Release(key);
      Take(key);
    }
  }
};

void X11Desktop::HotKeysDeleter::operator()(HotKeys* hotKeys) const {
  delete hotKeys;
}

X11Desktop::HotKeys* X11Desktop::EnsureHotKeys() const {
  if (hotKeys_ || hotKeysTried_) return hotKeys_.get();
  hotKeysTried_ = true;
  InstallErrorHandlers();
  Display* display = XOpenDisplay(DisplayString(display_));
  if (!display) return nullptr;
  hotKeys_.reset(new HotKeys);
  hotKeys_->display = display;
  AdoptDisplay(display);
  hotKeys_->root = RootWindow(display, DefaultScreen(display));
  return hotKeys_.get();
}

int X11Desktop::HotKeyConnectionFd() const {
  HotKeys* hotKeys = EnsureHotKeys();
  return hotKeys ? ConnectionNumber(hotKeys->display) : -1;
}

bool X11Desktop::RegisterHotKey(const std::string& name, Key key) {
  UnregisterHotKey(name);
  if (KeySymFor(key) == NoSymbol) return false;
  HotKeys* hotKeys = EnsureHotKeys();
  if (!hotKeys) return false;
  // The same key under two names would share one grab; the second is refused.
  for (const auto& [otherName, other] : hotKeys->keys) {
    if (other.key == key) return false;
  }
  HotKeys::Grab grab;
  grab.key = key;
  if (!hotKeys->Take(grab)) return false;
  hotKeys->keys.emplace(name, std::move(grab));
  return true;
}

void X11Desktop::UnregisterHotKey(const std::string& name) {
  if (!hotKeys_) return;
  auto it = hotKeys_->keys.find(name);
  if (it == hotKeys_->keys.end()) return;
  hotKeys_->Release(it->second);
  hotKeys_->keys.erase(it);
}

void X11Desktop::DispatchHotKeyEvents() {
  if (!hotKeys_) return;
  Display* display = hotKeys_->display;
  while (XPending(display)) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      if (event.xmapping.request != MappingPointer) hotKeys_->Refresh();
      continue;
    }
    if (event.type != KeyPress) continue;
    const XKeyEvent& press = event.xkey;
    // While a grab is active every key goes to this connection; only a registered key with no
    // modifiers other than the locks counts.
    for (const auto& [name, key] : hotKeys_->keys) {
      if (key.grabbed.empty() || press.keycode != key.keycode) continue;
      const unsigned modifiers = press.state & 0xFFu & ~key.locks;
      if (modifiers == 0 && hotKeyHandler_) hotKeyHandler_(key.key);
      break;
    }
  }
}

}  // namespace ostrane::platform::x11
