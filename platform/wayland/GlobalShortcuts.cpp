#include "platform/wayland/GlobalShortcuts.h"

#include <set>

#include "platform/wayland/PortalClient.h"

namespace ostrane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";

// The ids of a portal's list of shortcuts that have a key. A shortcut listed with an empty
// trigger has none (KDE, when another binding holds the key); one listed without a trigger
// description is taken as bound, the portal having said nothing against it.
std::set<std::string> WithKeys(GVariant* list) {
  std::set<std::string> ids;
  GVariantIter iter;
  g_variant_iter_init(&iter, list);
  const gchar* id = nullptr;
  GVariant* properties = nullptr;
  while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
    const gchar* trigger = nullptr;
    if (!g_variant_lookup(properties, "trigger_description", "&s", &trigger) || *trigger) {
      ids.insert(id);
    }
    g_variant_unref(properties);
  }
  return ids;
}

VariantPtr ShortcutList(GVariant* results) {
  return VariantPtr(results
                        ? g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))
                        : nullptr);
}

}  // namespace

struct GlobalShortcuts::Impl {
  PortalClient client{true};
  int available = -1;  // unknown until asked
  guint activatedWatch = 0;
  std::string sessionHandle;
  std::set<std::string> bound;
  std::function<void(const std::string&)> activated;
  bool binding = false;

  ~Impl() {
    Close();
    client.Unsubscribe(activatedWatch);
  }

  bool Available() {
    if (available >= 0) return available == 1;
    std::string ignored;
    if (!client.Connect(ignored)) return false;
    ErrorPtr failure;
    VariantPtr properties =
        client.Properties(kInterface, Clock::now() + kProbeTimeout, {}, failure);
    // A portal that did not answer in time may yet come up: ask again next time.
    if (!properties &&
        (!failure || g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT))) {
      return false;
    }
    available = properties ? 1 : 0;
    return available == 1;
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

  bool CreateSession(Clock::time_point deadline, const PortalClient::Idle& idle,
                     std::string& error) {
    if (activatedWatch == 0) {
      activatedWatch = client.Subscribe(kInterface, "Activated", kPortalPath, OnActivated, this);
    }
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(kSessionToken));
    PortalAnswer answer;
    if (!client.Request(
            kInterface, "CreateSession", options,
            [](GVariant* o) { return g_variant_new("(@a{sv})", o); }, deadline, idle, answer,
            error)) {
      return false;
    }
    if (answer.Response != 0) {
      error = "the portal refused CreateSession (response " + std::to_string(answer.Response) + ")";
      return false;
    }
    sessionHandle = PortalClient::SessionHandle(answer.Results.get());
    if (!sessionHandle.empty()) return true;
    error = "the portal's CreateSession named no session";
    return false;
  }

  // The session's shortcuts as the portal lists them now; null when it does not say.
  VariantPtr List(Clock::time_point deadline, const PortalClient::Idle& idle) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    PortalAnswer answer;
    std::string ignored;
    if (!client.Request(
            kInterface, "ListShortcuts", options,
            [this](GVariant* o) { return g_variant_new("(o@a{sv})", sessionHandle.c_str(), o); },
            deadline, idle, answer, ignored) ||
        answer.Response != 0) {
      return nullptr;
    }
    return ShortcutList(answer.Results.get());
  }

  // Binds the set on the session; the keys the portal gave end up in `bound`.
  void BindOnSession(const std::vector<std::pair<std::string, std::string>>& shortcuts,
                     Clock::time_point deadline, const PortalClient::Idle& idle,
                     std::string& error) {
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
    GVariant* listed = g_variant_builder_end(&list);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    PortalAnswer answer;
    if (!client.Request(
            kInterface, "BindShortcuts", options,
            [&](GVariant* o) {
              return g_variant_new("(o@a(sa{sv})s@a{sv})", sessionHandle.c_str(), listed, "", o);
            },
            deadline, idle, answer, error)) {
      return;
    }
    VariantPtr given = ShortcutList(answer.Results.get());
    // The user's no is final; otherwise the session is asked what it holds.
    if (!given && answer.Response != 1) given = List(deadline, idle);
    if (given) {
      bound = WithKeys(given.get());
    } else if (answer.Response == 0) {
      for (const auto& shortcut : shortcuts)
        bound.insert(shortcut.first);
    }
    std::string missing;
    for (const auto& shortcut : shortcuts)
      if (!bound.count(shortcut.first)) missing += (missing.empty() ? "" : ", ") + shortcut.first;
    if (missing.empty()) return;
    if (answer.Response == 1) {
      error = "the portal refused BindShortcuts (cancelled by the user)";
    } else if (answer.Response != 0) {
      error = "the portal refused BindShortcuts (response " + std::to_string(answer.Response) + ")";
    } else {
      error = "the desktop gave no key to " + missing + " (another binding may hold it)";
    }
  }

  bool Bind(const std::vector<std::pair<std::string, std::string>>& shortcuts, std::string& error,
            const PortalClient::Idle& idle, std::chrono::milliseconds timeout) {
    if (binding) {
      error = "shortcuts are being bound already";
      return false;
    }
    if (!client.Connect(error, idle)) return false;
    binding = true;
    const auto deadline = Clock::now() + timeout;
    // A session takes one binding: GNOME refuses a second one.
    Close();
    error.clear();
    if (CreateSession(deadline, idle, error)) BindOnSession(shortcuts, deadline, idle, error);
    // A session without keys is not kept.
    if (bound.empty()) Close();
    binding = false;
    return error.empty();
  }

  void Close() {
    bound.clear();
    client.CloseSession(sessionHandle);
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

bool GlobalShortcuts::IsBound(const std::string& id) const {
  return impl_->bound.count(id) > 0;
}

void GlobalShortcuts::Close() {
  if (!impl_->binding) impl_->Close();
}

std::string GlobalShortcuts::RegistryError() const {
  return impl_->client.RegistryError();
}

void GlobalShortcuts::SetActivated(std::function<void(const std::string&)> activated) {
  impl_->activated = std::move(activated);
}

void GlobalShortcuts::Dispatch() {
  impl_->client.Dispatch();
}

int GlobalShortcuts::WakeFd() const {
  return impl_->client.WakeFd();
}

}  // namespace ostrane::platform::wayland
