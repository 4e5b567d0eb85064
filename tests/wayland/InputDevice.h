// A user's keyboard and pointer as the test tools drive them, whichever desktop gives them:
// mutter's remote-desktop session (MutterRemote.h) or kwin's fake-input protocol
// (KwinFakeInput.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class InputDevice {
 public:
  virtual ~InputDevice() = default;
  // The pointer to (x, y) of the screen, in its pixels.
  virtual bool move(double x, double y) = 0;
  // A motion by nothing: makes the device's pointer without moving it.
  virtual bool nudge() = 0;
  // The left button down or up.
  virtual bool button(bool pressed) = 0;
  // An X keysym (XK_Tab is 0xff09, printable ASCII is itself) down or up.
  virtual bool key(uint32_t keysym, bool pressed) = 0;
  virtual const std::string& error() const = 0;
};

// The keysym of a key's name: Tab, Return, Escape, BackSpace, space, alt, ctrl, shift, super,
// F1 to F12, or one printable ASCII character; nothing for other names.
std::optional<uint32_t> keysymNamed(const std::string& name);
