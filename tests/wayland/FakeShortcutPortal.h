// A fake GlobalShortcuts portal that binds keys as the desktops were seen to do, on a private
// bus, for the tests of the portal's global shortcuts.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/wayland/PortalTestBus.h"

namespace ostrane::platform::wayland::testbus {

using Shortcuts = std::vector<std::pair<std::string, std::string>>;

inline constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";

// A bus for a whole test program, for the fakes to serve on.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { bus_ = std::make_unique<ScopedBus>(); }
  void TearDown() override { bus_.reset(); }
  static const std::string& Address() { return bus_->Address(); }

 private:
  static inline std::unique_ptr<ScopedBus> bus_;
};

// How the desktop behind the portal binds keys, after what GNOME 48 and KDE Plasma 6.3 were
// seen to do. A key, once bound, belongs to a group that outlives the program; a press goes to the
// session its group has open.
enum class Desktop {
  Plain,  // answers BindShortcuts with the response asked for, and the set on success; a group
          // is a session
  Gnome,  // refuses a program without an app id (2, no list), and a second binding on a
          // session; answers 2 with the keys bound ("Press F9"); a group is an app id
  Kde,    // answers 0 listing every key, even one another group holds, which it does not get;
          // a group is the app id, or the session's handle token for a program without one
};

struct ShortcutPortalOptions {
  bool Interface = true;
  Desktop Kind = Desktop::Plain;
  guint32 BindResponse = 0;  // Plain only
  bool AnswerBind = true;
  bool KnowsApp = true;            // whether the registry finds the program's desktop file
  const char* NoKeyFor = nullptr;  // Plain: a shortcut listed without a key
};

// The portal with or without the GlobalShortcuts interface.
class FakeShortcutPortal {
 public:
  using Options = ShortcutPortalOptions;

  explicit FakeShortcutPortal(Options options = {}) : options_(options) {
    const std::string xml =
        options_.Interface
            ? Interface(kShortcutsInterface,
                        {"CreateSession a{sv} -> o", "BindShortcuts o a(sa{sv}) s a{sv} -> o",
                         "ListShortcuts o a{sv} -> o"})
            : Interface("org.freedesktop.portal.ScreenCast", {});
    portal_ = std::make_unique<FakePortal>(
        BusEnvironment::Address(), xml,
        [this](FakePortal& portal, FakePortal::Call& call) { Handle(portal, call); },
        [](const std::string&, const std::string&) { return g_variant_new_uint32(1); },
        options_.KnowsApp);
  }

  // The user presses `key`: Activated for the shortcut its group bound, if the group has a session.
  void Press(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (const auto found = held_.find(key); found != held_.end()) {
      Activate(found->second.Session, found->second.Shortcut);
    }
  }
  // Sends Activated as the portal does when the user presses a shortcut.
  void Activate(const std::string& session, const std::string& id) {
    portal_->Emit(kShortcutsInterface, "Activated",
                  g_variant_new("(ost@a{sv})", session.c_str(), id.c_str(), guint64{1234},
                                g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
  }
  FakePortal& Portal() { return *portal_; }
  std::string Session() {
    std::lock_guard lock(mutex_);
    return session_;
  }
  Shortcuts LastBound() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  // The shortcuts as a portal lists them: with the key each got, "" for none.
  static GVariant* Listed(const Shortcuts& given) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& [id, key] : given) {
      GVariantBuilder properties;
      g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
      g_variant_builder_add(&properties, "{sv}", "trigger_description",
                            g_variant_new_string(key.c_str()));
      g_variant_builder_add(&list, "(sa{sv})", id.c_str(), &properties);
    }
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&results, "{sv}", "shortcuts", g_variant_builder_end(&list));
    return g_variant_builder_end(&results);
  }

  void Handle(FakePortal& portal, FakePortal::Call& call) {
    std::lock_guard lock(mutex_);
    if (call.Method == "CreateSession") {
      session_ = portal.OpenSession(call);
      if (session_.empty()) return;
      given_.erase(session_);
      GVariantBuilder results;
      g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
      g_variant_builder_add(&results, "{sv}", "session_handle",
                            g_variant_new_object_path(session_.c_str()));
      FakePortal::Respond(call, 0, g_variant_builder_end(&results));
      return;
    }
    const gchar* session = nullptr;
    g_variant_get_child(call.Parameters, 0, "&o", &session);
    if (call.Method == "ListShortcuts") {
      FakePortal::Respond(call, 0, Listed(given_[session]));
      return;
    }
    GVariant* list = g_variant_get_child_value(call.Parameters, 1);
    asked_.clear();
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
      const gchar* trigger = "";
      g_variant_lookup(properties, "preferred_trigger", "&s", &trigger);
      asked_.emplace_back(id, trigger);
      g_variant_unref(properties);
    }
    g_variant_unref(list);
    const std::string token = std::string(session).substr(std::string(session).rfind('/') + 1);
    const std::string app = portal.AppOf(call.Sender);
    Shortcuts& given = given_[session];
    guint32 response = 0;
    std::string group = session;
    switch (options_.Kind) {
      case Desktop::Plain:
        response = options_.BindResponse;
        if (response == 0) given = asked_;
        for (auto& [shortcut, key] : given)
          if (options_.NoKeyFor && shortcut == options_.NoKeyFor) key.clear();
        break;
      case Desktop::Gnome:
        response = 2;
        if (app.empty() || !given.empty()) {
          FakePortal::Respond(call, 2, nullptr);
          return;
        }
        for (const auto& [shortcut, key] : asked_)
          given.emplace_back(shortcut, "Press " + key);
        group = app;
        break;
      case Desktop::Kde:
        given = asked_;
        group = app.empty() ? token : app;
        break;
    }
    for (size_t i = 0; i < given.size(); ++i) {
      if (given[i].second.empty()) continue;
      Holder& holder = held_.emplace(asked_[i].second, Holder{group, "", ""}).first->second;
      if (holder.Group == group) holder = {group, session, asked_[i].first};
    }
    FakePortal::Respond(call, response, response == 0 || !given.empty() ? Listed(given) : nullptr,
                        options_.AnswerBind);
  }

  struct Holder {
    std::string Group, Session, Shortcut;
  };

  Options options_;
  std::mutex mutex_;
  std::string session_;
  Shortcuts asked_;
  std::map<std::string, Shortcuts> given_;  // by session
  std::map<std::string, Holder> held_;      // by key
  std::unique_ptr<FakePortal> portal_;
};

}  // namespace ostrane::platform::wayland::testbus
