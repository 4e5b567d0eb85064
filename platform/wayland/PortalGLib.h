// What the portal's clients in this folder share: the portal's bus name and object, and owners
// for the GLib values they receive.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace ostrane::platform::wayland {

inline constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
// How often a wait for the portal wakes to call the caller's idle work.
inline constexpr guint kTickMs = 10;

struct ErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

}  // namespace ostrane::platform::wayland
