// PortalSession where there is nothing to talk to: no session bus, a bus without the portal, and
// portals that lack an interface or the device or source it needs. Each must end in NoPortal
// with the missing piece named, at once rather than after the consent timeout.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/wayland/PortalSession.h"

extern char** environ;

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;

// A session bus of the test's own, ended with the test. It starts no services: a real portal
// must not be activated in the portal's place.
class PrivateBus {
 public:
  PrivateBus() {
    char pattern[] = "/tmp/ostrane-bus.XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string socket = dir_ + "/bus";
    const std::string config = dir_ + "/bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
           "Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
           "<busconfig><type>session</type><listen>unix:path="
        << socket
        << "</listen><auth>EXTERNAL</auth><policy context='default'>"
           "<allow send_destination='*' eavesdrop='true'/><allow eavesdrop='true'/>"
           "<allow receive_sender='*'/><allow own='*'/></policy></busconfig>";
    const std::string configArg = "--config-file=" + config;
    const char* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile", nullptr};
    // Its complaints about limits it may not raise are noise here.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned =
        posix_spawnp(&pid_, "dbus-daemon", &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
      pid_ = 0;
      return;
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    if (std::filesystem::exists(socket)) address_ = "unix:path=" + socket;
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  const std::string& Address() const { return address_; }

 private:
  pid_t pid_ = 0;
  std::string dir_;
  std::string address_;
};

// The portal's object with the interfaces asked for, served on a thread of its own.
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
    thread_ = std::thread([this, address, xml] { Serve(address, xml); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~FakePortal() {
    g_main_loop_quit(loop_);
    thread_.join();
  }

 private:
  void Serve(const std::string& address, const std::string& xml) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop_ = g_main_loop_new(context, FALSE);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
    std::vector<guint> objects;
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
    for (GDBusInterfaceInfo** iface = node->interfaces; bus && *iface; ++iface) {
      objects.push_back(g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                                          *iface, &vtable, this, nullptr, nullptr));
    }
    if (bus) {
      GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 0u), nullptr,
          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      if (reply) g_variant_unref(reply);
    }
    {
      std::lock_guard lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    g_main_loop_run(loop_);
    for (guint id : objects)
      g_dbus_connection_unregister_object(bus, id);
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_dbus_node_info_unref(node);
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  guint32 devices_, sources_;
  std::thread thread_;
  GMainLoop* loop_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
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

  PrivateBus bus;
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
