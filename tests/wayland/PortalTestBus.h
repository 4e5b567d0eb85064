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
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
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

// The session bus for one test, given back as it was at its end.
class ScopedBus {
 public:
  ScopedBus() {
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (saved) saved_ = saved;
    had_ = saved != nullptr;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_.Address().c_str(), 1);
  }
  ~ScopedBus() {
    if (had_) {
      setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
    } else {
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
  }
  const std::string& Address() const { return bus_.Address(); }

 private:
  PrivateBus bus_;
  std::string saved_;
  bool had_ = false;
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
    // Through the loop's own context: a quit sent before the loop runs would be lost.
    g_main_context_invoke(g_main_loop_get_context(loop_), Quit, loop_);
    thread_.join();
  }
  PortalService(const PortalService&) = delete;
  PortalService& operator=(const PortalService&) = delete;

  // The service's connection, for signals sent from the test; null without a bus.
  GDBusConnection* Connection() const { return bus_; }

 private:
  static gboolean Quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
  }
  void Serve(const std::string& address, const Setup& setup) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop_ = g_main_loop_new(context, FALSE);
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    std::vector<guint> objects;
    if (bus_) {
      objects = setup(bus_);
      // The portal of an earlier test may still hold the name until the bus has seen it go:
      // callers are let in once this one owns it.
      bool owned = false;
      const guint owner = g_bus_own_name_on_connection(
          bus_, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
          [](GDBusConnection*, const gchar*, gpointer data) { *static_cast<bool*>(data) = true; },
          nullptr, &owned, nullptr);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!owned && std::chrono::steady_clock::now() < deadline) {
        if (!g_main_context_iteration(context, FALSE))
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      (void)owner;  // released with the connection
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
  GMainLoop* loop_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
};

// Introspection of an interface for FakePortal: each method as "Name in-type... [-> out-type]",
// each property of type u.
inline std::string Interface(const std::string& name, std::initializer_list<const char*> methods,
                             std::initializer_list<const char*> properties = {"version"}) {
  std::string xml = "<interface name='" + name + "'>";
  for (const char* method : methods) {
    std::istringstream words(method);
    std::string word, direction = "in";
    words >> word;
    xml += "<method name='" + word + "'>";
    while (words >> word) {
      if (word == "->") {
        direction = "out";
      } else {
        xml += "<arg type='" + word + "' direction='" + direction + "'/>";
      }
    }
    xml += "</method>";
  }
  for (const char* property : properties)
    xml += std::string("<property name='") + property + "' type='u' access='read'/>";
  return xml + "</interface>";
}

// The portal's object, with the interfaces of `xml` and the host registry, served on a thread
// of its own. Each call goes to `handle` there (after the registry has had its say); properties
// come from `property`. Requests are answered through request objects and sessions are objects
// of their own, as the real portal does; the calls are logged in order, by sender.
class FakePortal {
 public:
  static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
  struct Call {
    GDBusConnection* Connection;
    std::string Sender, Method;
    GVariant* Parameters;  // borrowed
    GDBusMethodInvocation* Invocation;
  };
  using Handler = std::function<void(FakePortal&, Call&)>;
  using Property = std::function<GVariant*(const std::string& iface, const std::string& name)>;

  // `knowsApp`: whether the registry finds the app's desktop file; false answers Register
  // with an error, as a portal does for a program run from its build tree.
  FakePortal(const std::string& address, const std::string& xml, Handler handle, Property property,
             bool knowsApp = true)
      : handle_(std::move(handle)), property_(std::move(property)), knowsApp_(knowsApp) {
    node_ = g_dbus_node_info_new_for_xml(
        ("<node>" + xml + Interface("org.freedesktop.host.portal.Registry", {"Register s a{sv}"}) +
         "</node>")
            .c_str(),
        nullptr);
    session_ = g_dbus_node_info_new_for_xml(
        ("<node>" + Interface("org.freedesktop.portal.Session", {"Close"}, {}) + "</node>").c_str(),
        nullptr);
    service_ = std::make_unique<PortalService>(address, [this](GDBusConnection* bus) {
      std::vector<guint> objects;
      for (GDBusInterfaceInfo** iface = node_->interfaces; *iface; ++iface) {
        objects.push_back(g_dbus_connection_register_object(bus, kPath, *iface, VTable(), this,
                                                            nullptr, nullptr));
      }
      return objects;
    });
  }
  ~FakePortal() {
    service_.reset();
    // The session objects went with the service's connection.
    g_dbus_node_info_unref(session_);
    g_dbus_node_info_unref(node_);
  }
  FakePortal(const FakePortal&) = delete;
  FakePortal& operator=(const FakePortal&) = delete;

  // An option of the call's dictionary (its last argument), as text; "" when absent.
  static std::string Option(GVariant* parameters, const char* key) {
    GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
    std::string text;
    if (GVariant* value = g_variant_lookup_value(options, key, nullptr)) {
      if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        text = g_variant_get_string(value, nullptr);
      } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
        text = std::to_string(g_variant_get_uint32(value));
      }
      g_variant_unref(value);
    }
    g_variant_unref(options);
    return text;
  }

  // Returns the request object's path to the caller and, when `answer`, sends its Response;
  // `results` (a{sv}, floating) may be null for none.
  static void Respond(Call& call, guint32 response, GVariant* results, bool answer = true) {
    const std::string request = std::string(kPath) + "/request/" + Part(call.Sender) + "/" +
                                Option(call.Parameters, "handle_token");
    if (!results) results = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
    g_dbus_method_invocation_return_value(call.Invocation, g_variant_new("(o)", request.c_str()));
    if (answer) {
      g_dbus_connection_emit_signal(call.Connection, call.Sender.c_str(), request.c_str(),
                                    "org.freedesktop.portal.Request", "Response",
                                    g_variant_new("(u@a{sv})", response, results), nullptr);
    } else {
      g_variant_unref(g_variant_ref_sink(results));
    }
  }

  // Opens the session a CreateSession call names; "" (and an error returned) when a session of
  // that path is open already.
  std::string OpenSession(Call& call) {
    const std::string path = std::string(kPath) + "/session/" + Part(call.Sender) + "/" +
                             Option(call.Parameters, "session_handle_token");
    std::lock_guard lock(mutex_);
    if (sessions_.count(path)) {
      g_dbus_method_invocation_return_dbus_error(call.Invocation,
                                                 "org.freedesktop.portal.Error.Failed",
                                                 "a session of that handle is open");
      return {};
    }
    sessions_[path] = g_dbus_connection_register_object(
        call.Connection, path.c_str(), session_->interfaces[0], VTable(), this, nullptr, nullptr);
    return path;
  }

  void Emit(const char* iface, const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(service_->Connection(), nullptr, kPath, iface, signal, parameters,
                                  nullptr);
  }
  // The app id the sender registered; "" for none.
  std::string AppOf(const std::string& sender) {
    std::lock_guard lock(mutex_);
    const auto found = registered_.find(sender);
    return found == registered_.end() ? "" : found->second;
  }
  // Every call so far as "Interface.Method", the interface's last word, by sender in order.
  std::map<std::string, std::vector<std::string>> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  int Count(const std::string& call) {
    int n = 0;
    for (const auto& [sender, calls] : Log())
      for (const std::string& c : calls)
        n += c == call;
    return n;
  }
  int OpenSessions() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(sessions_.size());
  }

 private:
  static std::string Part(const std::string& sender) {
    std::string part = sender.substr(1);
    for (char& c : part)
      if (c == '.') c = '_';
    return part;
  }

  static const GDBusInterfaceVTable* VTable() {
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection* connection, const gchar* sender, const gchar* path, const gchar* iface,
           const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
           gpointer data) {
          Call call{connection, sender, method, parameters, invocation};
          static_cast<FakePortal*>(data)->Dispatch(call, path, iface);
        },
        [](GDBusConnection*, const gchar*, const gchar*, const gchar* iface, const gchar* name,
           GError**, gpointer data) -> GVariant* {
          return static_cast<FakePortal*>(data)->property_(iface, name);
        },
        nullptr,
        {}};
    return &vtable;
  }

  void Dispatch(Call& call, const std::string& path, const std::string& iface) {
    const std::string name = iface.substr(iface.rfind('.') + 1) + "." + call.Method;
    bool first = false;
    {
      std::lock_guard lock(mutex_);
      first = log_[call.Sender].empty();
      log_[call.Sender].push_back(name);
    }
    if (name == "Session.Close") {
      std::lock_guard lock(mutex_);
      if (const auto found = sessions_.find(path); found != sessions_.end()) {
        g_dbus_connection_unregister_object(call.Connection, found->second);
        sessions_.erase(found);
      }
      g_dbus_method_invocation_return_value(call.Invocation, nullptr);
    } else if (name == "Registry.Register") {
      // Only a sender's first call may register it, as the real registry insists.
      const gchar* app = nullptr;
      g_variant_get(call.Parameters, "(&sa{sv})", &app, nullptr);
      if (!first || !knowsApp_ || std::string(app).empty()) {
        g_dbus_method_invocation_return_dbus_error(call.Invocation,
                                                   "org.freedesktop.portal.Error.Failed",
                                                   first ? "App info not found" : "too late");
        return;
      }
      std::lock_guard lock(mutex_);
      registered_[call.Sender] = app;
      g_dbus_method_invocation_return_value(call.Invocation, nullptr);
    } else {
      handle_(*this, call);
    }
  }

  Handler handle_;
  Property property_;
  bool knowsApp_;
  GDBusNodeInfo* node_ = nullptr;
  GDBusNodeInfo* session_ = nullptr;
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> log_;
  std::map<std::string, std::string> registered_;
  std::map<std::string, guint> sessions_;
  std::unique_ptr<PortalService> service_;
};

}  // namespace ostrane::platform::wayland::testbus
