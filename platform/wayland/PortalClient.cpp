#include "platform/wayland/PortalClient.h"

#include <algorithm>
#include <utility>

namespace ostrane::platform::wayland {

namespace {

// How often a wait wakes to run the caller's idle work.
constexpr guint kTickMs = 10;
constexpr gint kCloseTimeoutMs = 1000;

// One method call in flight. When its waiter gives up first, the call's own callback frees it.
struct CallWait {
  bool done = false;
  bool abandoned = false;
  GVariant* reply = nullptr;
  GError* error = nullptr;
  GUnixFDList* fds = nullptr;

  static void Free(GVariant* reply, GError* error, GUnixFDList* fds) {
    if (reply) g_variant_unref(reply);
    if (error) g_error_free(error);
    if (fds) g_object_unref(fds);
  }

  static void Ready(GObject* source, GAsyncResult* result, gpointer data) {
    auto* wait = static_cast<CallWait*>(data);
    GUnixFDList* fds = nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                                      &fds, result, &error);
    if (wait->abandoned) {
      Free(reply, error, fds);
      delete wait;
      return;
    }
    wait->reply = reply;
    wait->error = error;
    wait->fds = fds;
    wait->done = true;
  }
};

// The Response of one request object, freed with its subscription.
struct ResponseWait {
  std::string path;
  bool answered = false;
  guint32 response = 2;
  GVariant* results = nullptr;

  ~ResponseWait() {
    if (results) g_variant_unref(results);
  }

  static void OnResponse(GDBusConnection*, const gchar*, const gchar* path, const gchar*,
                         const gchar*, GVariant* parameters, gpointer data) {
    auto* wait = static_cast<ResponseWait*>(data);
    if (wait->answered || wait->path != path ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
      return;
    }
    g_variant_get(parameters, "(u@a{sv})", &wait->response, &wait->results);
    wait->answered = true;
  }
};

}  // namespace

const char* AppId() {
  return OSTRANE_APP_ID;
}

PortalClient::PortalClient(bool wakeable, std::string appId)
    : context_(wakeable ? g_main_context_new_with_flags(G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING)
                        : g_main_context_new()),
      appId_(std::move(appId)) {
  // Owner-less polling makes the context's wake-up descriptor signal whenever GDBus queues
  // something for it, even while no thread iterates it. A fresh context polls nothing else.
  if (wakeable && g_main_context_acquire(context_)) {
    gint priority = 0;
    g_main_context_prepare(context_, &priority);
    GPollFD fds[4];
    gint timeout = 0;
    const gint count = g_main_context_query(context_, priority, &timeout, fds, 4);
    if (count == 1) wakeFd_ = fds[0].fd;
    g_main_context_check(context_, priority, fds, std::min(count, 4));
    g_main_context_release(context_);
  }
}

PortalClient::~PortalClient() {
  if (bus_) {
    // The portal closes what this connection left open once it goes.
    g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    Dispatch();
    g_object_unref(bus_);
  }
  Dispatch();
  g_main_context_unref(context_);
}

void PortalClient::Iterate(bool block) {
  g_main_context_push_thread_default(context_);
  g_main_context_iteration(context_, block);
  while (g_main_context_pending(context_))
    g_main_context_iteration(context_, FALSE);
  g_main_context_pop_thread_default(context_);
}

void PortalClient::Dispatch() {
  Iterate(false);
}

bool PortalClient::WaitUntil(const std::function<bool()>& done, Clock::time_point deadline,
                             const Idle& idle) {
  GSource* tick = g_timeout_source_new(kTickMs);
  g_source_set_callback(
      tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
  g_source_attach(tick, context_);
  while (!done() && !stopping_ && Clock::now() < deadline) {
    Iterate(true);
    if (idle && !done()) idle();
  }
  g_source_destroy(tick);
  g_source_unref(tick);
  return done();
}

bool PortalClient::Connect(std::string& error, const Idle& idle) {
  if (bus_) return true;
  GError* raw = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
  if (address) {
    bus_ = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw);
    g_free(address);
  }
  ErrorPtr failure(raw);
  if (!bus_) {
    error = std::string("no D-Bus session bus: ") + (raw ? raw->message : "unknown error");
    return false;
  }
  registryError_.clear();
  if (appId_.empty()) return true;
  // The portal takes the first call's sender as an app without an id when this comes later;
  // GNOME then refuses it global shortcuts.
  ErrorPtr registryFailure;
  VariantPtr reply(Call("org.freedesktop.host.portal.Registry", "Register",
                        g_variant_new("(sa{sv})", appId_.c_str(), nullptr), nullptr,
                        Clock::now() + kStartTimeout, idle, registryFailure));
  if (!reply && registryFailure) {
    registryError_ = registryFailure->message;
  } else if (!reply) {
    registryError_ = "no answer in time";
  }
  return true;
}

VariantPtr PortalClient::Call(const char* iface, const char* method, GVariant* parameters,
                              const GVariantType* replyType, Clock::time_point deadline,
                              const Idle& idle, ErrorPtr& failure, GUnixFDList** fds) {
  failure.reset();
  if (!bus_) {
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    failure.reset(g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED, "not connected"));
    return nullptr;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  auto* wait = new CallWait;
  GCancellable* cancellable = g_cancellable_new();
  g_main_context_push_thread_default(context_);
  g_dbus_connection_call_with_unix_fd_list(
      bus_, kPortalName, kPortalPath, iface, method, parameters, replyType, G_DBUS_CALL_FLAGS_NONE,
      static_cast<gint>(std::clamp<int64_t>(left.count(), 1, G_MAXINT)), nullptr, cancellable,
      CallWait::Ready, wait);
  g_main_context_pop_thread_default(context_);
  VariantPtr reply;
  if (WaitUntil([wait] { return wait->done; }, deadline, idle)) {
    reply.reset(wait->reply);
    failure.reset(wait->error);
    // The message says what went wrong; the error's code still tells which D-Bus error it was.
    if (failure) g_dbus_error_strip_remote_error(failure.get());
    if (fds) {
      *fds = wait->fds;
    } else if (wait->fds) {
      g_object_unref(wait->fds);
    }
    delete wait;
  } else {
    wait->abandoned = true;
    g_cancellable_cancel(cancellable);
    Dispatch();
  }
  g_object_unref(cancellable);
  return reply;
}

VariantPtr PortalClient::Properties(const char* iface, Clock::time_point deadline, const Idle& idle,
                                    ErrorPtr& failure) {
  VariantPtr reply = Call("org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", iface),
                          G_VARIANT_TYPE("(a{sv})"), deadline, idle, failure);
  if (!reply) return nullptr;
  return VariantPtr(g_variant_get_child_value(reply.get(), 0));
}

std::string PortalClient::NewToken(const char* kind) {
  return std::string("ostrane_") + kind + std::to_string(++tokens_);
}

std::string PortalClient::RequestPath(const std::string& token) const {
  std::string sender = bus_ ? g_dbus_connection_get_unique_name(bus_) : "";
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

bool PortalClient::Request(const char* iface, const char* method, GVariantBuilder& options,
                           const std::function<GVariant*(GVariant* options)>& make,
                           Clock::time_point deadline, const Idle& idle, PortalAnswer& answer,
                           std::string& error) {
  const std::string token = NewToken("request");
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  GVariant* parameters = make(g_variant_builder_end(&options));
  if (!bus_) {
    g_variant_unref(g_variant_ref_sink(parameters));
    error = "not connected to the portal";
    return false;
  }
  auto* wait = new ResponseWait;
  wait->path = RequestPath(token);
  // Subscribed before the call, so that an answer sent at once is not missed.
  const guint watch = Subscribe("org.freedesktop.portal.Request", "Response", wait->path.c_str(),
                                ResponseWait::OnResponse, wait,
                                [](gpointer p) { delete static_cast<ResponseWait*>(p); });
  ErrorPtr failure;
  VariantPtr reply(Call(iface, method, parameters, G_VARIANT_TYPE("(o)"), deadline, idle, failure));
  bool ok = false;
  if (!reply) {
    error = failure     ? std::string("the portal's ") + method + " failed: " + failure->message
            : stopping_ ? std::string("stopped while waiting for ") + method
                        : std::string("the portal did not answer ") + method + " in time";
  } else {
    const gchar* handle = nullptr;
    g_variant_get(reply.get(), "(&o)", &handle);
    if (wait->path != handle) {
      error =
          std::string("the portal's ") + method + " answered on an unexpected request " + handle;
    } else if (WaitUntil([wait] { return wait->answered; }, deadline, idle)) {
      answer.Response = wait->response;
      answer.Results.reset(wait->results);
      wait->results = nullptr;
      ok = true;
    } else {
      error = stopping_ ? std::string("stopped while waiting for ") + method
                        : std::string("the portal did not answer ") + method + " in time";
      // Nobody waits for it any more.
      g_dbus_connection_call(bus_, kPortalName, wait->path.c_str(),
                             "org.freedesktop.portal.Request", "Close", nullptr, nullptr,
                             G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
    }
  }
  g_dbus_connection_signal_unsubscribe(bus_, watch);
  return ok;
}

guint PortalClient::Subscribe(const char* iface, const char* signal, const char* path,
                              GDBusSignalCallback callback, gpointer data, GDestroyNotify free) {
  if (!bus_) return 0;
  g_main_context_push_thread_default(context_);
  const guint id =
      g_dbus_connection_signal_subscribe(bus_, kPortalName, iface, signal, path, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, callback, data, free);
  g_main_context_pop_thread_default(context_);
  return id;
}

void PortalClient::Unsubscribe(guint& watch) {
  if (watch != 0 && bus_) g_dbus_connection_signal_unsubscribe(bus_, watch);
  watch = 0;
}

bool PortalClient::NoService(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_EXEC_FAILED) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_CHILD_EXITED) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND);
}

// GDBus answers InvalidArgs for an interface the object does not have.
bool PortalClient::NoInterface(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
}

std::string PortalClient::SessionHandle(GVariant* results) {
  const gchar* handle = nullptr;
  if (results &&
      (g_variant_lookup(results, "session_handle", "&s", &handle) ||
       g_variant_lookup(results, "session_handle", "&o", &handle)) &&
      g_variant_is_object_path(handle)) {
    return handle;
  }
  return {};
}

guint PortalClient::WatchSessionClosed(const std::string& handle, bool& closed) {
  return Subscribe(
      "org.freedesktop.portal.Session", "Closed", handle.c_str(),
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
         gpointer data) { *static_cast<bool*>(data) = true; },
      &closed);
}

void PortalClient::CloseSession(const std::string& handle) {
  if (handle.empty() || !bus_) return;
  GError* raw = nullptr;
  VariantPtr reply(g_dbus_connection_call_sync(
      bus_, kPortalName, handle.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
      nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kCloseTimeoutMs, nullptr, &raw));
  ErrorPtr failure(raw);
}

}  // namespace ostrane::platform::wayland
