// A private session bus for the tests of the portal's clients, and a fake portal service on it.
#pragma once

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrane::platform::wayland::testbus {

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
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

// The portal's name on the bus, served on a thread of its own with a GLib context of its own.
// `setup` runs there once connected and registers the objects, whose ids it returns.
class PortalService {
 public:
  using Setup = std::function<std::vector<guint>(GDBusConnection*)>;

  PortalService(const std::string& address, Setup setup) {
    thread_ = std::thread([this, address, setup = std::move(setup)] { Serve(address, setup); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~PortalService() {
    // Through the loop's own context: a quit sent before the loop runs would be lost, and the
    // thread would never end.
    g_main_context_invoke(
        context_,
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }
  PortalService(const PortalService&) = delete;
  PortalService& operator=(const PortalService&) = delete;

  // The service's connection, for signals sent from the test; null without a bus.
  GDBusConnection* Connection() const { return bus_; }

 private:
  void Serve(const std::string& address, const Setup& setup) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    context_ = context;
    loop_ = g_main_loop_new(context, FALSE);
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    std::vector<guint> objects;
    if (bus_) {
      objects = setup(bus_);
      GVariant* reply = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
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
      g_dbus_connection_unregister_object(bus_, id);
    if (bus_) {
      g_dbus_connection_close_sync(bus_, nullptr, nullptr);
      g_object_unref(bus_);
    }
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  std::thread thread_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
};

}  // namespace ostrane::platform::wayland::testbus
