// Global shortcuts through a fake desktop portal on a private bus: whether the interface is
// there, what is bound, which activations reach the program, and how refusals end.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/wayland/GlobalShortcuts.h"
#include "platform/wayland/PortalClient.h"
#include "platform/wayland/WaylandDesktop.h"
#include "tests/wayland/FakeShortcutPortal.h"

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testbus::Desktop;
using testbus::FakeShortcutPortal;
using testbus::Shortcuts;

// One bus for the whole program; every client makes a connection of its own to it.
[[maybe_unused]] ::testing::Environment* const kBus =
    ::testing::AddGlobalTestEnvironment(new testbus::BusEnvironment);

// An event loop without timers: it sleeps until a watched descriptor is readable, so only the
// backend's descriptor can wake it for an activation.
class SleepingLoop : public EventLoop {
 public:
  void WatchReadable(int fd, std::function<void()> readable) override {
    watches_.emplace_back(fd, std::move(readable));
  }
  void OnIdle(std::function<void()> work) override { idle_.push_back(std::move(work)); }
  void FilterNativeMessages(const char*, std::function<bool(const void*)>) override {}
  void ProcessPending() override {
    for (const auto& work : idle_)
      work();
  }
  // One sleep of at most `limit`, then the callbacks of the readable descriptors.
  void SleepOnce(std::chrono::milliseconds limit) {
    std::vector<pollfd> fds;
    for (const auto& watch : watches_)
      fds.push_back({watch.first, POLLIN, 0});
    if (poll(fds.data(), fds.size(), static_cast<int>(limit.count())) <= 0) return;
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) watches_[i].second();
  }
  size_t Watches() const { return watches_.size(); }

 private:
  std::vector<std::pair<int, std::function<void()>>> watches_;
  std::vector<std::function<void()>> idle_;
};

TEST(GlobalShortcuts, AvailableOnlyWithTheInterface) {
  struct Case {
    const char* Name;
    bool Portal;
    bool Interface;
  };
  const Case cases[] = {
      {"no portal", false, false},
      {"a portal without global shortcuts", true, false},
      {"a portal with global shortcuts", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<FakeShortcutPortal> portal;
    if (c.Portal)
      portal = std::make_unique<FakeShortcutPortal>(FakeShortcutPortal::Options{c.Interface});
    GlobalShortcuts shortcuts;
    const auto begin = Clock::now();
    EXPECT_EQ(shortcuts.Available(), c.Interface);
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_FALSE(shortcuts.Bound());
  }
}

// The keys count as bound when the portal lists them with a key, whatever its response code;
// the app id is registered before anything else, and the set is bound in one request.
TEST(GlobalShortcuts, TheKeysGivenDecideTheBinding) {
  using Options = FakeShortcutPortal::Options;
  struct Case {
    const char* Name;
    Options Portal;
    std::vector<bool> Bound;  // start, stop
    const char* Error;
  };
  const Case cases[] = {
      {"success", {}, {true, true}, ""},
      {"cancelled",
       {.BindResponse = 1},
       {false, false},
       "the portal refused BindShortcuts (cancelled by the user)"},
      {"refused",
       {.BindResponse = 2},
       {false, false},
       "the portal refused BindShortcuts (response 2)"},
      {"GNOME: response 2 with the keys bound", {.Kind = Desktop::Gnome}, {true, true}, ""},
      {"GNOME: no desktop file, no app id",
       {.Kind = Desktop::Gnome, .KnowsApp = false},
       {false, false},
       "the portal refused BindShortcuts (response 2)"},
      {"KDE", {.Kind = Desktop::Kde}, {true, true}, ""},
      {"a shortcut listed without a key",
       {.NoKeyFor = "start"},
       {false, true},
       "the desktop gave no key to start (another binding may hold it)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeShortcutPortal portal(c.Portal);
    GlobalShortcuts shortcuts;
    std::string error;
    EXPECT_EQ(shortcuts.Bind({{"start", "F9"}, {"stop", "F10"}}, error, {}, 5s),
              (c.Bound == std::vector<bool>{true, true}));
    EXPECT_EQ(error, c.Error);
    EXPECT_EQ(shortcuts.IsBound("start"), c.Bound[0]);
    EXPECT_EQ(shortcuts.IsBound("stop"), c.Bound[1]);
    EXPECT_EQ(portal.LastBound(), (Shortcuts{{"start", "F9"}, {"stop", "F10"}}));
    EXPECT_EQ(portal.Portal().Count("GlobalShortcuts.BindShortcuts"), 1);
    const auto log = portal.Portal().Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log.begin()->second.front(), "Registry.Register");
    EXPECT_EQ(portal.Portal().AppOf(log.begin()->first), c.Portal.KnowsApp ? AppId() : "");
    EXPECT_EQ(shortcuts.RegistryError().empty(), c.Portal.KnowsApp);
    // A binding without keys does not leave its session open.
    EXPECT_EQ(portal.Portal().OpenSessions(), shortcuts.Bound() ? 1 : 0);
  }
}

TEST(GlobalShortcuts, UnansweredBindEndsAtItsTimeout) {
  FakeShortcutPortal portal({.AnswerBind = false});
  GlobalShortcuts shortcuts;
  std::string error;
  int idles = 0;
  const auto begin = Clock::now();
  EXPECT_FALSE(shortcuts.Bind(
      {{"start", "F9"}}, error, [&] { ++idles; }, 300ms));
  EXPECT_LT(Clock::now() - begin, 2s);
  EXPECT_GT(idles, 0);
  EXPECT_EQ(error, "the portal did not answer BindShortcuts in time");
  EXPECT_FALSE(shortcuts.Bound());
}

// Each binding has a session of its own (GNOME binds a session once), under the same handle on
// every run: KDE keeps a program's keys by its handle token where it has no app id, and a press
// goes to the session holding the key, on the next run too.
TEST(GlobalShortcuts, EveryBindingAndEveryRunUseTheSameSessionHandle) {
  using Options = FakeShortcutPortal::Options;
  for (const Options& options : {Options{.Kind = Desktop::Gnome}, Options{.Kind = Desktop::Kde},
                                 Options{.Kind = Desktop::Kde, .KnowsApp = false}}) {
    SCOPED_TRACE(std::string(options.Kind == Desktop::Gnome ? "GNOME" : "KDE") +
                 (options.KnowsApp ? "" : " without an app id"));
    FakeShortcutPortal portal(options);
    std::vector<std::string> handles;
    for (int run = 0; run < 2; ++run) {
      GlobalShortcuts shortcuts;
      std::vector<std::string> pressed;
      shortcuts.SetActivated([&](const std::string& id) { pressed.push_back(id); });
      for (int binding = 0; binding < 2; ++binding) {
        std::string error;
        EXPECT_TRUE(shortcuts.Bind({{"start", "F9"}, {"stop", "F10"}}, error, {}, 5s)) << error;
        const std::string session = portal.Session();
        handles.push_back(session.substr(session.rfind('/') + 1));
        EXPECT_EQ(portal.Portal().OpenSessions(), 1);
        portal.Press("F9");
        const auto deadline = Clock::now() + 2s;
        while (pressed.size() <= size_t(binding) && Clock::now() < deadline)
          shortcuts.Dispatch();
        EXPECT_EQ(pressed, std::vector<std::string>(binding + 1, "start")) << "run " << run;
      }
    }
    EXPECT_EQ(handles, std::vector<std::string>(4, GlobalShortcuts::kSessionToken));
    EXPECT_EQ(portal.Portal().Count("Session.Close"), 4);
  }
}

TEST(WaylandDesktopHotKeys, EachKeyIsGlobalOnlyWhereTheDesktopGaveIt) {
  using Options = FakeShortcutPortal::Options;
  struct Case {
    const char* Name;
    Options Portal;
    std::vector<bool> Registered;  // F9, F10
  };
  const Case cases[] = {
      {"no global shortcuts", {.Interface = false}, {false, false}},
      {"refused", {.BindResponse = 2}, {false, false}},
      {"GNOME", {.Kind = Desktop::Gnome}, {true, true}},
      {"GNOME without an app id", {.Kind = Desktop::Gnome, .KnowsApp = false}, {false, false}},
      {"F9 listed without a key", {.NoKeyFor = "start"}, {false, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeShortcutPortal portal(c.Portal);
    WaylandDesktop desktop;
    EXPECT_EQ(desktop.RegisterHotKeys({{"start", Key::F9}, {"stop", Key::F10}}), c.Registered);
    EXPECT_EQ(desktop.HotKeysAreGlobal(), c.Registered[0] || c.Registered[1]);
    EXPECT_EQ(portal.Portal().Count("GlobalShortcuts.BindShortcuts"), c.Portal.Interface ? 1 : 0);
  }
}

TEST(WaylandDesktopHotKeys, ActivationsWakeTheLoopWithTheirKey) {
  FakeShortcutPortal portal;
  WaylandDesktop desktop;
  SleepingLoop loop;
  desktop.JoinEventLoop(loop);
  ASSERT_GE(loop.Watches(), 1u);
  std::vector<Key> keys;
  desktop.SetHotKeyHandler([&](Key key) { keys.push_back(key); });
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
  ASSERT_EQ(desktop.RegisterHotKeys({{"start", Key::F9}, {"stop", Key::F10}}),
            (std::vector<bool>{true, true}));
  EXPECT_TRUE(desktop.HotKeysAreGlobal());
  EXPECT_EQ(portal.LastBound(), (Shortcuts{{"start", "F9"}, {"stop", "F10"}}));
  const std::string session = portal.Session();
  ASSERT_FALSE(session.empty());

  // Runs the loop until `count` keys arrived or a second passed.
  const auto await = [&](size_t count) {
    const auto deadline = Clock::now() + 1s;
    while (keys.size() < count && Clock::now() < deadline)
      loop.SleepOnce(50ms);
  };
  // Signals arrive in order: once the last is in, the ones before it were seen and ignored.
  portal.Activate("/org/freedesktop/portal/desktop/session/other/s1", "stop");
  portal.Activate(session, "pause");
  portal.Activate(session, "stop");
  await(1);
  EXPECT_EQ(keys, std::vector<Key>{Key::F10});
  portal.Activate(session, "start");
  await(2);
  EXPECT_EQ(keys, (std::vector<Key>{Key::F10, Key::F9}));

  // The portal cannot unbind one key: the session lasts until neither is registered.
  desktop.UnregisterHotKey("start");
  EXPECT_EQ(portal.Portal().Count("Session.Close"), 0);
  portal.Activate(session, "start");
  portal.Activate(session, "stop");
  await(3);
  EXPECT_EQ(keys, (std::vector<Key>{Key::F10, Key::F9, Key::F10}));
  desktop.UnregisterHotKey("stop");
  EXPECT_EQ(portal.Portal().Count("Session.Close"), 1);
  EXPECT_FALSE(desktop.HotKeysAreGlobal());
  desktop.LeaveEventLoop();
}

}  // namespace
}  // namespace ostrane::platform::wayland
