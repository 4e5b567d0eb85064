// The real program on a private Xvfb, driven from outside with xdotool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestWindow.h"
#include "tests/support/Xvfb.h"
#include "tests/ui/ProgramDriver.h"

namespace ostrane::ui::testing {
namespace {

using ostrane::testing::ButtonEvent;
using ostrane::testing::TestWindow;

// A picture with no two equal rows or columns.
std::vector<uint32_t> Pattern(int w, int h) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels[static_cast<size_t>(y) * w + x] =
          ((x * 37 + 11) & 255) << 16 | ((y * 53 + 5) & 255) << 8 | ((x * y + 3) & 255);
  return pixels;
}

int Presses(const std::vector<ButtonEvent>& events, int x, int y) {
  int n = 0;
  for (const ButtonEvent& e : events)
    n += e.press && e.button == 1 && e.rootX == x && e.rootY == y;
  return n;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ostrane::testing::XvfbAvailable()); }

  // Clicks into an edit of the main window at its offset in the client area and types `text`.
  static void Type(const ProgramDriver& program, int x, int y, const std::string& text) {
    const Point c = program.ClientOrigin();
    ASSERT_TRUE(Xdotool("mousemove " + std::to_string(c.X + x + 10) + " " +
                        std::to_string(c.Y + y + 10) + " click 1"));
    ASSERT_TRUE(Xdotool("key ctrl+a BackSpace"));
    ASSERT_TRUE(Xdotool("type '" + text + "'"));
  }
  static void ClickAt(const ProgramDriver& program, int x, int y) {
    const Point c = program.ClientOrigin();
    ASSERT_TRUE(Xdotool("mousemove " + std::to_string(c.X + x) + " " + std::to_string(c.Y + y) +
                        " click 1"));
  }
};

TEST(WithoutDisplay, SaysSoOnOneLineAndFails) {
  const std::string command =
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") + OSTRANE_PROGRAM + " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe))
    out += buffer;
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(out.find("no X display"), std::string::npos) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST_F(EndToEnd, TypedScopesAndStartClickTheTargetAndCount) {
  // The target shows a picture; the find scope is a piece of it, the click scope all of it.
  TestWindow target(100, 100, 60, 40, Pattern(60, 40));
  ASSERT_TRUE(target.Ok());
  ProgramDriver program(std::map<std::string, std::string>{{"QT_SCALE_FACTOR", "2"}});
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(Xdotool("windowfocus " + std::to_string(program.WindowId())));

  // Find scope (110, 110)-(130, 124), click scope (100, 100)-(160, 140); left, top, right,
  // bottom at their design places in the two groups.
  Type(program, 8 + 128, 9 + 23, "110");
  Type(program, 8 + 128, 9 + 48, "110");
  Type(program, 8 + 223, 9 + 23, "130");
  Type(program, 8 + 223, 9 + 48, "124");
  Type(program, 8 + 128, 95 + 23, "100");
  Type(program, 8 + 128, 95 + 48, "100");
  Type(program, 8 + 223, 95 + 23, "160");
  Type(program, 8 + 223, 95 + 48, "140");
  Type(program, 8 + 54, 180 + 34, "0");   // seconds
  Type(program, 8 + 101, 180 + 34, "2");  // tenths: 200 ms
  ASSERT_TRUE(program.WaitForStatus("click", "100,100,160,140"));
  EXPECT_EQ(program.Status()["find"], "110,110,130,124");

  ClickAt(program, 110 + 44, 251 + 32);  // btnStart
  ASSERT_TRUE(program.WaitForStatus("running", "1"));
  // The needle is found at offset (10, 10): the click lands at its centre (120, 117).
  ASSERT_TRUE(program.WaitForStatus("count", "3"));
  ClickAt(program, 200 + 44, 251 + 32);  // btnStop
  ASSERT_TRUE(program.WaitForStatus("running", "0"));
  const auto events = target.DrainButtons(300);
  EXPECT_GE(Presses(events, 120, 117), 3);
  EXPECT_EQ(Presses(events, 120, 117), std::stoi(program.Status()["count"]));
  EXPECT_TRUE(program.Alive());
}

}  // namespace
}  // namespace ostrane::ui::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ostrane::testing::RegisterXvfbEnvironment("1024x768");
  return RUN_ALL_TESTS();
}
