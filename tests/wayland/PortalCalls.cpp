#include "PortalCalls.h"

#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/PortalClient.h"

namespace probe {

namespace {

using namespace std::chrono_literals;
using ostrane::platform::wayland::kPortalPath;
using ostrane::platform::wayland::PortalAnswer;
using ostrane::platform::wayland::PortalClient;
using Clock = std::chrono::steady_clock;

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

// Connects, registering the app id when asked; prints what happened. False on failure.
bool open(PortalClient& client, const Common& c) {
  const Clock::time_point t = Clock::now();
  std::string error;
  if (!client.Connect(error)) {
    fprintf(stderr, "portal-probe: %s\n", error.c_str());
    return false;
  }
  if (c.appId.empty()) return true;
  const std::string& failed = client.RegistryError();
  printf("register %s: %s (%.3f s)\n", c.appId.c_str(),
         failed.empty() ? "ok" : ("error " + failed).c_str(), since(t));
  fflush(stdout);
  return failed.empty();
}

// What a request answered: its response code (0 granted, 1 cancelled, 2 other) and results, and
// how long it took; `error` is set instead when the call itself failed or no answer came.
struct Answer {
  PortalAnswer portal;
  std::string error;
  double seconds = 0;

  GVariant* results() const { return portal.Results.get(); }
  // The results as GVariant text.
  std::string text() const {
    if (!results()) return "{}";
    gchar* printed = g_variant_print(results(), FALSE);
    std::string text = printed;
    g_free(printed);
    return text;
  }
};

// Calls a method of `iface` that answers through a Request object: its arguments are `leading`
// then `options`, to which the request's handle token is added. Waits until `deadline` for the
// Response.
Answer request(PortalClient& client, const char* iface, const char* method,
               const std::vector<GVariant*>& leading, GVariantBuilder& options,
               Clock::time_point deadline) {
  Answer answer;
  const Clock::time_point began = Clock::now();
  const auto make = [&leading](GVariant* optionsDict) {
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE_TUPLE);
    for (GVariant* v : leading)
      g_variant_builder_add_value(&args, v);
    g_variant_builder_add_value(&args, optionsDict);
    return g_variant_builder_end(&args);
  };
  if (client.Request(iface, method, options, make, deadline, {}, answer.portal, answer.error))
    answer.error.clear();
  answer.seconds = since(began);
  return answer;
}

// Lets the client deliver what arrives until done() or the deadline; false when the deadline
// came.
bool runUntil(PortalClient& client, const std::function<bool()>& done, Clock::time_point deadline) {
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    client.Dispatch();
    if (!done()) std::this_thread::sleep_for(5ms);
  }
  return true;
}

void report(const char* step, const Answer& a) {
  if (!a.error.empty())
    printf("%s: error %s (%.3f s)\n", step, a.error.c_str(), a.seconds);
  else
    printf("%s: response %u %s (%.3f s)\n", step, a.portal.Response, a.text().c_str(), a.seconds);
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

// `builder` made an empty options dictionary.
GVariantBuilder& vardict(GVariantBuilder& builder) {
  g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
  return builder;
}

}  // namespace

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
  PortalClient client(false, c->appId);
  if (!open(client, *c)) return 1;

  GVariantBuilder options;
  g_variant_builder_add(&vardict(options), "{sv}", "session_handle_token",
                        g_variant_new_string(c->first.c_str()));
  const Answer created =
      request(client, kShortcuts, "CreateSession", {}, options, Clock::now() + 20s);
  report("create-session", created);
  const std::string session = PortalClient::SessionHandle(created.results());
  if (session.empty()) return fprintf(stderr, "portal-probe: no shortcuts session\n"), 1;

  // The session is the first argument, an object path, which a match rule's arg0 never
  // matches: it is compared here.
  struct Activations {
    std::string session;
    std::vector<std::string> ids;
  } activated{session, {}};
  guint subscription = client.Subscribe(
      kShortcuts, "Activated", kPortalPath,
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
      &activated);

  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add_value(&list, shortcut("OstraneStart", "Start clicking", "F9"));
  g_variant_builder_add_value(&list, shortcut("OstraneStop", "Stop clicking", "F10"));
  // The desktop may ask the user first: the bind waits as long as the probe may.
  const Answer bound = request(client, kShortcuts, "BindShortcuts",
                               {g_variant_new_object_path(session.c_str()),
                                g_variant_builder_end(&list), g_variant_new_string("")},
                               vardict(options), deadline);
  report("bind", bound);
  printf("bind-shortcuts: %s\n", shortcutsText(bound.results()).c_str());
  const Answer listed =
      request(client, kShortcuts, "ListShortcuts", {g_variant_new_object_path(session.c_str())},
              vardict(options), Clock::now() + 10s);
  report("list", listed);
  printf("list-shortcuts: %s\n", shortcutsText(listed.results()).c_str());
  printf("ready\n");
  fflush(stdout);

  bool ok = true;
  if (!c->expect.empty()) {
    const Clock::time_point waiting = Clock::now();
    // Every id of the comma-separated list, in any order.
    ok = runUntil(
        client,
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
  client.Unsubscribe(subscription);
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
  PortalClient client(false, c->appId);
  if (!open(client, *c)) return 1;

  GVariantBuilder options;
  g_variant_builder_add(&vardict(options), "{sv}", "session_handle_token",
                        g_variant_new_string("probe_remote"));
  const Answer created = request(client, kRemote, "CreateSession", {}, options, Clock::now() + 20s);
  report("create-session", created);
  const std::string session = PortalClient::SessionHandle(created.results());
  if (created.portal.Response != 0 || session.empty())
    return fprintf(stderr, "portal-probe: the portal made no remote-desktop session\n"), 1;

  g_variant_builder_add(&vardict(options), "{sv}", "types",
                        g_variant_new_uint32(1 | 2));  // keys, pointer
  g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(2));
  if (!offered.empty())
    g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(offered.c_str()));
  report("select-devices",
         request(client, kRemote, "SelectDevices", {g_variant_new_object_path(session.c_str())},
                 options, Clock::now() + 20s));
  g_variant_builder_add(&vardict(options), "{sv}", "types", g_variant_new_uint32(1));  // a monitor
  report("select-sources",
         request(client, kCast, "SelectSources", {g_variant_new_object_path(session.c_str())},
                 options, Clock::now() + 20s));
  const Answer started =
      request(client, kRemote, "Start",
              {g_variant_new_object_path(session.c_str()), g_variant_new_string("")},
              vardict(options), deadline);
  report("start", started);
  const std::string token = lookupString(started.results(), "restore_token");
  printf("restore-token: offered %s, returned %s\n", offered.empty() ? "none" : offered.c_str(),
         token.empty() ? "none" : token.c_str());
  if (!token.empty()) std::ofstream(c->first) << token << "\n";
  client.CloseSession(session);
  return started.error.empty() && started.portal.Response == 0 ? 0 : 1;
}

}  // namespace probe
