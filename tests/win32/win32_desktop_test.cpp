// What only the Windows backend does, in a real desktop session: the rows GDI hands back, its
// objects, real hot keys and a real shell request (what every backend does is in
// win32_conformance_test.cpp). Under Wine, keys are typed on the X server with xdotool and the
// web browser is a stand-in script that records what it is given.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "platform/Backends.h"
#include "platform/PixelRows.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/support/Pattern.h"
#include "tests/win32/TestWindow.h"

namespace ostrane {
namespace {

using platform::win32::Win32Desktop;
using testkit::Pattern;
using testkit::PumpFor;
using testkit::PumpUntil;
using testkit::Win32TestWindow;

uint32_t RgbAt(const uint8_t* bits, int32_t lineBytes, int32_t height, int x, int y) {
  const uint8_t* p = platform::PixelFromTop(bits, height, lineBytes, x, y);
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Waits until the screen shows `pixels` at (x, y): windows reach the screen asynchronously.
bool WaitShown(Win32Desktop& desktop, int x, int y, int w, int h,
               const std::vector<uint32_t>& pixels) {
  const int32_t lineBytes = (w * 3 + 3) & ~3;
  std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * h);
  return PumpUntil(
      [&] {
        if (desktop.Capture(x, y, w, h, bits.data(), lineBytes) != platform::CaptureResult::Ok)
          return false;
        for (int r = 0; r < h; ++r)
          for (int c = 0; c < w; ++c)
            if (RgbAt(bits.data(), lineBytes, h, c, r) != pixels[static_cast<size_t>(r) * w + c])
              return false;
        return true;
      },
      5000);
}

// Wine runs programs of the host system through this ntdll export; absent on Windows itself.
using UnixSpawn = long(__cdecl*)(char* const argv[], int wait);

UnixSpawn HostSpawn() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  // Through a generic pointer: FARPROC is not meant to be cast to the real type directly.
  const auto address = reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_spawnvp"));
  return reinterpret_cast<UnixSpawn>(address);
}

// Types `keys` (xdotool key names) into the X window behind `window`. False when that is not
// possible here.
bool TypeKeys(const Win32TestWindow& window, const std::vector<std::string>& keys) {
  const UnixSpawn spawn = HostSpawn();
  const auto xid =
      reinterpret_cast<uintptr_t>(GetPropA(window.Handle(), "__wine_x11_whole_window"));
  if (!spawn || !xid) return false;
  std::vector<std::string> args = {"xdotool", "key", "--window", std::to_string(xid)};
  args.insert(args.end(), keys.begin(), keys.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return spawn(argv.data(), 1) == 0;
}

class Win32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_.emplace(desktop_);
    InitScreenMetrics();
  }

  Win32Desktop desktop_;
  std::optional<platform::ScopedActiveDesktop> scope_;
};

// The loader's only choice in this build, and the same screen as the backend made directly.
TEST_F(Win32Test, TheLoaderChoosesThisBackendOnTheSameScreen) {
  std::string error;
  const platform::OpenedDesktop opened = platform::LoadDesktop(error);
  ASSERT_TRUE(opened.Desktop) << error;
  EXPECT_STREQ(opened.Backend->Name, "win32");
  EXPECT_EQ(opened.Desktop->GetScreenSize().Width, desktop_.GetScreenSize().Width);
}

TEST_F(Win32Test, RowsOfAnotherLengthThanTheBitmapsNeverOverrunTheBuffer) {
  const int w = 10, h = 6;
  const auto pixels = Pattern(w, h, 11);
  Win32TestWindow window(650, 120, w, h, pixels);
  ASSERT_TRUE(window.Ok());
  ASSERT_TRUE(WaitShown(desktop_, 650, 120, w, h, pixels));

  const int32_t lineBytes = 40;  // the bitmap's own rows are 32 bytes
  std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * h, 0xEE);
  ASSERT_EQ(desktop_.Capture(650, 120, w, h, bits.data(), lineBytes), platform::CaptureResult::Ok);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(RgbAt(bits.data(), lineBytes, h, x, y), pixels[static_cast<size_t>(y) * w + x]);
    for (int i = 32; i < lineBytes; ++i)
      EXPECT_EQ(bits[static_cast<size_t>(y) * lineBytes + i], 0xEE);
  }

  // Rows just long enough for the pixels, shorter than the bitmap's: nothing is written past
  // the buffer's end.
  const int32_t tight = 3 * w;
  std::vector<uint8_t> exact(static_cast<size_t>(tight) * h + 8, 0xEE);
  ASSERT_EQ(desktop_.Capture(650, 120, w, h, exact.data(), tight), platform::CaptureResult::Ok);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(RgbAt(exact.data(), tight, h, x, y), pixels[static_cast<size_t>(y) * w + x]);
  EXPECT_EQ(std::vector<uint8_t>(exact.end() - 8, exact.end()), std::vector<uint8_t>(8, 0xEE));

  std::vector<uint8_t> tooShort(29 * h, 0xEE);
  EXPECT_EQ(desktop_.Capture(650, 120, w, h, tooShort.data(), 29),
            platform::CaptureResult::ReadFailed);
  EXPECT_EQ(tooShort, std::vector<uint8_t>(29 * h, 0xEE));
}

TEST_F(Win32Test, CapturesReleaseEveryObjectOnEveryPath) {
  const DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (before == 0) GTEST_SKIP() << "this system does not count GDI objects (Wine)";
  std::vector<uint8_t> bits(64 * 16);
  platform::Frame frame;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(desktop_.Capture(10, 10, 20, 16, bits.data(), 60), platform::CaptureResult::Ok);
    ASSERT_EQ(desktop_.Capture(10, 10, 20, 16, bits.data(), 64), platform::CaptureResult::Ok);
    ASSERT_EQ(desktop_.Capture(10, 10, 20, 16, bits.data(), 59),
              platform::CaptureResult::ReadFailed);
    if (i % 50 == 0) {
      ASSERT_TRUE(desktop_.CaptureFrame(frame));
    }
  }
  EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), before + 2);
}

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
  EXPECT_EQ(platform::win32::VirtualKeyOf(Key::NoKey), 0);
  EXPECT_EQ(platform::win32::KeyOfVirtualKey(0x79), Key::F10);
  for (const int32_t code : {0, 0x41, 0x6F, 0x88, -1})
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

// Reads what the stand-in browser recorded (one argument per line).
std::vector<std::string> RecordedLines(const std::string& unixLog) {
  std::ifstream in("Z:" + unixLog);  // Wine maps the host's root to drive Z:
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

bool SetUserString(const char* key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG status =
      RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

TEST(ShellOpen, WebAndMailAddressesReachTheDesktopsHandler) {
  const char* browser = std::getenv("OSTRANE_STANDIN_BROWSER");  // a host path
  if (!browser || !HostSpawn()) GTEST_SKIP() << "needs Wine and the stand-in browser";
  const std::string log = std::string(browser) + ".log";
  std::remove(("Z:" + log).c_str());
  ASSERT_TRUE(SetUserString("Software\\Wine\\WineBrowser", "Browsers", browser));
  ASSERT_TRUE(SetUserString("Software\\Wine\\WineBrowser", "Mailers", browser));

  Win32TestWindow owner(900, 300, 20, 20, {});
  ASSERT_TRUE(owner.Ok());
  Win32Desktop desktop;
  desktop.SetOwnerWindow(owner.Native());
  const std::string page = "https://ostrane.example.org/help?from=about&v=1.4";
  const std::string mail = "mailto:support@ostrane.example.org";
  EXPECT_TRUE(desktop.ShellOpen(page));
  ASSERT_TRUE(PumpUntil([&] { return RecordedLines(log).size() >= 1; }, 20000))
      << "the stand-in browser was not started";
  EXPECT_TRUE(desktop.ShellOpen(mail));
  ASSERT_TRUE(PumpUntil([&] { return RecordedLines(log).size() >= 2; }, 20000));
  EXPECT_EQ(RecordedLines(log), (std::vector<std::string>{page, mail}));

  // Nothing to open, or a target cut short by a NUL, is refused before the shell is asked.
  EXPECT_FALSE(desktop.ShellOpen(""));
  EXPECT_FALSE(desktop.ShellOpen(std::string("https://a.example\0.b", 19)));
}

}  // namespace
}  // namespace ostrane
