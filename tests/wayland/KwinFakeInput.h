// Keys and the pointer through kwin's fake-input protocol (org_kde_kwin_fake_input), which kwin
// grants any client when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1, as scripts/
// wayland-session --desktop kde does. Keys go as Linux key codes of a US layout; a keysym that
// needs Shift gets it pressed around it.
#pragma once

#include <optional>

#include "InputDevice.h"

struct wl_display;
struct wl_registry;
struct org_kde_kwin_fake_input;

// The key code of a keysym on a US layout, and whether it needs Shift; nothing for others.
struct KeyCode {
  uint32_t code = 0;
  bool shift = false;
  bool operator==(const KeyCode&) const = default;
};
std::optional<KeyCode> keyCodeOf(uint32_t keysym);

class KwinFakeInput : public InputDevice {
 public:
  KwinFakeInput() = default;
  KwinFakeInput(const KwinFakeInput&) = delete;
  KwinFakeInput& operator=(const KwinFakeInput&) = delete;
  ~KwinFakeInput() override;

  // Connects to $WAYLAND_DISPLAY and binds the protocol (version 4, for keys); false with
  // error() set.
  bool open();

  bool move(double x, double y) override;
  bool nudge() override;
  bool button(bool pressed) override;
  bool key(uint32_t keysym, bool pressed) override;
  const std::string& error() const override { return error_; }

 private:
  // Sends what was asked and waits until kwin has read it, so that events keep their order and
  // a failure shows here.
  bool sync(const char* what);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  org_kde_kwin_fake_input* fake_ = nullptr;
  uint32_t version_ = 0;
  std::string error_;
};
