// The desktop's opener for Help and About, against a private Xvfb: the address reaches the
// opener as one untouched argument, in a process that is never left behind as a zombie.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
// clang-format on
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ostrane/Version.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/x11/TestDesktop.h"

namespace ostrane {
namespace {

using platform::x11::X11Desktop;

// The opener is replaced by a script that writes each argument it got, NUL-terminated.
class OpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testkit::OpenTestDesktop(desktop_));
    char dir[] = "/tmp/ostrane-opener-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    dir_ = dir;
    recorder_ = dir_ / "open here";  // a space in the program's own path as well
    std::ofstream script(recorder_);
    script << "#!/bin/sh\n"
              "out=\"$(dirname \"$0\")/args\"\n"
              "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out.part\"\n"
              "printf '%s' \"$DISPLAY\" > \"$(dirname \"$0\")/display\"\n"
              "mv \"$out.part\" \"$out\"\n";
    script.close();
    chmod(recorder_.c_str(), 0755);
  }
  void TearDown() override {
    unsetenv("OSTRANE_OPENER");
    std::filesystem::remove_all(dir_);
  }

  // The arguments the recorder received; empty when it did not run within two seconds.
  std::vector<std::string> Recorded() {
    const auto file = dir_ / "args";
    for (int i = 0; i < 200 && !std::filesystem::exists(file); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> args;
    std::string arg;
    for (const char c : all.str()) {
      if (c) {
        arg += c;
      } else {
        args.push_back(arg);
        arg.clear();
      }
    }
    std::filesystem::remove(file);
    return args;
  }

  // Children of this process that have ended but were never waited for.
  static int Zombies() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      char state = 0;
      long ppid = 0;
      rest >> state >> ppid;
      if (ppid == getpid() && state == 'Z') ++count;
    }
    return count;
  }

  std::unique_ptr<X11Desktop> desktop_;
  std::filesystem::path dir_, recorder_;
};

TEST_F(OpenerTest, TheTargetArrivesAsOneUntouchedArgument) {
  desktop_->SetOpenerCommand({recorder_.string()});
  const std::string marker = (dir_ / "injected").string();
  for (const std::string& target :
       {std::string(OSTRANE_HOME_PAGE), std::string("mailto:" OSTRANE_SUPPORT_MAIL),
        "a b \"c\" 'd'; touch " + marker + " $(touch " + marker + ") `touch " + marker +
            "` | & > < \\ *"}) {
    ASSERT_TRUE(desktop_->ShellOpen(target));
    EXPECT_EQ(Zombies(), 0);
    EXPECT_EQ(Recorded(), std::vector<std::string>{target});
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  std::ifstream display(dir_ / "display");
  std::string name;
  std::getline(display, name);
  EXPECT_EQ(name, DisplayString(desktop_->display()));
}

TEST_F(OpenerTest, TheEnvironmentNamesTheOpenerAndLeadingArgumentsAreKept) {
  setenv("OSTRANE_OPENER", recorder_.c_str(), 1);
  ASSERT_TRUE(desktop_->ShellOpen("mailto:" OSTRANE_SUPPORT_MAIL));
  EXPECT_EQ(Recorded(), std::vector<std::string>{"mailto:" OSTRANE_SUPPORT_MAIL});
  desktop_->SetOpenerCommand({recorder_.string(), "--new-window"});
  ASSERT_TRUE(desktop_->ShellOpen(OSTRANE_HOME_PAGE));
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"--new-window", OSTRANE_HOME_PAGE}));
}

TEST_F(OpenerTest, RequestsThatCannotBeHandedOverSayFalse) {
  for (const char* opener : {"/nonexistent/opener", "ostrane-no-such-opener", ""}) {
    desktop_->SetOpenerCommand({opener});
    EXPECT_FALSE(desktop_->ShellOpen(OSTRANE_HOME_PAGE)) << opener;
  }
  desktop_->SetOpenerCommand({recorder_.string()});
  for (const std::string& target : {std::string(), std::string("--help"), std::string("a\0b", 3)})
    EXPECT_FALSE(desktop_->ShellOpen(target));
  EXPECT_EQ(Zombies(), 0);
}

}  // namespace
}  // namespace ostrane
