// What only the Windows backend does, in a real desktop session: the rows GDI hands back, its
// objects and a real shell request (what every backend does is in win32_conformance_test.cpp,
// the hot keys in win32_hotkeys_test.cpp). Under Wine, the web browser is a stand-in script that
// records what it is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "ostrane/Version.h"
#include "platform/Backends.h"
#include "platform/PixelRows.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/support/Pattern.h"
#include "tests/win32/TestWindow.h"

namespace ostrane {
namespace {

using platform::win32::Win32Desktop;
using testkit::HostSpawn;
using testkit::Pattern;
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
    for (int i = 3 * w; i < lineBytes; ++i)  // the padding reads black, as on every backend
      EXPECT_EQ(bits[static_cast<size_t>(y) * lineBytes + i], 0);
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
  const std::string page = OSTRANE_HOME_PAGE "help?from=about&v=" OSTRANE_VERSION;
  const std::string mail = "mailto:" OSTRANE_SUPPORT_MAIL;
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