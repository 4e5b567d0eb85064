// What every client of the desktop portal in this folder does the same way: a connection of its
// own to the session bus, dispatched on a private GLib context; the program's app id told to the
// portal before anything else; method calls and requests (a call whose answer comes later as the
// Response of a request object) waited for in ticks, with the caller's idle work run between
// them; sessions named in an answer, and closed.
//
// Use it from one thread. The connection is the client's own, so a client sees only the answers
// to its own requests, and the portal forgets its sessions when the client goes.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace ostrane::platform::wayland {

inline constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

struct ErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

// The id the portal knows the program by: the name of its installed desktop file.
const char* AppId();

// The answer of a request: the portal's response code (0 success, 1 cancelled by the user,
// 2 anything else) and its results.
struct PortalAnswer {
  guint32 Response = 2;
  VariantPtr Results;  // a{sv}; never null once answered
};

class PortalClient {
 public:
  using Clock = std::chrono::steady_clock;
  using Idle = std::function<void()>;
  // The portal may be started by the bus on the first call, which takes a moment.
  static constexpr std::chrono::seconds kStartTimeout{25};

  // `wakeable`: WakeFd becomes readable whenever something waits to be dispatched, so that an
  // event loop watching it need not poll. `appId`: the id Connect registers (none when empty).
  explicit PortalClient(bool wakeable = false, std::string appId = AppId());
  ~PortalClient();
  PortalClient(const PortalClient&) = delete;
  PortalClient& operator=(const PortalClient&) = delete;

  // Connects once, and registers the app id with the portal's host registry as the first call
  // (ignored where that fails: an older portal, or the program run from its build tree without
  // its desktop file installed; RegistryError says why). False, with the reason, when there is
  // no session bus.
  bool Connect(std::string& error, const Idle& idle = {});
  bool Connected() const { return bus_ != nullptr; }
  GDBusConnection* Bus() const { return bus_; }
  // Why the registration failed; empty when it worked.
  const std::string& RegistryError() const { return registryError_; }

  // Delivers what has arrived (signals, finished calls), without waiting.
  void Dispatch();
  int WakeFd() const { return wakeFd_; }

  // Ends the wait under way, from the idle work, and every wait until ClearStop.
  void Stop() { stopping_ = true; }
  void ClearStop() { stopping_ = false; }
  bool Stopping() const { return stopping_; }

  // Calls `method` of `iface` on the portal's object and waits for its reply until `deadline`.
  // Null when it failed, with the error in `failure` (null when the wait gave up or was
  // stopped). `fds` receives the descriptors the reply carries, when asked for.
  VariantPtr Call(const char* iface, const char* method, GVariant* parameters,
                  const GVariantType* replyType, Clock::time_point deadline, const Idle& idle,
                  ErrorPtr& failure, GUnixFDList** fds = nullptr);
  // The interface's properties, or null with `failure` as for Call.
  VariantPtr Properties(const char* iface, Clock::time_point deadline, const Idle& idle,
                        ErrorPtr& failure);

  // A fresh token for a request or a session, unique on this connection.
  std::string NewToken(const char* kind);
  // The path of the request object the portal makes for `token`.
  std::string RequestPath(const std::string& token) const;

  // Calls `method`, whose parameters `make` builds around `options` (a{sv}, the handle token
  // added here), and waits for its Response until `deadline`. False, with the reason in
  // `error`, when the call failed, was not answered in time or the wait was stopped; a
  // request left unanswered is closed.
  bool Request(const char* iface, const char* method, GVariantBuilder& options,
               const std::function<GVariant*(GVariant* options)>& make, Clock::time_point deadline,
               const Idle& idle, PortalAnswer& answer, std::string& error);

  // Whether a call's error says there is no portal on the bus, or no such interface there.
  static bool NoService(const GError* error);
  static bool NoInterface(const GError* error);

  // The session a CreateSession answer names (older portals sent a string); empty for none.
  static std::string SessionHandle(GVariant* results);
  // Sets `closed` from Dispatch when the portal closes the session; `closed` must outlive the
  // watch.
  guint WatchSessionClosed(const std::string& handle, bool& closed);
  void Unsubscribe(guint& watch);
  // Closes the session at the portal, without waiting for long.
  void CloseSession(const std::string& handle);
  // Subscribes to a signal of the portal (of any of its objects for a null path), delivered
  // from Dispatch; `free` releases `data` once the subscription is gone.
  guint Subscribe(const char* iface, const char* signal, const char* path,
                  GDBusSignalCallback callback, gpointer data, GDestroyNotify free = nullptr);

 private:
  // Runs the context until `done`, the deadline or a stop; the idle work between ticks.
  bool WaitUntil(const std::function<bool()>& done, Clock::time_point deadline, const Idle& idle);
  void Iterate(bool block);

  GMainContext* context_;
  GDBusConnection* bus_ = nullptr;
  int wakeFd_ = -1;
  unsigned tokens_ = 0;
  bool stopping_ = false;
  std::string appId_;
  std::string registryError_;
};

}  // namespace ostrane::platform::wayland
