#include "platform/wayland/PortalSession.h"

#include <gio/gunixfdlist.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "platform/wayland/PortalClient.h"
#include "platform/wayland/RestoreToken.h"

namespace ostrane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr int32_t kLeftButton = 0x110;  // BTN_LEFT of linux/input-event-codes.h
constexpr auto kCallTimeout = std::chrono::seconds(5);
// The portal's device, source, cursor and persistence values.
constexpr guint32 kPointerDevice = 2;
constexpr guint32 kMonitorSource = 1;
constexpr guint32 kCursorHidden = 1;
constexpr guint32 kCursorMetadata = 4;
constexpr guint32 kPersistUntilRevoked = 2;
// RemoteDesktop keeps consent from this version on.
constexpr guint32 kPersistVersion = 2;

// What became of the restore token a start had.
enum class TokenFate { Unused, Offered, Refused };

guint32 LookupU(GVariant* dict, const char* key, guint32 otherwise = 0) {
  guint32 value = otherwise;
  if (dict) g_variant_lookup(dict, key, "u", &value);
  return value;
}

void InitDict(GVariantBuilder& options) {
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
}

}  // namespace

struct PortalSession::Impl {
  PortalClient client;
  RestoreTokens tokens;
  std::string sessionHandle;
  guint closedWatch = 0;
  bool closed = false;
  bool starting = false;
  PortalStream stream;
  bool cursorMetadata = false;
  guint32 cursorModes = 0;
  int offersCursorMetadata = -1;  // unknown until asked

  explicit Impl(std::string stateDir) : tokens(std::move(stateDir)) {}
  ~Impl() { Drop(); }

  // Forgets the session, closing it at the portal when it is still open.
  void Drop() {
    client.Unsubscribe(closedWatch);
    if (!closed) client.CloseSession(sessionHandle);
    sessionHandle.clear();
    stream = {};
    cursorMetadata = false;
    closed = false;
  }

  // The properties of `iface`, which must offer the bit `needed` in `types`.
  StartResult Probe(const char* iface, const char* types, guint32 needed,
                    Clock::time_point deadline, const PortalClient::Idle& idle,
                    VariantPtr& properties, std::string& error) {
    ErrorPtr failure;
    properties = client.Properties(
        iface, std::min(deadline, Clock::now() + PortalClient::kStartTimeout), idle, failure);
    if (!properties) {
      if (!failure) {
        error = client.Stopping() ? "closed while starting"
                                  : std::string("the portal did not answer about ") + iface;
        return StartResult::Failed;
      }
      if (PortalClient::NoService(failure.get())) {
        error = std::string("no desktop portal (") + kPortalName +
                ") on the session bus: " + failure->message;
        return StartResult::NoPortal;
      }
      if (PortalClient::NoInterface(failure.get())) {
        error = std::string("the desktop portal has no ") + iface;
        return StartResult::NoPortal;
      }
      error = std::string("the desktop portal failed to answer about ") + iface + ": " +
              failure->message;
      return StartResult::Failed;
    }
    if (!(LookupU(properties.get(), types) & needed)) {
      error = std::string("the desktop portal's ") + iface + " cannot share " +
              (needed == kPointerDevice ? "a pointer" : "a monitor");
      return StartResult::NoPortal;
    }
    return StartResult::Started;
  }

  // One request of the set-up, which the portal must answer with success.
  StartResult Step(const char* iface, const char* method, GVariantBuilder& options,
                   const std::function<GVariant*(GVariant*)>& make, Clock::time_point deadline,
                   const PortalClient::Idle& idle, PortalAnswer& answer, std::string& error) {
    if (!client.Request(iface, method, options, make, deadline, idle, answer, error)) {
      if (client.Stopping()) error = "closed while starting";
      return StartResult::Failed;
    }
    if (answer.Response == 0) return StartResult::Started;
    if (answer.Response == 1) {
      error = "the user did not allow the screen to be shared";
      return StartResult::Refused;
    }
    error = std::string("the portal refused ") + method + " (response " +
            std::to_string(answer.Response) + ")";
    // Refused before anyone was asked: the desktop cannot share its screen (KDE without a GPU).
    return std::string_view(method) == "CreateSession" ? StartResult::NoPortal
                                                       : StartResult::Failed;
  }

  StartResult Begin(std::string& error, const PortalClient::Idle& idle,
                    Clock::time_point deadline) {
    if (!client.Connect(error, idle)) return StartResult::NoPortal;
    VariantPtr remote, cast;
    StartResult result = Probe(kRemoteDesktop, "AvailableDeviceTypes", kPointerDevice, deadline,
                               idle, remote, error);
    if (result != StartResult::Started) return result;
    result =
        Probe(kScreenCast, "AvailableSourceTypes", kMonitorSource, deadline, idle, cast, error);
    if (result != StartResult::Started) return result;
    cursorModes = LookupU(cast.get(), "AvailableCursorModes");
    offersCursorMetadata = (cursorModes & kCursorMetadata) != 0;

    // Consent is kept only where the portal can; each token is good for one start.
    const bool persist = tokens.Enabled() && LookupU(remote.get(), "version") >= kPersistVersion;
    const std::string offered = persist ? tokens.Load() : std::string();
    TokenFate fate = TokenFate::Unused;
    PortalAnswer started;
    result = Negotiate(persist, offered, deadline, idle, started, fate, error);
    if (fate == TokenFate::Refused) {
      // Not even taken (GNOME takes only the UUIDs it made): the user is asked afresh, now.
      tokens.Drop();
      Drop();
      fate = TokenFate::Unused;
      error.clear();
      result = Negotiate(persist, {}, deadline, idle, started, fate, error);
    }
    if (!persist || (fate == TokenFate::Unused && result != StartResult::Started)) return result;
    const gchar* token = nullptr;
    if (result == StartResult::Started && started.Results &&
        g_variant_lookup(started.Results.get(), "restore_token", "&s", &token)) {
      std::string why;
      if (!tokens.Save(token, why)) {
        std::fprintf(stderr, "ostrane: the consent cannot be kept for the next start: %s\n",
                     why.c_str());
      }
    } else {
      // Not given again, or not accepted: the next start asks the user.
      tokens.Drop();
    }
    return result;
  }

  StartResult Negotiate(bool persist, const std::string& token, Clock::time_point deadline,
                        const PortalClient::Idle& idle, PortalAnswer& started, TokenFate& fate,
                        std::string& error) {
    PortalAnswer answer;
    GVariantBuilder options;
    InitDict(options);
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(client.NewToken("session").c_str()));
    StartResult result = Step(
        kRemoteDesktop, "CreateSession", options,
        [](GVariant* o) { return g_variant_new("(@a{sv})", o); }, deadline, idle, answer, error);
    if (result != StartResult::Started) return result;
    sessionHandle = PortalClient::SessionHandle(answer.Results.get());
    if (sessionHandle.empty()) {
      error = "the portal did not name the session";
      return StartResult::Failed;
    }
    closedWatch = client.WatchSessionClosed(sessionHandle, closed);
    const auto inSession = [this](GVariant* o) {
      return g_variant_new("(o@a{sv})", sessionHandle.c_str(), o);
    };

    InitDict(options);
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kPointerDevice));
    if (persist) {
      g_variant_builder_add(&options, "{sv}", "persist_mode",
                            g_variant_new_uint32(kPersistUntilRevoked));
      if (!token.empty()) {
        g_variant_builder_add(&options, "{sv}", "restore_token",
                              g_variant_new_string(token.c_str()));
        fate = TokenFate::Offered;
      }
    }
    result =
        Step(kRemoteDesktop, "SelectDevices", options, inSession, deadline, idle, answer, error);
    if (result == StartResult::Failed && fate == TokenFate::Offered && !client.Stopping()) {
      fate = TokenFate::Refused;
    }
    if (result != StartResult::Started) return result;

    // The pixels never show the pointer; where the portal can, its position comes beside them.
    InitDict(options);
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kMonitorSource));
    g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
    // A portal that lists no cursor modes takes none.
    if (cursorModes & kCursorMetadata) {
      g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorMetadata));
    } else if (cursorModes & kCursorHidden) {
      g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorHidden));
    }
    result = Step(kScreenCast, "SelectSources", options, inSession, deadline, idle, answer, error);
    if (result != StartResult::Started) return result;

    InitDict(options);
    result = Step(
        kRemoteDesktop, "Start", options,
        [this](GVariant* o) { return g_variant_new("(os@a{sv})", sessionHandle.c_str(), "", o); },
        deadline, idle, started, error);
    if (result != StartResult::Started) return result;
    return Started(started.Results.get(), error);
  }

  // What the user shared, from Start's results.
  StartResult Started(GVariant* results, std::string& error) {
    if (!(LookupU(results, "devices") & kPointerDevice)) {
      error = "the user did not allow remote interaction (the pointer)";
      return StartResult::Refused;
    }
    VariantPtr streams(g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})")));
    if (!streams || g_variant_n_children(streams.get()) == 0) {
      error = "the portal shared no screen-cast stream";
      return StartResult::Failed;
    }
    guint32 node = 0;
    GVariant* options = nullptr;
    g_variant_get_child(streams.get(), 0, "(u@a{sv})", &node, &options);
    VariantPtr ownedOptions(options);
    stream.NodeId = node;
    g_variant_lookup(options, "position", "(ii)", &stream.X, &stream.Y);
    if (!g_variant_lookup(options, "size", "(ii)", &stream.Width, &stream.Height) ||
        stream.Width <= 0 || stream.Height <= 0) {
      error = "the portal did not give the stream's size";
      return StartResult::Failed;
    }
    cursorMetadata = offersCursorMetadata == 1;
    // The compositor makes its virtual pointer on first use; where no real pointer exists, that
    // gives the seat a pointer only then, and the windows bind to it too late for the first
    // click. A motion by nothing makes it now, without moving the pointer.
    GVariantBuilder none;
    InitDict(none);
    Notify("NotifyPointerMotion",
           g_variant_new("(oa{sv}dd)", sessionHandle.c_str(), &none, 0.0, 0.0), nullptr);
    return StartResult::Started;
  }

  // One input call, waiting for the portal's answer; see MovePointer in the header.
  bool Notify(const char* method, GVariant* parameters, std::string* error) {
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(
        client.Bus(), kPortalName, kPortalPath, kRemoteDesktop, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<gint>(kInputTimeout.count()), nullptr, &raw));
    ErrorPtr failure(raw);
    if (reply) return true;
    // The portal forgets sessions it closed; the closed signal may still be on its way.
    if (g_error_matches(raw, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)) closed = true;
    if (error) *error = std::string(method) + " failed: " + raw->message;
    return false;
  }

  bool Usable(std::string* error) {
    client.Dispatch();
    if (!sessionHandle.empty() && !closed && !starting) return true;
    if (error) *error = "no active portal session";
    return false;
  }
};

PortalSession::PortalSession(std::string stateDir)
    : impl_(std::make_unique<Impl>(std::move(stateDir))) {}

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
  s.client.ClearStop();
  const StartResult result = s.Begin(error, idle, Clock::now() + timeout);
  s.starting = false;
  if (result != StartResult::Started) s.Drop();
  return result;
}

bool PortalSession::Active() {
  Impl& s = *impl_;
  if (s.starting) return false;
  s.client.Dispatch();
  return !s.sessionHandle.empty() && !s.closed;
}

void PortalSession::Close() {
  Impl& s = *impl_;
  // Start's wait notices and cleans up itself; its objects are still in use here.
  if (s.starting) {
    s.client.Stop();
    return;
  }
  s.Drop();
}

PortalStream PortalSession::Stream() const {
  return impl_->stream;
}

bool PortalSession::CursorMetadata() const {
  return impl_->cursorMetadata;
}

bool PortalSession::OffersCursorMetadata() {
  Impl& s = *impl_;
  if (s.offersCursorMetadata >= 0 || s.starting) return s.offersCursorMetadata == 1;
  std::string error;
  if (!s.client.Connect(error)) return false;
  ErrorPtr failure;
  VariantPtr cast =
      s.client.Properties(kScreenCast, Clock::now() + std::chrono::seconds(3), {}, failure);
  // A portal that did not answer in time may yet come up: ask again next time.
  if (!cast && !failure) return false;
  s.offersCursorMetadata = (LookupU(cast.get(), "AvailableCursorModes") & kCursorMetadata) != 0;
  return s.offersCursorMetadata == 1;
}

int PortalSession::OpenPipeWireRemote(std::string& error) {
  Impl& s = *impl_;
  if (!s.Usable(&error)) return -1;
  GVariantBuilder none;
  InitDict(none);
  ErrorPtr failure;
  GUnixFDList* fds = nullptr;
  VariantPtr reply = s.client.Call(
      kScreenCast, "OpenPipeWireRemote", g_variant_new("(oa{sv})", s.sessionHandle.c_str(), &none),
      G_VARIANT_TYPE("(h)"), Clock::now() + kCallTimeout, {}, failure, &fds);
  int fd = -1;
  if (reply && fds) {
    gint32 index = -1;
    g_variant_get(reply.get(), "(h)", &index);
    GError* raw = nullptr;
    fd = g_unix_fd_list_get(fds, index, &raw);  // a duplicate, the caller's own
    if (raw) g_error_free(raw);
  }
  if (fds) g_object_unref(fds);
  if (fd < 0) {
    error = std::string("the portal gave no PipeWire connection") +
            (failure ? std::string(": ") + failure->message : std::string());
  }
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
  InitDict(options);
  return s.Notify(
      "NotifyPointerMotionAbsolute",
      g_variant_new("(oa{sv}udd)", s.sessionHandle.c_str(), &options, s.stream.NodeId, x, y),
      error);
}

bool PortalSession::Button(bool press, std::string* error) {
  Impl& s = *impl_;
  if (!s.Usable(error)) return false;
  GVariantBuilder options;
  InitDict(options);
  return s.Notify(
      "NotifyPointerButton",
      g_variant_new("(oa{sv}iu)", s.sessionHandle.c_str(), &options, kLeftButton, press ? 1u : 0u),
      error);
}

}  // namespace ostrane::platform::wayland
