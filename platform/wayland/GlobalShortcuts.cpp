#include "platform/wayland/GlobalShortcuts.h"

#include <gio/gio.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "platform/wayland/PortalGLib.h"

namespace ostrane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
// The portal answers a method at once; only the Response may take the user's time.
constexpr gint kCallTimeoutMs = 5000;
constexpr gint kCloseTimeoutMs = 1000;

// Tokens unique within the process, so that two objects never wait on the same request path.
std::string NextToken(const char* kind) {
  static std::atomic<unsigned> counter{0};
  return std::string("ostrane_") + kind + std::to_string(++counter) + "_" +
         std::to_string(g_random_int());
}

// The answer of one request object.
struct RequestAnswer {
  std::string path;
  bool answered = false;
  guint32 response = 2;
  GVariant* results = nullptr;

  ~RequestAnswer() {
    if (results) g_variant_unref(results);
  }
};

}  // namespace

struct GlobalShortcuts::Impl {
  // Owner-less polling makes the context's wake-up descriptor signal whenever GDBus queues a
  // signal for it, even while no thread iterates it: that is what lets the caller's loop sleep.
  GMainContext* context = g_main_context_new_with_flags(G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING);
  GDBusConnection* bus = nullptr;
  int wakeFd = -1;
  int available = -1;  // unknown until asked
  guint activatedWatch = 0;
  std::string sessionHandle;
  std::set<std::string> bound;
  std::function<void(const std::string&)> activated;
  bool binding = false;

  Impl() {
    // A fresh context polls nothing but its wake-up descriptor.
    if (g_main_context_acquire(context)) {
      gint priority = 0;
      g_main_context_prepare(context, &priority);
      GPollFD fds[4];
      gint timeout = 0;
      const gint count = g_main_context_query(context, priority, &timeout, fds, 4);
      if (count == 1) wakeFd = fds[0].fd;
      g_main_context_check(context, priority, fds, std::min(count, 4));
      g_main_context_release(context);
    }
  }

  ~Impl() {
    Close();
    if (activatedWatch != 0) g_dbus_connection_signal_unsubscribe(bus, activatedWatch);
    // Let what was queued for the context go before the context does.
    Dispatch();
    if (bus) g_object_unref(bus);
    g_main_context_unref(context);
  }

  void Iterate(bool block) {
    g_main_context_push_thread_default(context);
    g_main_context_iteration(context, block);
    while (g_main_context_pending(context))
      g_main_context_iteration(context, FALSE);
    g_main_context_pop_thread_default(context);
  }
  void Dispatch() { Iterate(false); }

  bool Connect(std::string& error) {
    if (bus) return true;
    GError* raw = nullptr;
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    ErrorPtr failure(raw);
    if (!bus) {
      error = std::string("no D-Bus session bus: ") + (raw ? raw->message : "unknown error");
      return false;
    }
    return true;
  }

  bool Available() {
    if (available >= 0) return available == 1;
    std::string ignored;
    if (!Connect(ignored)) return false;
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kInterface, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        static_cast<gint>(kProbeTimeout.count()), nullptr, &raw));
    ErrorPtr failure(raw);
    // A portal that did not answer in time may yet come up: ask again next time.
    if (!reply && g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return false;
    available = reply ? 1 : 0;
    return available == 1;
  }

  // The path of the request object the portal makes for `token` (see the portal's Request).
  std::string RequestPath(const std::string& token) const {
    std::string sender = g_dbus_connection_get_unique_name(bus);
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(kPortalPath) + "/request/" + sender + "/" + token;
  }

  static void OnResponse(GDBusConnection*, const gchar*, const gchar* path, const gchar*,
                         const gchar*, GVariant* parameters, gpointer data) {
    auto* answer = static_cast<RequestAnswer*>(data);
    if (answer->answered || answer->path != path ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
      return;
    }
    g_variant_get(parameters, "(u@a{sv})", &answer->response, &answer->results);
    answer->answered = true;
  }

  // Calls `method` of the interface, whose last argument is an options dictionary holding
  // `token`, and waits for the Response of its request object. False, with the reason, when
  // the call fails, the time runs out or the portal answers anything but success.
  bool Request(const char* method, GVariant* parameters, const std::string& token,
               RequestAnswer& answer, Clock::time_point deadline, const std::function<void()>& idle,
               std::string& error) {
    g_variant_ref_sink(parameters);
    VariantPtr owned(parameters);
    answer.path = RequestPath(token);
    // Subscribed before the call, so that an answer sent at once is not missed.
    g_main_context_push_thread_default(context);
    const guint watch = g_dbus_connection_signal_subscribe(
        bus, kPortalName, "org.freedesktop.portal.Request", "Response", answer.path.c_str(),
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, &answer, nullptr);
    g_main_context_pop_thread_default(context);

    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        bus, kPortalName, kPortalPath, kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &raw));
    ErrorPtr failure(raw);
    bool ok = false;
    if (!reply) {
      error = std::string("the portal's ") + method + " failed: " + raw->message;
    } else {
      const gchar* handle = nullptr;
      g_variant_get(reply.get(), "(&o)", &handle);
      if (answer.path != handle) {
        error =
            std::string("the portal's ") + method + " answered on an unexpected request " + handle;
      } else {
        GSource* tick = g_timeout_source_new(kTickMs);
        g_source_set_callback(
            tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
        g_source_attach(tick, context);
        while (!answer.answered && Clock::now() < deadline) {
          Iterate(true);
          if (idle && !answer.answered) idle();
        }
        g_source_destroy(tick);
        g_source_unref(tick);
        if (!answer.answered) {
          error = std::string("the portal did not answer ") + method + " in time";
          // Nobody waits for it any more.
          g_dbus_connection_call(bus, kPortalName, answer.path.c_str(),
                                 "org.freedesktop.portal.Request", "Close", nullptr, nullptr,
                                 G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        } else if (answer.response != 0) {
          error = std::string("the portal refused ") + method + " (" +
                  (answer.response == 1 ? "cancelled by the user" : "response ") +
                  (answer.response == 1 ? "" : std::to_string(answer.response)) + ")";
        } else {
          ok = true;
        }
      }
    }
    g_dbus_connection_signal_unsubscribe(bus, watch);
    // A signal queued before the unsubscription still refers to `answer`: let it run now.
    Dispatch();
    return ok;
  }

  static void OnActivated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
    const gchar* session = nullptr;
    const gchar* id = nullptr;
    g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
    if (self->sessionHandle.empty() || self->sessionHandle != session) return;
    if (!self->bound.count(id)) return;
    // The callback may close the session; it gets its own copy of the id.
    const std::string shortcut = id;
    if (self->activated) self->activated(shortcut);
  }

  bool CreateSession(Clock::time_point deadline, const std::function<void()>& idle,
                     std::string& error) {
    if (!sessionHandle.empty()) return true;
    if (activatedWatch == 0) {
      g_main_context_push_thread_default(context);
      activatedWatch = g_dbus_connection_signal_subscribe(
          bus, kPortalName, kInterface, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
          OnActivated, this, nullptr);
      g_main_context_pop_thread_default(context);
    }
    const std::string token = NextToken("request");
    const std::string sessionToken = NextToken("session");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    RequestAnswer answer;
    if (!Request("CreateSession", g_variant_new("(a{sv})", &options), token, answer, deadline, idle,
                 error)) {
      return false;
    }
    // Older portals sent the handle as a string, newer ones as an object path.
    const gchar* handle = nullptr;
    if ((g_variant_lookup(answer.results, "session_handle", "&s", &handle) ||
         g_variant_lookup(answer.results, "session_handle", "&o", &handle)) &&
        g_variant_is_object_path(handle)) {
      sessionHandle = handle;
      return true;
    }
    error = "the portal's CreateSession named no session";
    return false;
  }

  bool Bind(const std::vector<std::pair<std::string, std::string>>& shortcuts, std::string& error,
            const std::function<void()>& idle, std::chrono::milliseconds timeout) {
    if (binding) {
      error = "shortcuts are being bound already";
      return false;
    }
    if (!Connect(error)) return false;
    binding = true;
    const auto deadline = Clock::now() + timeout;
    bool ok = CreateSession(deadline, idle, error);
    if (ok) {
      const std::string token = NextToken("request");
      GVariantBuilder list;
      g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
      for (const auto& [id, trigger] : shortcuts) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(id.c_str()));
        g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                              g_variant_new_string(trigger.c_str()));
        g_variant_builder_add(&list, "(sa{sv})", id.c_str(), &properties);
      }
      GVariantBuilder options;
      g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
      g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
      RequestAnswer answer;
      ok = Request("BindShortcuts",
                   g_variant_new("(oa(sa{sv})sa{sv})", sessionHandle.c_str(), &list, "", &options),
                   token, answer, deadline, idle, error);
      bound.clear();
      if (ok) {
        // The portal reports what it bound, which may be fewer than asked for.
        GVariant* given =
            g_variant_lookup_value(answer.results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
        if (given) {
          GVariantIter iter;
          g_variant_iter_init(&iter, given);
          const gchar* id = nullptr;
          while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, nullptr))
            bound.insert(id);
          g_variant_unref(given);
        } else {
          for (const auto& shortcut : shortcuts)
            bound.insert(shortcut.first);
        }
      }
    }
    // A session left in an unknown state is not reused.
    if (!ok) Close();
    binding = false;
    return ok;
  }

  void Close() {
    bound.clear();
    if (sessionHandle.empty() || !bus) return;
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        bus, kPortalName, sessionHandle.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCloseTimeoutMs, nullptr, &raw));
    ErrorPtr failure(raw);
    sessionHandle.clear();
  }
};

GlobalShortcuts::GlobalShortcuts() : impl_(std::make_unique<Impl>()) {}
GlobalShortcuts::~GlobalShortcuts() = default;

bool GlobalShortcuts::Available() {
  return impl_->Available();
}

bool GlobalShortcuts::Bind(const std::vector<std::pair<std::string, std::string>>& shortcuts,
                           std::string& error, const std::function<void()>& idle,
                           std::chrono::milliseconds timeout) {
  return impl_->Bind(shortcuts, error, idle, timeout);
}

bool GlobalShortcuts::Bound() const {
  return !impl_->bound.empty();
}

void GlobalShortcuts::Close() {
  if (!impl_->binding) impl_->Close();
}

void GlobalShortcuts::SetActivated(std::function<void(const std::string&)> activated) {
  impl_->activated = std::move(activated);
}

void GlobalShortcuts::Dispatch() {
  impl_->Dispatch();
}

int GlobalShortcuts::WakeFd() const {
  return impl_->wakeFd;
}

}  // namespace ostrane::platform::wayland
