// Global shortcuts through a fake desktop portal on a private bus: whether the interface is
// there, what is bound, which activations reach the program, and how refusals end.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/wayland/GlobalShortcuts.h"
#include "platform/wayland/WaylandDesktop.h"
#include "tests/wayland/PortalTestBus.h"

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Shortcuts = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";

// One bus for the whole program: GLib's session connection is shared, and it ends the process
// when its bus goes away under it.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    bus_ = std::make_unique<testbus::PrivateBus>();
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_->Address().c_str(), 1);
  }
  void TearDown() override { bus_.reset(); }
  static const std::string& Address() { return bus_->Address(); }

 private:
  static inline std::unique_ptr<testbus::PrivateBus> bus_;
};
[[maybe_unused]] ::testing::Environment* const kBus =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

std::string SenderPart(const char* sender) {
  std::string part = sender + 1;
  for (char& c : part)
    if (c == '.') c = '_';
  return part;
}

std::string Lookup(GVariant* options, const char* key) {
  const gchar* value = nullptr;
  return g_variant_lookup(options, key, "&s", &value) ? value : "";
}

// The portal, with or without the GlobalShortcuts interface. Requests are answered through
// request objects as the real portal does; BindShortcuts with `bindResponse`, or never when
// `answerBind` is false.
class FakeShortcutPortal {
 public:
  FakeShortcutPortal(bool withInterface, guint32 bindResponse = 0, bool answerBind = true)
      : bindResponse_(bindResponse), answerBind_(answerBind) {
    const std::string xml =
        withInterface
            ? std::string("<node><interface name='") + kInterface +
                  "'><method name='CreateSession'><arg type='a{sv}' direction='in'/>"
                  "<arg type='o' direction='out'/></method>"
                  "<method name='BindShortcuts'><arg type='o' direction='in'/>"
                  "<arg type='a(sa{sv})' direction='in'/><arg type='s' direction='in'/>"
                  "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
                  "<signal name='Activated'><arg type='o'/><arg type='s'/><arg type='t'/>"
                  "<arg type='a{sv}'/></signal>"
                  "<property name='version' type='u' access='read'/></interface></node>"
            : "<node><interface name='org.freedesktop.portal.ScreenCast'>"
              "<property name='version' type='u' access='read'/></interface></node>";
    node_ = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
    session_ = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Session'><method name='Close'/>"
        "</interface></node>",
        nullptr);
    service_ = std::make_unique<testbus::PortalService>(
        BusEnvironment::Address(), [this](GDBusConnection* bus) {
          static const GDBusInterfaceVTable vtable = {
              [](GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                 const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                 gpointer data) {
                static_cast<FakeShortcutPortal*>(data)->Call(connection, sender, method, parameters,
                                                             invocation);
              },
              [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                 gpointer) -> GVariant* { return g_variant_new_uint32(1); },
              nullptr,
              {}};
          return std::vector<guint>{g_dbus_connection_register_object(
              bus, kPortalPath, node_->interfaces[0], &vtable, this, nullptr, nullptr)};
        });
  }
  ~FakeShortcutPortal() {
    service_.reset();
    // The session objects went with the service's connection.
    g_dbus_node_info_unref(session_);
    g_dbus_node_info_unref(node_);
  }

  // Sends Activated as the portal does when the user presses a shortcut.
  void Activate(const std::string& session, const std::string& id) {
    g_dbus_connection_emit_signal(
        service_->Connection(), nullptr, kPortalPath, kInterface, "Activated",
        g_variant_new("(ost@a{sv})", session.c_str(), id.c_str(), guint64{1234},
                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
        nullptr);
  }

  std::string Session() {
    std::lock_guard lock(mutex_);
    return session_path_;
  }
  Shortcuts LastBound() {
    std::lock_guard lock(mutex_);
    return bound_;
  }
  int Sessions() {
    std::lock_guard lock(mutex_);
    return sessions_;
  }
  int Closed() {
    std::lock_guard lock(mutex_);
    return closed_;
  }

 private:
  void Call(GDBusConnection* connection, const gchar* sender, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (g_str_equal(method, "Close")) {
      std::lock_guard lock(mutex_);
      ++closed_;
      g_dbus_method_invocation_return_value(invocation, nullptr);
      return;
    }
    GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
    const std::string request = std::string(kPortalPath) + "/request/" + SenderPart(sender) + "/" +
                                Lookup(options, "handle_token");
    guint32 response = 0;
    bool answer = true;
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    if (g_str_equal(method, "CreateSession")) {
      const std::string session = std::string(kPortalPath) + "/session/" + SenderPart(sender) +
                                  "/" + Lookup(options, "session_handle_token");
      static const GDBusInterfaceVTable vtable = {
          [](GDBusConnection* c, const gchar* s, const gchar*, const gchar*, const gchar* m,
             GVariant* p, GDBusMethodInvocation* i,
             gpointer data) { static_cast<FakeShortcutPortal*>(data)->Call(c, s, m, p, i); },
          nullptr,
          nullptr,
          {}};
      g_dbus_connection_register_object(connection, session.c_str(), session_->interfaces[0],
                                        &vtable, this, nullptr, nullptr);
      std::lock_guard lock(mutex_);
      ++sessions_;
      session_path_ = session;
      g_variant_builder_add(&results, "{sv}", "session_handle",
                            g_variant_new_object_path(session.c_str()));
    } else {
      const gchar* session = nullptr;
      GVariant* list = nullptr;
      g_variant_get(parameters, "(&o@a(sa{sv})&s@a{sv})", &session, &list, nullptr, nullptr);
      Shortcuts bound;
      GVariantIter iter;
      g_variant_iter_init(&iter, list);
      const gchar* id = nullptr;
      GVariant* properties = nullptr;
      while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        bound.emplace_back(id, Lookup(properties, "preferred_trigger"));
        g_variant_unref(properties);
      }
      {
        std::lock_guard lock(mutex_);
        bound_ = bound;
      }
      response = bindResponse_;
      answer = answerBind_;
      // The dictionary takes a reference of its own.
      if (response == 0) g_variant_builder_add(&results, "{sv}", "shortcuts", list);
      g_variant_unref(list);
    }
    g_variant_unref(options);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    if (answer) {
      g_dbus_connection_emit_signal(connection, sender, request.c_str(),
                                    "org.freedesktop.portal.Request", "Response",
                                    g_variant_new("(ua{sv})", response, &results), nullptr);
    } else {
      g_variant_builder_clear(&results);
    }
  }

  guint32 bindResponse_;
  bool answerBind_;
  GDBusNodeInfo* node_ = nullptr;
  GDBusNodeInfo* session_ = nullptr;
  std::mutex mutex_;
  std::string session_path_;
  Shortcuts bound_;
  int sessions_ = 0;
  int closed_ = 0;
  std::unique_ptr<testbus::PortalService> service_;
};

// An event loop without timers: it sleeps until a watched descriptor is readable, so only the
// backend's descriptor can wake it for an activation.
class SleepingLoop : public EventLoop {
 public:
  void WatchReadable(int fd, std::function<void()> readable) override {
    watches_.emplace_back(fd, std::move(readable));
  }
  void OnIdle(std::function<void()> work) override { idle_.push_back(std::move(work)); }
  void FilterNativeMessages(const char*, std::function<bool(const void*)>) override {}
  void ProcessPending() override {
    for (const auto& work : idle_)
      work();
  }
  // One sleep of at most `limit`, then the callbacks of the readable descriptors.
  void SleepOnce(std::chrono::milliseconds limit) {
    std::vector<pollfd> fds;
    for (const auto& watch : watches_)
      fds.push_back({watch.first, POLLIN, 0});
    if (poll(fds.data(), fds.size(), static_cast<int>(limit.count())) <= 0) return;
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) watches_[i].second();
  }
  size_t Watches() const { return watches_.size(); }

 private:
  std::vector<std::pair<int, std::function<void()>>> watches_;
  std::vector<std::function<void()>> idle_;
};

TEST(GlobalShortcuts, AvailableOnlyWithTheInterface) {
  struct Case {
    const char* Name;
    bool Portal;
    bool Interface;
  };
  const Case cases[] = {
      {"no portal", false, false},
      {"a portal without global shortcuts", true, false},
      {"a portal with global shortcuts", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<FakeShortcutPortal> portal;
    if (c.Portal) portal = std::make_unique<FakeShortcutPortal>(c.Interface);
    GlobalShortcuts shortcuts;
    const auto begin = Clock::now();
    EXPECT_EQ(shortcuts.Available(), c.Interface);
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_FALSE(shortcuts.Bound());
  }
}

TEST(GlobalShortcuts, ResponseDecidesTheBinding) {
  struct Case {
    guint32 Response;
    bool Bound;
    const char* Named;
  };
  const Case cases[] = {
      {0, true, ""},
      {1, false, "the portal refused BindShortcuts (cancelled by the user)"},
      {2, false, "the portal refused BindShortcuts (response 2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Response);
    FakeShortcutPortal portal(true, c.Response);
    GlobalShortcuts shortcuts;
    std::string error;
    EXPECT_EQ(shortcuts.Bind({{"start", "F9"}, {"stop", "F10"}}, error, {}, 5s), c.Bound) << error;
    EXPECT_EQ(error, c.Named);
    EXPECT_EQ(shortcuts.Bound(), c.Bound);
    EXPECT_EQ(portal.LastBound(), (Shortcuts{{"start", "F9"}, {"stop", "F10"}}));
    // A failed binding does not leave its session open.
    EXPECT_EQ(portal.Closed(), c.Bound ? 0 : 1);
  }
}

TEST(GlobalShortcuts, UnansweredBindEndsAtItsTimeout) {
  FakeShortcutPortal portal(true, 0, false);
  GlobalShortcuts shortcuts;
  std::string error;
  int idles = 0;
  const auto begin = Clock::now();
  EXPECT_FALSE(shortcuts.Bind(
      {{"start", "F9"}}, error, [&] { ++idles; }, 300ms));
  EXPECT_LT(Clock::now() - begin, 2s);
  EXPECT_GT(idles, 0);
  EXPECT_EQ(error, "the portal did not answer BindShortcuts in time");
  EXPECT_FALSE(shortcuts.Bound());
}

TEST(GlobalShortcuts, OneSessionForSuccessiveBindings) {
  FakeShortcutPortal portal(true);
  GlobalShortcuts shortcuts;
  std::string error;
  ASSERT_TRUE(shortcuts.Bind({{"start", "F9"}}, error, {}, 5s)) << error;
  ASSERT_TRUE(shortcuts.Bind({{"start", "F9"}, {"stop", "F10"}}, error, {}, 5s)) << error;
  EXPECT_EQ(portal.Sessions(), 1);
  shortcuts.Close();
  EXPECT_EQ(portal.Closed(), 1);
  EXPECT_FALSE(shortcuts.Bound());
  ASSERT_TRUE(shortcuts.Bind({{"stop", "F10"}}, error, {}, 5s)) << error;
  EXPECT_EQ(portal.Sessions(), 2);
}

TEST(WaylandDesktopHotKeys, LocalWithoutThePortalsShortcuts) {
  FakeShortcutPortal portal(false);
  WaylandDesktop desktop;
  EXPECT_FALSE(desktop.RegisterHotKey("start", Key::F9));
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
}

TEST(WaylandDesktopHotKeys, RefusedBindingStaysLocal) {
  FakeShortcutPortal portal(true, 2);
  WaylandDesktop desktop;
  EXPECT_FALSE(desktop.RegisterHotKey("start", Key::F9));
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
}

TEST(WaylandDesktopHotKeys, ActivationsWakeTheLoopWithTheirKey) {
  FakeShortcutPortal portal(true);
  WaylandDesktop desktop;
  SleepingLoop loop;
  desktop.JoinEventLoop(loop);
  ASSERT_GE(loop.Watches(), 1u);
  std::vector<Key> keys;
  desktop.SetHotKeyHandler([&](Key key) { keys.push_back(key); });
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
  ASSERT_TRUE(desktop.RegisterHotKey("start", Key::F9));
  ASSERT_TRUE(desktop.RegisterHotKey("stop", Key::F10));
  EXPECT_TRUE(desktop.HotKeysAreGlobal());
  EXPECT_EQ(portal.LastBound(), (Shortcuts{{"start", "F9"}, {"stop", "F10"}}));
  const std::string session = portal.Session();
  ASSERT_FALSE(session.empty());

  // Runs the loop until `count` keys arrived or a second passed.
  const auto await = [&](size_t count) {
    const auto deadline = Clock::now() + 1s;
    while (keys.size() < count && Clock::now() < deadline)
      loop.SleepOnce(50ms);
  };
  // Signals arrive in order: once the last is in, the ones before it were seen and ignored.
  portal.Activate("/org/freedesktop/portal/desktop/session/other/s1", "stop");
  portal.Activate(session, "pause");
  portal.Activate(session, "stop");
  await(1);
  EXPECT_EQ(keys, std::vector<Key>{Key::F10});
  portal.Activate(session, "start");
  await(2);
  EXPECT_EQ(keys, (std::vector<Key>{Key::F10, Key::F9}));

  // The portal cannot unbind one key: the session lasts until neither is registered.
  desktop.UnregisterHotKey("start");
  EXPECT_EQ(portal.Closed(), 0);
  portal.Activate(session, "start");
  portal.Activate(session, "stop");
  await(3);
  EXPECT_EQ(keys, (std::vector<Key>{Key::F10, Key::F9, Key::F10}));
  desktop.UnregisterHotKey("stop");
  EXPECT_EQ(portal.Closed(), 1);
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
  desktop.LeaveEventLoop();
}

}  // namespace
}  // namespace ostrane::platform::wayland
