// Hot keys of the Windows backend in a real desktop session: the messages, the keys typed on the
// X server with xdotool under Wine, the atoms that name them, and a key held by another program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/Win32Desktop.h"
#include "tests/win32/TestWindow.h"

namespace ostrane {
namespace {

using platform::win32::Win32Desktop;
using testkit::HostSpawn;
using testkit::PumpFor;
using testkit::PumpUntil;
using testkit::TypeKeys;
using testkit::Win32TestWindow;

// This test program run again as a second program that holds F9 on a window of its own, from
// when it signals the event "OstraneHeldF9-ID" until the event "OstraneReleaseF9-ID" is set:
//   win32_tests --hold-f9 ID
// It does so before any test runs, and exits with 0 when it held the key and let it go.
std::string EventName(const char* what, const std::string& id) {
  return std::string("Ostrane") + what + "F9-" + id;
}

[[maybe_unused]] const bool kRunAsHolder = [] {
  const char* flag = std::strstr(GetCommandLineA(), " --hold-f9 ");
  if (!flag) return false;
  const std::string id = flag + std::strlen(" --hold-f9 ");
  const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName("Held", id).c_str());
  const HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, EventName("Release", id).c_str());
  UINT status = 2;
  if (held && release) {
    Win32TestWindow window(1100, 400, 10, 10, {}, "ostrane hot key holder");
    Win32Desktop desktop;
    desktop.SetOwnerWindow(window.Native());
    status = 3;
    if (window.Ok() && desktop.RegisterHotKey("OstraneHolder", platform::Key::F9)) {
      SetEvent(held);
      status = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 4;
    }
  }
  ExitProcess(status);
}();

TEST(HotKeyMessage, TheVirtualKeyIsTheHighWordOfLParam) {
  int32_t key = -1;
  EXPECT_TRUE(platform::win32::DecodeHotKeyMessage(WM_HOTKEY, MAKELPARAM(0, 0x78), key));
  EXPECT_EQ(key, 120);
  EXPECT_TRUE(platform::win32::DecodeHotKeyMessage(WM_HOTKEY, MAKELPARAM(MOD_SHIFT, 0x79), key));
  EXPECT_EQ(key, 121);
  key = -1;
  EXPECT_FALSE(platform::win32::DecodeHotKeyMessage(WM_KEYDOWN, MAKELPARAM(0, 0x78), key));
  EXPECT_EQ(key, -1);
  // The keys the program names, and codes that name none of them.
  using platform::Key;
  EXPECT_EQ(platform::win32::VirtualKeyOf(Key::F9), 0x78);
  EXPECT_EQ(platform::win32::VirtualKeyOf(Key::F24), 0x87);
  EXPECT_EQ(platform::win32::KeyOfVirtualKey(0x79), Key::F10);
  for (const int32_t value : {0, 25, -1, 0x10078})
    EXPECT_EQ(platform::win32::VirtualKeyOf(static_cast<Key>(value)), 0) << value;
  for (const int32_t code : {0, 0x41, 0x6F, 0x88, -1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(platform::win32::KeyOfVirtualKey(code), Key::NoKey) << code;
}

// Hot keys, as the main window's native event filter would see them.
class HotKeyTest : public ::testing::Test {
 protected:
  struct Owner {
    Win32TestWindow window;
    Win32Desktop desktop;  // released before its window
    std::vector<platform::Key> keys;
    explicit Owner(const std::string& title)
        : window(900, 60, 40, 30, std::vector<uint32_t>(40 * 30, 0x336699), title) {
      desktop.SetOwnerWindow(window.Native());
      desktop.SetHotKeyHandler([this](platform::Key key) { keys.push_back(key); });
    }
  };

  // Handles messages, offering each to both desktops, until `done` or five seconds.
  bool Pump(const std::function<bool()>& done) {
    return PumpUntil(done, 5000, [this](const MSG& msg) {
      return first_.desktop.HandleNativeMessage(&msg) || second_.desktop.HandleNativeMessage(&msg);
    });
  }

  void SetUp() override {
    ASSERT_TRUE(first_.window.Ok() && second_.window.Ok());
    PumpFor(300);
    if (!HostSpawn()) GTEST_SKIP() << "keys are typed with xdotool, which needs Wine";
  }

  Owner first_{"ostrane hot keys 1"};
  Owner second_{"ostrane hot keys 2"};
};

TEST_F(HotKeyTest, F9AndF10ArriveAsTheirVirtualKeysAndModifiedKeysDoNot) {
  const uint16_t start = first_.desktop.AddGlobalAtom("OstraneStart");
  const uint16_t stop = first_.desktop.AddGlobalAtom("OstraneStop");
  EXPECT_GE(start, 0xC000);
  EXPECT_NE(start, stop);
  EXPECT_EQ(first_.desktop.AddGlobalAtom("OstraneStart"), start);
  ASSERT_TRUE(first_.desktop.RegisterHotKey("OstraneStart", platform::Key::F9));
  ASSERT_TRUE(first_.desktop.RegisterHotKey("OstraneStop", platform::Key::F10));

  ASSERT_TRUE(TypeKeys(first_.window, {"shift+F9", "ctrl+F10", "F9", "F10"}));
  EXPECT_TRUE(Pump([&] { return first_.keys.size() >= 2; }));
  EXPECT_EQ(first_.keys, (std::vector<platform::Key>{platform::Key::F9, platform::Key::F10}));

  first_.desktop.UnregisterHotKey("OstraneStart");
  first_.desktop.UnregisterHotKey("OstraneStop");
  for (const uint16_t atom : {start, start, stop})  // the references taken above
    GlobalDeleteAtom(atom);
}

TEST_F(HotKeyTest, ASecondRegistrationOfTheKeyIsRefusedAndHarmsNothing) {
  const std::string first = "OstraneStart", second = "OstraneSecond";
  ASSERT_TRUE(first_.desktop.RegisterHotKey(first, platform::Key::F9));
  EXPECT_FALSE(second_.desktop.RegisterHotKey(second, platform::Key::F9));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));
  second_.desktop.UnregisterHotKey(second);  // releasing what was refused takes nothing away

  ASSERT_TRUE(TypeKeys(first_.window, {"F9"}));
  EXPECT_TRUE(Pump([&] { return !first_.keys.empty(); }));
  EXPECT_EQ(first_.keys, std::vector<platform::Key>{platform::Key::F9});
  EXPECT_TRUE(second_.keys.empty());

  // Once released, the key is free for the other window, which now gets it alone.
  first_.desktop.UnregisterHotKey(first);
  ASSERT_TRUE(second_.desktop.RegisterHotKey(second, platform::Key::F9));
  ASSERT_TRUE(TypeKeys(second_.window, {"F9"}));
  EXPECT_TRUE(Pump([&] { return !second_.keys.empty(); }));
  EXPECT_EQ(second_.keys, std::vector<platform::Key>{platform::Key::F9});
  EXPECT_EQ(first_.keys.size(), 1u);
  second_.desktop.UnregisterHotKey(second);
}

TEST_F(HotKeyTest, KeysAreReleasedWhenTheOwnerChangesAndWithTheDesktop) {
  const std::string id = "OstraneStart";
  {
    Win32Desktop other;
    other.SetOwnerWindow(first_.window.Native());
    ASSERT_TRUE(other.RegisterHotKey(id, platform::Key::F9));
    EXPECT_FALSE(second_.desktop.RegisterHotKey(id, platform::Key::F9));
  }
  ASSERT_TRUE(second_.desktop.RegisterHotKey(id, platform::Key::F9));

  // Moving to another window lets go of what the old one held.
  second_.desktop.SetOwnerWindow(first_.window.Native());
  ASSERT_TRUE(first_.desktop.RegisterHotKey(id, platform::Key::F9));
  ASSERT_TRUE(TypeKeys(first_.window, {"F9"}));
  EXPECT_TRUE(Pump([&] { return !first_.keys.empty(); }));
  EXPECT_EQ(first_.keys, std::vector<platform::Key>{platform::Key::F9});
  first_.desktop.UnregisterHotKey(id);
}

// The session's atom table outlives the program: every reference a registration takes is given
// back, whether the key is released, replaced, refused or names no key.
TEST(HotKeyAtoms, EveryRegistrationGivesItsAtomBack) {
  Win32TestWindow owner(900, 200, 20, 20, {}), other(950, 200, 20, 20, {});
  ASSERT_TRUE(owner.Ok() && other.Ok());
  const char* name = "OstraneAtomCheck";
  const char* held = "OstraneAtomHolder";
  ASSERT_EQ(GlobalFindAtomA(name), 0) << "an earlier run left the atom behind";
  {
    Win32Desktop holder;
    holder.SetOwnerWindow(other.Native());
    ASSERT_TRUE(holder.RegisterHotKey(held, platform::Key::F11));

    Win32Desktop desktop;
    desktop.SetOwnerWindow(owner.Native());
    using platform::Key;
    struct Case {
      const char* What;
      std::function<void()> Act;
    };
    const Case cases[] = {
        {"registered and released",
         [&] {
           ASSERT_TRUE(desktop.RegisterHotKey(name, Key::F9));
           EXPECT_NE(GlobalFindAtomA(name), 0);
           desktop.UnregisterHotKey(name);
         }},
        {"replaced by another key, then released",
         [&] {
           ASSERT_TRUE(desktop.RegisterHotKey(name, Key::F9));
           ASSERT_TRUE(desktop.RegisterHotKey(name, Key::F8));
           desktop.UnregisterHotKey(name);
         }},
        {"refused: another window holds the key",
         [&] {
           EXPECT_FALSE(desktop.RegisterHotKey(name, Key::F11));
           EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));
         }},
        {"refused: no such key", [&] { EXPECT_FALSE(desktop.RegisterHotKey(name, Key::NoKey)); }},
        {"released by a change of owner",
         [&] {
           ASSERT_TRUE(desktop.RegisterHotKey(name, Key::F9));
           desktop.SetOwnerWindow(other.Native());
           desktop.SetOwnerWindow(owner.Native());
         }},
    };
    for (int round = 0; round < 2; ++round) {
      for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        c.Act();
        EXPECT_EQ(GlobalFindAtomA(name), 0);
      }
    }
    ASSERT_TRUE(desktop.RegisterHotKey(name, Key::F9));
  }
  EXPECT_EQ(GlobalFindAtomA(name), 0) << "released with the desktop";
  EXPECT_EQ(GlobalFindAtomA(held), 0) << "released with the desktop";
}

// A key that another program holds is refused, with the answers the main window reads to tell
// the user, and taken once that program has let it go.
TEST(HotKeyHeldElsewhere, TheKeyIsRefusedUntilTheOtherProgramLetsGo) {
  const std::string id = std::to_string(GetCurrentProcessId());
  struct Owned {
    HANDLE handle;
    ~Owned() {
      if (handle) CloseHandle(handle);
    }
  };
  const Owned held{CreateEventA(nullptr, TRUE, FALSE, EventName("Held", id).c_str())};
  const Owned release{CreateEventA(nullptr, TRUE, FALSE, EventName("Release", id).c_str())};
  ASSERT_TRUE(held.handle && release.handle);
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  std::string command = "\"" + std::string(path) + "\" --hold-f9 " + id;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(path, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(process.hThread);
  const Owned child{process.hProcess};
  // However the test ends, the other program lets go of F9 before the next test wants it.
  struct LetGo {
    HANDLE release, child;
    ~LetGo() {
      SetEvent(release);
      WaitForSingleObject(child, 30000);
    }
  } letGo{release.handle, child.handle};

  const HANDLE waits[] = {held.handle, child.handle};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0)
      << "the second program did not take F9";

  Win32TestWindow owner(900, 200, 20, 20, {});
  ASSERT_TRUE(owner.Ok());
  Win32Desktop desktop;
  desktop.SetOwnerWindow(owner.Native());
  EXPECT_FALSE(desktop.RegisterHotKey("OstraneStart", platform::Key::F9));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));
  EXPECT_EQ(desktop.RegisterHotKeys(
                {{"OstraneStart", platform::Key::F9}, {"OstraneStop", platform::Key::F10}}),
            (std::vector<bool>{false, true}));

  SetEvent(release.handle);
  ASSERT_EQ(WaitForSingleObject(child.handle, 30000), WAIT_OBJECT_0);
  DWORD status = 1;
  EXPECT_TRUE(GetExitCodeProcess(child.handle, &status) && status == 0) << status;
  EXPECT_TRUE(desktop.RegisterHotKey("OstraneStart", platform::Key::F9));
}

TEST(HotKeyFilter, OnlyHotKeyMessagesForTheOwnerAreTaken) {
  Win32TestWindow owner(900, 200, 20, 20, {}), other(950, 200, 20, 20, {});
  ASSERT_TRUE(owner.Ok() && other.Ok());
  Win32Desktop desktop;
  desktop.SetOwnerWindow(owner.Native());
  std::vector<platform::Key> keys;
  desktop.SetHotKeyHandler([&](platform::Key key) { keys.push_back(key); });

  // Synthesized messages, as the queue would carry them.
  PostMessageA(other.Handle(), WM_HOTKEY, 1, MAKELPARAM(0, 0x78));
  PostMessageA(owner.Handle(), WM_KEYDOWN, 0x78, 0);
  PostMessageA(owner.Handle(), WM_HOTKEY, 1, MAKELPARAM(0, 0x79));
  int taken = 0;
  PumpUntil([&] { return !keys.empty(); }, 2000,
            [&](const MSG& msg) {
              const bool handled = desktop.HandleNativeMessage(&msg);
              taken += handled;
              return handled;
            });
  EXPECT_EQ(keys, std::vector<platform::Key>{platform::Key::F10});
  EXPECT_EQ(taken, 1);
  EXPECT_FALSE(desktop.HandleNativeMessage(nullptr));
}

}  // namespace
}  // namespace ostrane
