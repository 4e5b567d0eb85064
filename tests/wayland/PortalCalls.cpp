#include "PortalCalls.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace probe {

namespace {

using namespace std::chrono_literals;

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRemote = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kCast = "org.freedesktop.portal.ScreenCast";

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The common options: --register APP_ID and --timeout S; the rest is the mode's own.
struct Common {
  std::string appId;
  int timeoutSeconds = 60;
  std::string first;   // the mode's argument
  std::string expect;  // --expect ID (shortcuts)
};

std::optional<Common> parse(int argc, char** argv) {
  Common c;
  if (argc < 3) return std::nullopt;
  c.first = argv[2];
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--register") {
      c.appId = value;
    } else if (arg == "--expect") {
      c.expect = value;
    } else if (arg == "--timeout") {
      char* end = nullptr;
      const long n = strtol(value.c_str(), &end, 10);
      if (*end || n < 1 || n > 3600) return std::nullopt;
      c.timeoutSeconds = int(n);
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || c.first.empty()) return std::nullopt;
  return c;
}

// Connects and registers the app id when asked; prints what happened. False on failure.
bool open(Portal& portal, const Common& c) {
  std::string error;
  if (!portal.connect(error)) {
    fprintf(stderr, "portal-probe: %s\n", error.c_str());
    return false;
  }
  if (c.appId.empty()) return true;
  const Clock::time_point t = Clock::now();
  const bool ok = portal.registerAppId(c.appId, error);
  printf("register %s: %s (%.3f s)\n", c.appId.c_str(), ok ? "ok" : ("error " + error).c_str(),
         since(t));
  fflush(stdout);
  return ok;
}

void report(const char* step, const Answer& a) {
  if (!a.error.empty())
    printf("%s: error %s (%.3f s)\n", step, a.error.c_str(), a.seconds);
  else
    printf("%s: response %u %s (%.3f s)\n", step, a.response, a.text().c_str(), a.seconds);
  fflush(stdout);
}

std::string lookupString(GVariant* dict, const char* key) {
  const char* value = nullptr;
  return dict && g_variant_lookup(dict, key, "&s", &value) ? value : "";
}

// ID="TRIGGER" ... from the results' shortcuts list, a(sa{sv}), in the portal's order.
std::string shortcutsText(GVariant* results) {
  GVariant* list = results ? g_variant_lookup_value(results, "shortcuts", nullptr) : nullptr;
  if (!list) return "(no shortcuts list)";
  std::string text;
  GVariantIter iter;
  g_variant_iter_init(&iter, list);
  const char* id = nullptr;
  GVariant* properties = nullptr;
  while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
    const std::string trigger = lookupString(properties, "trigger_description");
    text += (text.empty() ? "" : " ") + std::string(id) + "=\"" + trigger + "\"";
    g_variant_unref(properties);
  }
  g_variant_unref(list);
  return text.empty() ? "(none)" : text;
}

GVariant* shortcut(const char* id, const char* description, const char* trigger) {
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(description));
  g_variant_builder_add(&properties, "{sv}", "preferred_trigger", g_variant_new_string(trigger));
  return g_variant_new("(sa{sv})", id, &properties);
}

GVariantBuilder* vardict() {
  return g_variant_builder_new(G_VARIANT_TYPE_VARDICT);
}

}  // namespace

Answer::~Answer() {
  if (results) g_variant_unref(results);
}

std::string Answer::text() const {
  if (!error.empty()) return "error " + error;
  if (!results) return "{}";
  gchar* printed = g_variant_print(results, FALSE);
  std::string text = printed;
  g_free(printed);
  return text;
}

Portal::~Portal() {
  if (bus_) g_object_unref(bus_);
}

bool runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(5000);
  }
  return true;
}

bool Portal::connect(std::string& error) {
  GError* e = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
  if (!bus_) {
    error = std::string("no session bus: ") + e->message;
    g_error_free(e);
    return false;
  }
  sender_ = g_dbus_connection_get_unique_name(bus_) + 1;
  for (char& ch : sender_)
    if (ch == '.') ch = '_';
  return true;
}

bool Portal::registerAppId(const std::string& appId, std::string& error) {
  GError* e = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus_, kPortal, kPath, "org.freedesktop.host.portal.Registry",
                                  "Register", g_variant_new("(sa{sv})", appId.c_str(), nullptr),
                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &e);
  if (!reply) {
    error = e->message;
    g_error_free(e);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

void Portal::request(const char* iface, const char* method, const std::vector<GVariant*>& leading,
                     GVariantBuilder* options, Clock::duration within, Answer& answer) {
  const Clock::time_point began = Clock::now();
  const std::string token = "probe" + std::to_string(getpid()) + "_" + std::to_string(++tokens_);
  const std::string path = std::string(kPath) + "/request/" + sender_ + "/" + token;
  g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  // Subscribed before the call, so that an answer given at once is not missed.
  bool answered = false;
  struct Seen {
    Answer* answer;
    bool* answered;
  } seen{&answer, &answered};
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus_, kPortal, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
         gpointer data) {
        auto* s = static_cast<Seen*>(data);
        g_variant_get(args, "(u@a{sv})", &s->answer->response, &s->answer->results);
        *s->answered = true;
      },
      &seen, nullptr);
  GVariantBuilder args;
  g_variant_builder_init(&args, G_VARIANT_TYPE_TUPLE);
  for (GVariant* v : leading)
    g_variant_builder_add_value(&args, v);
  g_variant_builder_add_value(&args, g_variant_builder_end(options));
  g_variant_builder_unref(options);
  GError* e = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus_, kPortal, kPath, iface, method, g_variant_builder_end(&args),
                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &e);
  if (!reply) {
    answer.error = e->message;
    g_error_free(e);
  } else {
    g_variant_unref(reply);
    if (!runUntil([&] { return answered; }, began + within))
      answer.error =
          "no Response within " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(within).count()) + " s";
  }
  g_dbus_connection_signal_unsubscribe(bus_, subscription);
  answer.seconds = since(began);
}

// Global shortcuts: a session with a fixed handle token, F9 and F10 bound in one call, the list
// read back, then each activation printed; done once `expect` was activated.
int runShortcuts(int argc, char** argv) {
  const std::optional<Common> c = parse(argc, argv);
  if (!c) {
    fprintf(stderr, "usage: %s --shortcuts TOKEN [--register APP_ID] [--expect ID] [--timeout S]\n",
            argv[0]);
    return 2;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(c->timeoutSeconds);
  Portal portal;
  if (!open(portal, *c)) return 1;

  Answer created;
  GVariantBuilder* options = vardict();
  g_variant_builder_add(options, "{sv}", "session_handle_token",
                        g_variant_new_string(c->first.c_str()));
  portal.request(kShortcuts, "CreateSession", {}, options, 20s, created);
  report("create-session", created);
  const std::string session = lookupString(created.results, "session_handle");
  if (session.empty()) return fprintf(stderr, "portal-probe: no shortcuts session\n"), 1;

  // The session is the first argument, an object path, which a match rule's arg0 never
  // matches: it is compared here.
  struct Activations {
    std::string session;
    std::vector<std::string> ids;
  } activated{session, {}};
  const guint subscription = g_dbus_connection_signal_subscribe(
      portal.bus(), kPortal, kShortcuts, "Activated", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
         gpointer data) {
        auto* seen = static_cast<Activations*>(data);
        const char *from = nullptr, *id = nullptr;
        g_variant_get_child(args, 0, "&o", &from);
        g_variant_get_child(args, 1, "&s", &id);
        if (seen->session != from) return;
        seen->ids.push_back(id);
        printf("activated %s\n", id);
        fflush(stdout);
      },
      &activated, nullptr);

  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add_value(&list, shortcut("OstraneStart", "Start clicking", "F9"));
  g_variant_builder_add_value(&list, shortcut("OstraneStop", "Stop clicking", "F10"));
  Answer bound;
  // The desktop may ask the user first: the bind waits as long as the probe may.
  portal.request(kShortcuts, "BindShortcuts",
                 {g_variant_new_object_path(session.c_str()), g_variant_builder_end(&list),
                  g_variant_new_string("")},
                 vardict(), deadline - Clock::now(), bound);
  report("bind", bound);
  printf("bind-shortcuts: %s\n", shortcutsText(bound.results).c_str());
  Answer listed;
  portal.request(kShortcuts, "ListShortcuts", {g_variant_new_object_path(session.c_str())},
                 vardict(), 10s, listed);
  report("list", listed);
  printf("list-shortcuts: %s\n", shortcutsText(listed.results).c_str());
  printf("ready\n");
  fflush(stdout);

  bool ok = true;
  if (!c->expect.empty()) {
    const Clock::time_point waiting = Clock::now();
    // Every id of the comma-separated list, in any order.
    ok = runUntil(
        [&] {
          std::istringstream wanted(c->expect);
          for (std::string id; std::getline(wanted, id, ',');)
            if (std::find(activated.ids.begin(), activated.ids.end(), id) == activated.ids.end())
              return false;
          return true;
        },
        deadline);
    if (ok)
      printf("expected %s activated %.3f s after ready\n", c->expect.c_str(), since(waiting));
    else
      fprintf(stderr, "portal-probe: %s was not activated within %d s\n", c->expect.c_str(),
              c->timeoutSeconds);
  }
  g_dbus_connection_signal_unsubscribe(portal.bus(), subscription);
  return ok ? 0 : 1;
}

// A remote-desktop session with a screen cast that asks to be remembered (persist_mode 2), and
// offers the token a previous run kept in TOKEN_FILE; the new token replaces it.
int runRemotePersist(int argc, char** argv) {
  const std::optional<Common> c = parse(argc, argv);
  if (!c || !c->expect.empty()) {
    fprintf(stderr, "usage: %s --remote-persist TOKEN_FILE [--register APP_ID] [--timeout S]\n",
            argv[0]);
    return 2;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(c->timeoutSeconds);
  std::string offered;
  std::getline(std::ifstream(c->first), offered);
  Portal portal;
  if (!open(portal, *c)) return 1;

  Answer created;
  GVariantBuilder* options = vardict();
  g_variant_builder_add(options, "{sv}", "session_handle_token",
                        g_variant_new_string("probe_remote"));
  portal.request(kRemote, "CreateSession", {}, options, 20s, created);
  report("create-session", created);
  const std::string session = lookupString(created.results, "session_handle");
  if (created.response != 0 || session.empty())
    return fprintf(stderr, "portal-probe: the portal made no remote-desktop session\n"), 1;

  Answer devices;
  options = vardict();
  g_variant_builder_add(options, "{sv}", "types", g_variant_new_uint32(1 | 2));  // keys, pointer
  g_variant_builder_add(options, "{sv}", "persist_mode", g_variant_new_uint32(2));
  if (!offered.empty())
    g_variant_builder_add(options, "{sv}", "restore_token", g_variant_new_string(offered.c_str()));
  portal.request(kRemote, "SelectDevices", {g_variant_new_object_path(session.c_str())}, options,
                 20s, devices);
  report("select-devices", devices);
  Answer sources;
  options = vardict();
  g_variant_builder_add(options, "{sv}", "types", g_variant_new_uint32(1));  // a monitor
  portal.request(kCast, "SelectSources", {g_variant_new_object_path(session.c_str())}, options, 20s,
                 sources);
  report("select-sources", sources);
  Answer started;
  portal.request(kRemote, "Start",
                 {g_variant_new_object_path(session.c_str()), g_variant_new_string("")}, vardict(),
                 deadline - Clock::now(), started);
  report("start", started);
  const std::string token = lookupString(started.results, "restore_token");
  printf("restore-token: offered %s, returned %s\n", offered.empty() ? "none" : offered.c_str(),
         token.empty() ? "none" : token.c_str());
  if (!token.empty()) std::ofstream(c->first) << token << "\n";
  GVariant* closed = g_dbus_connection_call_sync(
      portal.bus(), kPortal, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
      nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (closed) g_variant_unref(closed);
  return started.error.empty() && started.response == 0 ? 0 : 1;
}

}  // namespace probe
