#include "KwinFakeInput.h"

#include <wayland-client.h>

#include <cstring>
#include <map>

#include "fake-input-client-protocol.h"

namespace {

constexpr uint32_t kLeftButton = 0x110;  // BTN_LEFT
constexpr uint32_t kShiftCode = 42;      // KEY_LEFTSHIFT

}  // namespace

std::optional<KeyCode> keyCodeOf(uint32_t keysym) {
  // linux/input-event-codes.h, by the keys' places on a US keyboard.
  static const std::map<uint32_t, KeyCode> keys = [] {
    std::map<uint32_t, KeyCode> k;
    const char* rows[] = {"1234567890-=", "qwertyuiop[]", "asdfghjkl;'`", "\\zxcvbnm,./"};
    const char* shifted[] = {"!@#$%^&*()_+", "QWERTYUIOP{}", "ASDFGHJKL:\"~", "|ZXCVBNM<>?"};
    const uint32_t firsts[] = {2, 16, 30, 43};
    for (int r = 0; r < 4; ++r)
      for (size_t i = 0; i < strlen(rows[r]); ++i) {
        k[uint32_t(rows[r][i])] = {firsts[r] + uint32_t(i), false};
        k[uint32_t(shifted[r][i])] = {firsts[r] + uint32_t(i), true};
      }
    k[' '] = {57, false};
    k[0xff09] = {15, false};   // Tab
    k[0xff0d] = {28, false};   // Return
    k[0xff1b] = {1, false};    // Escape
    k[0xff08] = {14, false};   // BackSpace
    k[0xffe1] = {42, false};   // Shift_L
    k[0xffe3] = {29, false};   // Control_L
    k[0xffe9] = {56, false};   // Alt_L
    k[0xffeb] = {125, false};  // Super_L
    for (uint32_t f = 0; f < 10; ++f)
      k[0xffbe + f] = {59 + f, false};  // F1 to F10
    k[0xffc8] = {87, false};            // F11
    k[0xffc9] = {88, false};            // F12
    return k;
  }();
  const auto found = keys.find(keysym);
  if (found == keys.end()) return std::nullopt;
  return found->second;
}

KwinFakeInput::~KwinFakeInput() {
  if (fake_) org_kde_kwin_fake_input_destroy(fake_);
  if (registry_) wl_registry_destroy(registry_);
  if (display_) wl_display_disconnect(display_);
}

bool KwinFakeInput::open() {
  display_ = wl_display_connect(nullptr);
  if (!display_) {
    error_ = "cannot connect to the Wayland display";
    return false;
  }
  registry_ = wl_display_get_registry(display_);
  static const wl_registry_listener listener = {
      [](void* data, wl_registry* registry, uint32_t name, const char* interface,
         uint32_t version) {
        auto* self = static_cast<KwinFakeInput*>(data);
        if (strcmp(interface, org_kde_kwin_fake_input_interface.name) != 0 || self->fake_) return;
        self->version_ = version < 4 ? version : 4;
        self->fake_ = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, self->version_));
      },
      [](void*, wl_registry*, uint32_t) {}};
  wl_registry_add_listener(registry_, &listener, this);
  if (wl_display_roundtrip(display_) < 0) return sync("listing the globals");
  if (!fake_) {
    error_ = "the compositor offers no org_kde_kwin_fake_input";
    return false;
  }
  if (version_ < 4) {
    error_ = "org_kde_kwin_fake_input version " + std::to_string(version_) + " has no keys";
    return false;
  }
  org_kde_kwin_fake_input_authenticate(fake_, "ostrane-tests", "the test's keys and pointer");
  return sync("authenticating");
}

bool KwinFakeInput::sync(const char* what) {
  if (wl_display_roundtrip(display_) >= 0) return true;
  error_ = std::string("the Wayland connection failed while ") + what + ": " +
           strerror(wl_display_get_error(display_));
  return false;
}

bool KwinFakeInput::move(double x, double y) {
  org_kde_kwin_fake_input_pointer_motion_absolute(fake_, wl_fixed_from_double(x),
                                                  wl_fixed_from_double(y));
  return sync("moving the pointer");
}

bool KwinFakeInput::nudge() {
  org_kde_kwin_fake_input_pointer_motion(fake_, wl_fixed_from_int(0), wl_fixed_from_int(0));
  return sync("moving the pointer");
}

bool KwinFakeInput::button(bool pressed) {
  org_kde_kwin_fake_input_button(fake_, kLeftButton, pressed ? 1 : 0);
  return sync("pressing the button");
}

bool KwinFakeInput::key(uint32_t keysym, bool pressed) {
  const std::optional<KeyCode> code = keyCodeOf(keysym);
  if (!code) {
    error_ = "no key code for keysym " + std::to_string(keysym);
    return false;
  }
  if (code->shift && pressed) org_kde_kwin_fake_input_keyboard_key(fake_, kShiftCode, 1);
  org_kde_kwin_fake_input_keyboard_key(fake_, code->code, pressed ? 1 : 0);
  if (code->shift && !pressed) org_kde_kwin_fake_input_keyboard_key(fake_, kShiftCode, 0);
  return sync("pressing a key");
}
