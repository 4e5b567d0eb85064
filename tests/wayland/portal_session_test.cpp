// PortalSession against a fake portal on a private bus. Where there is nothing to talk to (no
// session bus, a bus without the portal, portals that lack an interface or the device or source
// it needs) a start ends in NoPortal with the missing piece named, at once. Where the portal can
// keep the user's consent, its token is kept for the user alone, offered at the next start,
// replaced and dropped as the portal answers.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/wayland/PortalSession.h"
#include "tests/wayland/PortalTestBus.h"

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;
using testbus::FakePortal;

// The portal's remote desktop and screen cast, answering a session's start as a desktop does.
class FakeRemotePortal {
 public:
  struct Options {
    bool RemoteDesktop = true;
    guint32 Devices = 7;
    guint32 Version = 2;  // RemoteDesktop keeps consent from version 2 on
    bool ScreenCast = true;
    guint32 Sources = 1;
    guint32 CursorModes = 7;
    guint32 CreateResponse = 0;  // KDE without a graphics device answers 2 at once
    guint32 StartResponse = 0;
    const char* Token = "token-1";  // what Start returns when persistence was asked for
    bool RefusesTokens = false;     // SelectDevices fails when given one, as GNOME does for
                                    // anything but the UUIDs it made
  };

  FakeRemotePortal(const std::string& address, Options options) : options_(options) {
    std::string xml;
    if (options_.RemoteDesktop) {
      xml += testbus::Interface(
          "org.freedesktop.portal.RemoteDesktop",
          {"CreateSession a{sv} -> o", "SelectDevices o a{sv} -> o", "Start o s a{sv} -> o",
           "NotifyPointerMotion o a{sv} d d", "NotifyPointerMotionAbsolute o a{sv} u d d"},
          {"AvailableDeviceTypes", "version"});
    }
    if (options_.ScreenCast) {
      xml += testbus::Interface("org.freedesktop.portal.ScreenCast",
                                {"SelectSources o a{sv} -> o", "OpenPipeWireRemote o a{sv} -> h"},
                                {"AvailableSourceTypes", "AvailableCursorModes", "version"});
    }
    portal_ = std::make_unique<FakePortal>(
        address, xml, [this](FakePortal&, FakePortal::Call& call) { Handle(call); },
        [this](const std::string& iface, const std::string& name) {
          if (name == "AvailableDeviceTypes") return g_variant_new_uint32(options_.Devices);
          if (name == "AvailableSourceTypes") return g_variant_new_uint32(options_.Sources);
          if (name == "AvailableCursorModes") return g_variant_new_uint32(options_.CursorModes);
          return g_variant_new_uint32(
              iface.find("RemoteDesktop") != std::string::npos ? options_.Version : 4);
        });
  }

  // An option as the portal got it: SelectDevices' or SelectSources'.
  std::string Got(const std::string& key) {
    std::lock_guard lock(mutex_);
    return got_[key];
  }

 private:
  void Handle(FakePortal::Call& call) {
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    std::lock_guard lock(mutex_);
    if (call.Method == "CreateSession") {
      const std::string path = portal_->OpenSession(call);
      g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(path.c_str()));
      if (options_.CreateResponse != 0) {
        FakePortal::Respond(call, options_.CreateResponse, g_variant_builder_end(&results));
        return;
      }
    } else if (call.Method == "SelectDevices") {
      const std::string token = FakePortal::Option(call.Parameters, "restore_token");
      // What the first SelectDevices got is kept; a start may try again.
      if (!got_.count("persist_mode")) {
        got_["persist_mode"] = FakePortal::Option(call.Parameters, "persist_mode");
        got_["restore_token"] = token;
      }
      if (options_.RefusesTokens && !token.empty()) {
        g_variant_builder_clear(&results);
        g_dbus_method_invocation_return_dbus_error(call.Invocation,
                                                   "org.freedesktop.portal.Error.InvalidArgument",
                                                   "Restore token is not a valid UUID string");
        return;
      }
    } else if (call.Method == "SelectSources") {
      got_["cursor_mode"] = FakePortal::Option(call.Parameters, "cursor_mode");
    } else if (call.Method == "Start") {
      if (options_.StartResponse != 0) {
        g_variant_builder_clear(&results);
        FakePortal::Respond(call, options_.StartResponse, nullptr);
        return;
      }
      g_variant_builder_add(&results, "{sv}", "devices", g_variant_new_uint32(2));
      g_variant_builder_add_parsed(&results,
                                   "{'streams', <[(uint32 42, {'size': <(1920, 1080)>})]>}");
      if (got_["persist_mode"] == "2" && options_.Token) {
        g_variant_builder_add(&results, "{sv}", "restore_token",
                              g_variant_new_string(options_.Token));
      }
    } else if (call.Method == "OpenPipeWireRemote") {
      g_variant_builder_clear(&results);
      GUnixFDList* fds = g_unix_fd_list_new();
      const int index = g_unix_fd_list_append(fds, STDIN_FILENO, nullptr);
      g_dbus_method_invocation_return_value_with_unix_fd_list(call.Invocation,
                                                              g_variant_new("(h)", index), fds);
      g_object_unref(fds);
      return;
    } else {
      g_variant_builder_clear(&results);
      g_dbus_method_invocation_return_value(call.Invocation, nullptr);
      return;
    }
    FakePortal::Respond(call, 0, g_variant_builder_end(&results));
  }

  Options options_;
  std::mutex mutex_;
  std::map<std::string, std::string> got_;
  std::unique_ptr<FakePortal> portal_;
};

TEST(PortalSession, UnusableBeforeStart) {
  PortalSession session;
  EXPECT_FALSE(session.Active());
  std::string error;
  EXPECT_FALSE(session.MovePointer(1, 1, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(session.Button(true, nullptr));
  error.clear();
  EXPECT_EQ(session.OpenPipeWireRemote(error), -1);
  EXPECT_FALSE(error.empty());
  session.Close();
  session.Close();
}

TEST(PortalSession, NamesWhatIsMissing) {
  {
    SCOPED_TRACE("no bus");
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string restore = saved ? saved : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ostrane-bus", 1);
    PortalSession session;
    std::string error;
    EXPECT_EQ(session.Start(error, {}, 5s), StartResult::NoPortal);
    EXPECT_NE(error.find("no D-Bus session bus"), std::string::npos) << error;
    if (saved) {
      setenv("DBUS_SESSION_BUS_ADDRESS", restore.c_str(), 1);
    } else {
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
  }

  testbus::ScopedBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  {
    SCOPED_TRACE("a bus without the portal");
    PortalSession session;
    std::string error;
    EXPECT_EQ(session.Start(error, {}, 5s), StartResult::NoPortal);
    EXPECT_NE(error.find("org.freedesktop.portal.Desktop"), std::string::npos) << error;
  }

  struct Case {
    const char* Name;
    FakeRemotePortal::Options Portal;
    const char* Named;
  };
  const Case cases[] = {
      {"no RemoteDesktop", {.RemoteDesktop = false}, "has no org.freedesktop.portal.RemoteDesktop"},
      {"keyboard only", {.Devices = 1}, "cannot share a pointer"},
      {"no ScreenCast", {.ScreenCast = false}, "has no org.freedesktop.portal.ScreenCast"},
      {"windows only", {.Sources = 2}, "cannot share a monitor"},
      {"a session refused before anyone is asked", {.CreateResponse = 2},
       "refused CreateSession (response 2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeRemotePortal portal(bus.Address(), c.Portal);
    PortalSession session;
    std::string error;
    int idles = 0;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(session.Start(
                  error, [&] { ++idles; }, 30s),
              StartResult::NoPortal);
    EXPECT_NE(error.find(c.Named), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_FALSE(session.Active());
  }
}

std::string Kept(const std::string& dir) {
  std::ifstream file(dir + "/restore-token");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs one after the other, as the program's starts would, on one state folder.
TEST(PortalSession, TheConsentIsKeptOfferedReplacedAndDropped) {
  testbus::ScopedBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  char pattern[] = "/tmp/ostrane-state.XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern));
  const std::string root = pattern;
  std::ofstream(root + "/file") << "not a folder";
  const std::string dir = root + "/state/ostrane";  // made by the first save

  using Options = FakeRemotePortal::Options;
  struct Step {
    const char* Name;
    Options Portal;
    StartResult Want;
    const char* Planted;  // the file's text before the start; null leaves it
    const char* Offered;  // the restore_token the portal got
    const char* Persist;  // the persist_mode it got
    const char* Cursor;   // the cursor_mode it got
    const char* Left;     // the file's text after the start
  };
  // clang-format off
  const Step steps[] = {
      {"first run: persistence asked for, the token kept", {}, StartResult::Started,
       nullptr, "", "2", "4", "token-1\n"},
      {"next run: offered, replaced", {.Token = "token-2"}, StartResult::Started,
       nullptr, "token-1", "2", "4", "token-2\n"},
      {"none given back: dropped", {.Token = nullptr}, StartResult::Started,
       nullptr, "token-2", "2", "4", ""},
      {"the user says no: dropped", {.StartResponse = 1}, StartResult::Refused,
       "token-3\n", "token-3", "2", "4", ""},
      {"not a token in the file: not offered", {.Token = "token-4"}, StartResult::Started,
       "two words\n", "", "2", "4", "token-4\n"},
      {"a portal that keeps nothing is not asked to", {.Version = 1, .CursorModes = 3},
       StartResult::Started, nullptr, "", "", "1", "token-4\n"},
      {"a portal without cursor modes gets none", {.CursorModes = 0, .Token = "token-5"},
       StartResult::Started, nullptr, "token-4", "2", "", "token-5\n"},
      {"a token the portal does not take: asked afresh",
       {.Token = "token-6", .RefusesTokens = true}, StartResult::Started,
       nullptr, "token-5", "2", "4", "token-6\n"},
  };
  // clang-format on
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Name);
    if (step.Planted) std::ofstream(dir + "/restore-token") << step.Planted;
    FakeRemotePortal portal(bus.Address(), step.Portal);
    PortalSession session(dir);
    std::string error;
    ASSERT_EQ(session.Start(error, {}, 5s), step.Want) << error;
    EXPECT_EQ(portal.Got("restore_token"), step.Offered);
    EXPECT_EQ(portal.Got("persist_mode"), step.Persist);
    EXPECT_EQ(portal.Got("cursor_mode"), step.Cursor);
    EXPECT_EQ(session.CursorMetadata(), step.Want == StartResult::Started && *step.Cursor == '4');
    EXPECT_EQ(Kept(dir), step.Left);
    if (*step.Left) {
      struct stat folder {
      }, file{};
      ASSERT_EQ(stat(dir.c_str(), &folder), 0);
      ASSERT_EQ(stat((dir + "/restore-token").c_str(), &file), 0);
      EXPECT_EQ(folder.st_mode & 0777, 0700u);
      EXPECT_EQ(file.st_mode & 0777, 0600u);
    }
    // Nothing is left beside the token.
    EXPECT_LE(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    if (step.Want != StartResult::Started) continue;
    const int fd = session.OpenPipeWireRemote(error);
    EXPECT_GE(fd, 0) << error;
    if (fd >= 0) close(fd);
    EXPECT_TRUE(session.MovePointer(10, 10, &error)) << error;
  }

  {
    SCOPED_TRACE("a state folder that cannot be made is not fatal");
    FakeRemotePortal portal(bus.Address(), {});
    PortalSession session(root + "/file/ostrane");
    std::string error;
    EXPECT_EQ(session.Start(error, {}, 5s), StartResult::Started) << error;
    EXPECT_TRUE(session.Active());
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace ostrane::platform::wayland
