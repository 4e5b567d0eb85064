// The desktop portal asked directly over D-Bus, as a program does, for the probe's modes that
// libportal 0.6 cannot express: an app id registered with the host registry, global shortcuts,
// and a remote-desktop session that asks to be remembered. Each step prints one line with what
// the portal answered, for whoever writes down how a desktop behaves.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace probe {

using Clock = std::chrono::steady_clock;

// What a request answered: its response code (0 granted, 1 cancelled, 2 other), its results,
// and how long it took; `error` is set instead when the call itself failed or no answer came.
struct Answer {
  uint32_t response = 2;
  GVariant* results = nullptr;  // owned; a{sv}
  std::string error;
  double seconds = 0;

  Answer() = default;
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;
  ~Answer();
  // The results as GVariant text, or the error.
  std::string text() const;
};

class Portal {
 public:
  Portal() = default;
  Portal(const Portal&) = delete;
  Portal& operator=(const Portal&) = delete;
  ~Portal();

  bool connect(std::string& error);
  GDBusConnection* bus() const { return bus_; }
  // org.freedesktop.host.portal.Registry.Register: the app id the portal gives this process.
  bool registerAppId(const std::string& appId, std::string& error);
  // Calls a method of `iface` that answers through a Request object: its arguments are
  // `leading` then the options vardict (taken over), to which the request's handle_token is
  // added. Waits up to `within` for the Response.
  void request(const char* iface, const char* method, const std::vector<GVariant*>& leading,
               GVariantBuilder* options, Clock::duration within, Answer& answer);

 private:
  GDBusConnection* bus_ = nullptr;
  std::string sender_;  // the unique name as request paths spell it
  int tokens_ = 0;
};

// Lets the main context run until done() or the deadline; false when the deadline came.
bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);

// The probe's modes; each returns the process's exit status.
//   --shortcuts TOKEN [--register APP_ID] [--expect ID[,ID...]] [--timeout S]
//   --remote-persist TOKEN_FILE [--register APP_ID] [--timeout S]
int runShortcuts(int argc, char** argv);
int runRemotePersist(int argc, char** argv);

}  // namespace probe
