#include "platform/wayland/OutputSize.h"

#include <wayland-client.h>

#include <cstring>

namespace ostrane::platform::wayland {

namespace {

struct Probe {
  wl_output* output = nullptr;
  ScreenSize size;
};

void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
  if (flags & WL_OUTPUT_MODE_CURRENT) static_cast<Probe*>(data)->size = {width, height};
}
void OnGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                const char*, int32_t) {}
void OnDone(void*, wl_output*) {}
void OnScale(void*, wl_output*, int32_t) {}
void OnText(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnDone, OnScale, OnText, OnText};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* probe = static_cast<Probe*>(data);
  if (probe->output || std::strcmp(interface, wl_output_interface.name) != 0) return;
  probe->output =
      static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
  wl_output_add_listener(probe->output, &kOutputListener, probe);
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

}  // namespace

ScreenSize FirstOutputSize(std::string& error) {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    error = "no Wayland compositor to connect to";
    return {};
  }
  Probe probe;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &probe);
  // The first round trip announces the globals, the second the output's modes.
  wl_display_roundtrip(display);
  if (probe.output) wl_display_roundtrip(display);
  if (probe.output) wl_output_destroy(probe.output);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  if (probe.size.Width <= 0 || probe.size.Height <= 0) {
    error = "the compositor announces no output";
    return {};
  }
  return probe.size;
}

}  // namespace ostrane::platform::wayland
