// PortalSession where there is nothing to talk to: no session bus, a bus without the portal, and
// portals that lack an interface or the device or source it needs. Each must end in NoPortal
// with the missing piece named, at once rather than after the consent timeout.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/wayland/PortalSession.h"
#include "tests/wayland/PortalTestBus.h"

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;

// The portal's object with the interfaces asked for.
class FakePortal {
 public:
  FakePortal(const std::string& address, bool remoteDesktop, guint32 devices, bool screenCast,
             guint32 sources)
      : devices_(devices), sources_(sources) {
    std::string xml = "<node>";
    if (remoteDesktop) {
      xml +=
          "<interface name='org.freedesktop.portal.RemoteDesktop'>"
          "<property name='AvailableDeviceTypes' type='u' access='read'/>"
          "<property name='version' type='u' access='read'/></interface>";
    }
    if (screenCast) {
      xml +=
          "<interface name='org.freedesktop.portal.ScreenCast'>"
          "<property name='AvailableSourceTypes' type='u' access='read'/>"
          "<property name='version' type='u' access='read'/></interface>";
    }
    xml += "</node>";
    node_ = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
    service_ = std::make_unique<testbus::PortalService>(address, [this](GDBusConnection* bus) {
      static const GDBusInterfaceVTable vtable = {
          nullptr,
          [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
             GError**, gpointer data) -> GVariant* {
            auto* self = static_cast<FakePortal*>(data);
            if (g_str_equal(property, "AvailableDeviceTypes")) {
              return g_variant_new_uint32(self->devices_);
            }
            if (g_str_equal(property, "AvailableSourceTypes")) {
              return g_variant_new_uint32(self->sources_);
            }
            return g_variant_new_uint32(1);
          },
          nullptr,
          {}};
      std::vector<guint> objects;
      for (GDBusInterfaceInfo** iface = node_->interfaces; *iface; ++iface) {
        objects.push_back(g_dbus_connection_register_object(
            bus, "/org/freedesktop/portal/desktop", *iface, &vtable, this, nullptr, nullptr));
      }
      return objects;
    });
  }
  ~FakePortal() {
    service_.reset();
    g_dbus_node_info_unref(node_);
  }

 private:
  guint32 devices_, sources_;
  GDBusNodeInfo* node_ = nullptr;
  std::unique_ptr<testbus::PortalService> service_;
};

TEST(PortalSession, UnusableBeforeStart) {
  PortalSession session;
  EXPECT_FALSE(session.Active());
  std::string error;
  EXPECT_FALSE(session.MovePointer(1, 1, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(session.Button(true, nullptr));
  error.clear();
  EXPECT_EQ(session.OpenPipeWireRemote(error), -1);
  EXPECT_FALSE(error.empty());
  session.Close();
  session.Close();
}

// One program, one bus connection: GLib keeps the first one it makes, so the cases run in order
// from no bus at all to a portal that lacks less and less.
TEST(PortalSession, NamesWhatIsMissing) {
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string restore = saved ? saved : "";

  {
    SCOPED_TRACE("no bus");
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ostrane-bus", 1);
    PortalSession session;
    std::string error;
    EXPECT_EQ(session.Start(error, {}, 5s), StartResult::NoPortal);
    EXPECT_NE(error.find("no D-Bus session bus"), std::string::npos) << error;
  }

  testbus::PrivateBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  {
    SCOPED_TRACE("a bus without the portal");
    PortalSession session;
    std::string error;
    EXPECT_EQ(session.Start(error, {}, 5s), StartResult::NoPortal);
    EXPECT_NE(error.find("org.freedesktop.portal.Desktop"), std::string::npos) << error;
  }

  struct Case {
    const char* Name;
    bool RemoteDesktop;
    guint32 Devices;
    bool ScreenCast;
    guint32 Sources;
    const char* Named;
  };
  const Case cases[] = {
      {"no RemoteDesktop", false, 0, true, 1, "has no org.freedesktop.portal.RemoteDesktop"},
      {"keyboard only", true, 1, true, 1, "cannot share a pointer"},
      {"no ScreenCast", true, 7, false, 0, "has no org.freedesktop.portal.ScreenCast"},
      {"windows only", true, 2, true, 2, "cannot share a monitor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakePortal portal(bus.Address(), c.RemoteDesktop, c.Devices, c.ScreenCast, c.Sources);
    PortalSession session;
    std::string error;
    int idles = 0;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(session.Start(
                  error, [&] { ++idles; }, 30s),
              StartResult::NoPortal);
    EXPECT_NE(error.find(c.Named), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_FALSE(session.Active());
  }

  if (saved) {
    setenv("DBUS_SESSION_BUS_ADDRESS", restore.c_str(), 1);
  } else {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
}

}  // namespace
}  // namespace ostrane::platform::wayland
