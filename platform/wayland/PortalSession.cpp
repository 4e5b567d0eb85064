#include "platform/wayland/PortalSession.h"

#include <gio/gio.h>
#include <libportal/portal.h>

#include <algorithm>
#include <cmath>

#include "platform/wayland/PortalGLib.h"

namespace ostrane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr int32_t kLeftButton = 0x110;  // BTN_LEFT of linux/input-event-codes.h
// The portal may be started by the bus on the first call, which takes a moment.
constexpr auto kProbeTimeout = std::chrono::seconds(25);
// The portal's device and source bits.
constexpr guint32 kPointerDevice = 2;
constexpr guint32 kMonitorSource = 1;

// The result of one asynchronous call. When the wait gives up first, the callback, if it ever
// comes, frees this and releases what the call made.
struct AsyncWait {
  GAsyncResult* result = nullptr;
  bool abandoned = false;
  void (*release)(GObject* source, GAsyncResult* result) = nullptr;

  ~AsyncWait() {
    if (result) g_object_unref(result);
  }

  static void Ready(GObject* source, GAsyncResult* result, gpointer data) {
    auto* wait = static_cast<AsyncWait*>(data);
    if (wait->abandoned) {
      if (wait->release) wait->release(source, result);
      delete wait;
      return;
    }
    wait->result = G_ASYNC_RESULT(g_object_ref(result));
  }
};

// A session created after its requester stopped waiting is closed at once.
void ReleaseLateSession(GObject* source, GAsyncResult* result) {
  XdpSession* session =
      xdp_portal_create_remote_desktop_session_finish(XDP_PORTAL(source), result, nullptr);
  if (session) {
    xdp_session_close(session);
    g_object_unref(session);
  }
}

bool IsCancel(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

}  // namespace

struct PortalSession::Impl {
  GMainContext* context = g_main_context_new();
  GDBusConnection* bus = nullptr;
  XdpPortal* portal = nullptr;
  XdpSession* session = nullptr;
  gulong closedHandler = 0;
  guint responseWatch = 0;
  std::string sessionHandle;
  PortalStream stream;
  bool closed = false;
  bool starting = false;
  bool closeRequested = false;

  ~Impl() {
    Drop();
    // Let calls abandoned earlier finish what they can before the context goes.
    Dispatch();
    if (portal) g_object_unref(portal);
    if (bus) g_object_unref(bus);
    g_main_context_unref(context);
  }

  // Runs the private context with it as this thread's default, so that everything libportal
  // starts from inside its callbacks reports back here too.
  void Iterate(bool block) {
    g_main_context_push_thread_default(context);
    g_main_context_iteration(context, block);
    while (g_main_context_pending(context))
      g_main_context_iteration(context, FALSE);
    g_main_context_pop_thread_default(context);
  }
  void Dispatch() { Iterate(false); }

  static void OnClosed(XdpSession*, gpointer data) { static_cast<Impl*>(data)->closed = true; }

  // The portal's answer to CreateSession names the session, which libportal keeps to itself; the
  // input calls need it. Only this process's requests are answered to it, and Start makes one.
  static void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (!self->sessionHandle.empty() ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
      return;
    }
    guint32 response = 0;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    VariantPtr owned(results);
    const gchar* handle = nullptr;
    if (response == 0 && (g_variant_lookup(results, "session_handle", "&s", &handle) ||
                          g_variant_lookup(results, "session_handle", "&o", &handle))) {
      if (g_variant_is_object_path(handle)) self->sessionHandle = handle;
    }
  }

  void StopWatchingResponses() {
    if (responseWatch != 0 && bus) g_dbus_connection_signal_unsubscribe(bus, responseWatch);
    responseWatch = 0;
  }

  // Forgets the session, closing it at the portal when it is still open.
  void Drop() {
    StopWatchingResponses();
    if (session) {
      if (closedHandler) g_signal_handler_disconnect(session, closedHandler);
      if (xdp_session_get_session_state(session) != XDP_SESSION_CLOSED) {
        xdp_session_close(session);
      }
      g_object_unref(session);
    }
    session = nullptr;
    closedHandler = 0;
    sessionHandle.clear();
    stream = {};
    closed = false;
  }

  // Waits for `wait` to be answered, calling `idle` between rounds. False when the deadline
  // passes or Close is asked for first.
  bool WaitFor(AsyncWait& wait, Clock::time_point deadline, const std::function<void()>& idle) {
    GSource* tick = g_timeout_source_new(kTickMs);
    g_source_set_callback(
        tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    while (!wait.result && !closeRequested && Clock::now() < deadline) {
      Iterate(true);
      if (idle && !wait.result) idle();
    }
    g_source_destroy(tick);
    g_source_unref(tick);
    return wait.result != nullptr;
  }

  // Runs one asynchronous step. On a timeout the pending call is cancelled and left to free
  // itself; the result is null then.
  template <typename StartFn>
  GAsyncResult* Step(StartFn start, Clock::time_point deadline, const std::function<void()>& idle,
                     void (*release)(GObject*, GAsyncResult*) = nullptr) {
    auto* wait = new AsyncWait;
    wait->release = release;
    GCancellable* cancellable = g_cancellable_new();
    g_main_context_push_thread_default(context);
    start(cancellable, wait);
    g_main_context_pop_thread_default(context);
    GAsyncResult* result = nullptr;
    if (WaitFor(*wait, deadline, idle)) {
      result = wait->result;
      wait->result = nullptr;
      delete wait;
    } else {
      wait->abandoned = true;
      g_cancellable_cancel(cancellable);
      Dispatch();
    }
    g_object_unref(cancellable);
    return result;
  }

  // Checks that the portal offers `iface` with the bit `needed` in the property `types`.
  StartResult Probe(const char* iface, const char* types, guint32 needed,
                    Clock::time_point deadline, const std::function<void()>& idle,
                    std::string& error) {
    const auto callTimeout = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::min<Clock::duration>(deadline - Clock::now(), kProbeTimeout));
    GAsyncResult* result = Step(
        [&](GCancellable* cancellable, AsyncWait* wait) {
          g_dbus_connection_call(bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Properties",
                                 "GetAll", g_variant_new("(s)", iface), G_VARIANT_TYPE("(a{sv})"),
                                 G_DBUS_CALL_FLAGS_NONE,
                                 static_cast<gint>(std::max<int64_t>(callTimeout.count(), 1)),
                                 cancellable, AsyncWait::Ready, wait);
        },
        deadline, idle);
    if (!result) {
      error = closeRequested ? "closed while starting"
                             : std::string("the portal did not answer about ") + iface;
      return StartResult::Failed;
    }
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_finish(bus, result, &raw));
    g_object_unref(result);
    ErrorPtr failure(raw);
    if (!reply) {
      if (g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_EXEC_FAILED) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_CHILD_EXITED) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND)) {
        error = std::string("no desktop portal (") + kPortalName +
                ") on the session bus: " + raw->message;
        return StartResult::NoPortal;
      }
      // GDBus answers InvalidArgs for an interface the object does not have.
      if (g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
          g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD)) {
        error = std::string("the desktop portal has no ") + iface;
        return StartResult::NoPortal;
      }
      error =
          std::string("the desktop portal failed to answer about ") + iface + ": " + raw->message;
      return StartResult::Failed;
    }
    VariantPtr properties(g_variant_get_child_value(reply.get(), 0));
    guint32 available = 0;
    if (!g_variant_lookup(properties.get(), types, "u", &available) || !(available & needed)) {
      error = std::string("the desktop portal's ") + iface + " cannot share " +
              (needed == kPointerDevice ? "a pointer" : "a monitor");
      return StartResult::NoPortal;
    }
    return StartResult::Started;
  }

  StartResult Begin(std::string& error, const std::function<void()>& idle,
                    Clock::time_point deadline) {
    if (!bus) {
      GError* raw = nullptr;
      bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
      ErrorPtr failure(raw);
      if (!bus) {
        error = std::string("no D-Bus session bus: ") + (raw ? raw->message : "unknown error");
        return StartResult::NoPortal;
      }
    }
    StartResult probed =
        Probe(kRemoteDesktop, "AvailableDeviceTypes", kPointerDevice, deadline, idle, error);
    if (probed != StartResult::Started) return probed;
    probed = Probe(kScreenCast, "AvailableSourceTypes", kMonitorSource, deadline, idle, error);
    if (probed != StartResult::Started) return probed;
    // libportal needs the bus checked above: it dereferences a missing one.
    if (!portal) portal = xdp_portal_new();

    g_main_context_push_thread_default(context);
    responseWatch = g_dbus_connection_signal_subscribe(
        bus, kPortalName, "org.freedesktop.portal.Request", "Response", nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, this, nullptr);
    g_main_context_pop_thread_default(context);

    // A hidden cursor keeps the captured pixels those of the screen.
    GAsyncResult* created = Step(
        [&](GCancellable* cancellable, AsyncWait* wait) {
          xdp_portal_create_remote_desktop_session(
              portal, XDP_DEVICE_POINTER, XDP_OUTPUT_MONITOR, XDP_REMOTE_DESKTOP_FLAG_NONE,
              XDP_CURSOR_MODE_HIDDEN, cancellable, AsyncWait::Ready, wait);
        },
        deadline, idle, ReleaseLateSession);
    if (!created) {
      error =
          closeRequested ? "closed while starting" : "the portal did not create a session in time";
      return StartResult::Failed;
    }
    GError* raw = nullptr;
    session = xdp_portal_create_remote_desktop_session_finish(portal, created, &raw);
    g_object_unref(created);
    ErrorPtr createError(raw);
    if (!session) {
      error = std::string("the portal did not create a session: ") +
              (raw ? raw->message : "unknown error");
      return IsCancel(raw) ? StartResult::Refused : StartResult::Failed;
    }
    closedHandler = g_signal_connect(session, "closed", G_CALLBACK(OnClosed), this);

    GAsyncResult* started = Step(
        [&](GCancellable* cancellable, AsyncWait* wait) {
          xdp_session_start(session, nullptr, cancellable, AsyncWait::Ready, wait);
        },
        deadline, idle);
    if (!started) {
      error = closeRequested ? "closed while starting" : "no answer to the consent dialog in time";
      return StartResult::Failed;
    }
    raw = nullptr;
    const bool ok = xdp_session_start_finish(session, started, &raw);
    g_object_unref(started);
    ErrorPtr startError(raw);
    if (!ok) {
      if (IsCancel(raw)) {
        error = "the user did not allow the screen to be shared";
        return StartResult::Refused;
      }
      error = std::string("the session did not start: ") + (raw ? raw->message : "unknown error");
      return StartResult::Failed;
    }
    StopWatchingResponses();

    if (!(xdp_session_get_devices(session) & XDP_DEVICE_POINTER)) {
      error = "the user did not allow remote interaction (the pointer)";
      return StartResult::Refused;
    }
    GVariant* streams = xdp_session_get_streams(session);  // owned by the session
    if (!streams || !g_variant_is_of_type(streams, G_VARIANT_TYPE("a(ua{sv})")) ||
        g_variant_n_children(streams) == 0) {
      error = "the portal shared no screen-cast stream";
      return StartResult::Failed;
    }
    guint32 node = 0;
    GVariant* options = nullptr;
    g_variant_get_child(streams, 0, "(u@a{sv})", &node, &options);
    VariantPtr ownedOptions(options);
    stream.NodeId = node;
    g_variant_lookup(options, "position", "(ii)", &stream.X, &stream.Y);
    if (!g_variant_lookup(options, "size", "(ii)", &stream.Width, &stream.Height) ||
        stream.Width <= 0 || stream.Height <= 0) {
      error = "the portal did not give the stream's size";
      return StartResult::Failed;
    }
    if (sessionHandle.empty()) {
      error = "the portal did not name the session";
      return StartResult::Failed;
    }
    // The compositor makes its virtual pointer on first use; where no real pointer exists, that
    // gives the seat a pointer only then, and the windows bind to it too late for the first
    // click. A motion by nothing makes it now, without moving the pointer.
    GVariantBuilder none;
    g_variant_builder_init(&none, G_VARIANT_TYPE_VARDICT);
    Notify("NotifyPointerMotion",
           g_variant_new("(oa{sv}dd)", sessionHandle.c_str(), &none, 0.0, 0.0), nullptr);
    return StartResult::Started;
  }

  // One input call, waiting for the portal's answer; see MovePointer in the header.
  bool Notify(const char* method, GVariant* parameters, std::string* error) {
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        bus, kPortalName, kPortalPath, kRemoteDesktop, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<gint>(kInputTimeout.count()), nullptr, &raw));
    ErrorPtr failure(raw);
    if (reply) return true;
    // The portal forgets sessions it closed; the closed signal may still be on its way.
    if (g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)) closed = true;
    if (error) *error = std::string(method) + " failed: " + raw->message;
    return false;
  }

  bool Usable(std::string* error) {
    Dispatch();
    if (session && !closed && !starting) return true;
    if (error) *error = "no active portal session";
    return false;
  }
};

PortalSession::PortalSession() : impl_(std::make_unique<Impl>()) {}

PortalSession::~PortalSession() = default;

StartResult PortalSession::Start(std::string& error, const std::function<void()>& idle,
                                 std::chrono::milliseconds timeout) {
  Impl& s = *impl_;
  if (s.starting) {
    error = "a start is already under way";
    return StartResult::Failed;
  }
  if (Active()) return StartResult::Started;
  s.Drop();
  s.starting = true;
  s.closeRequested = false;
  const StartResult result = s.Begin(error, idle, Clock::now() + timeout);
  s.starting = false;
  if (result != StartResult::Started) s.Drop();
  return result;
}

bool PortalSession::Active() {
  Impl& s = *impl_;
  if (s.starting) return false;
  s.Dispatch();
  return s.session && !s.closed;
}

void PortalSession::Close() {
  Impl& s = *impl_;
  // Start's wait notices and cleans up itself; its objects are still in use here.
  if (s.starting) {
    s.closeRequested = true;
    return;
  }
  s.Drop();
}

PortalStream PortalSession::Stream() const {
  return impl_->stream;
}

int PortalSession::OpenPipeWireRemote(std::string& error) {
  if (!impl_->Usable(&error)) return -1;
  const int fd = xdp_session_open_pipewire_remote(impl_->session);
  if (fd < 0) error = "the portal gave no PipeWire connection";
  return fd;
}

bool PortalSession::MovePointer(double x, double y, std::string* error) {
  Impl& s = *impl_;
  if (!s.Usable(error)) return false;
  // The portal refuses a position outside the stream; the nearest point on it is meant.
  if (!std::isfinite(x)) x = 0;
  if (!std::isfinite(y)) y = 0;
  x = std::clamp(x, 0.0, double(s.stream.Width - 1));
  y = std::clamp(y, 0.0, double(s.stream.Height - 1));
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  return s.Notify(
      "NotifyPointerMotionAbsolute",
      g_variant_new("(oa{sv}udd)", s.sessionHandle.c_str(), &options, s.stream.NodeId, x, y),
      error);
}

bool PortalSession::Button(bool press, std::string* error) {
  Impl& s = *impl_;
  if (!s.Usable(error)) return false;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  return s.Notify(
      "NotifyPointerButton",
      g_variant_new("(oa{sv}iu)", s.sessionHandle.c_str(), &options, kLeftButton, press ? 1u : 0u),
      error);
}

}  // namespace ostrane::platform::wayland
