// The real program on a private Xvfb, driven from outside with xdotool.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PrivateX.h"
#include "tests/support/PrivateXEnvironment.h"
#include "tests/support/TestWindow.h"
#include "tests/ui/ProgramDriver.h"
// Xlib last: its macros (Status, None, Bool) clash with names above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on
#undef Status

namespace ostrane::ui::testkit {
namespace {

using ostrane::testkit::PointerEvent;
using ostrane::testkit::TestWindow;

// A picture with no two equal rows or columns.
std::vector<uint32_t> Pattern(int w, int h) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels[static_cast<size_t>(y) * w + x] =
          ((x * 37 + 11) & 255) << 16 | ((y * 53 + 5) & 255) << 8 | ((x * y + 3) & 255);
  return pixels;
}

int Presses(const std::vector<PointerEvent>& events, int x, int y) {
  int n = 0;
  for (const PointerEvent& e : events)
    n += e.kind == PointerEvent::Press && e.button == 1 && e.rootX == x && e.rootY == y;
  return n;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ostrane::testkit::PrivateXAvailable()); }

  // Clicks into an edit of the main window at its offset in the client area and types `text`.
  static void Type(const ProgramDriver& program, int x, int y, const std::string& text) {
    const Point c = program.ClientOrigin();
    ASSERT_TRUE(Xdotool("mousemove " + std::to_string(c.X + x + 10) + " " +
                        std::to_string(c.Y + y + 10) + " click 1"));
    ASSERT_TRUE(Xdotool("key ctrl+a BackSpace"));
    ASSERT_TRUE(Xdotool("type '" + text + "'"));
  }
  // Left, top, right and bottom of the find scope, then of the click scope.
  static void TypeScopes(const ProgramDriver& program, const std::string& l1, const std::string& t1,
                         const std::string& r1, const std::string& b1, const std::string& l2,
                         const std::string& t2, const std::string& r2, const std::string& b2) {
    Type(program, 8 + 128, 9 + 23, l1);
    Type(program, 8 + 128, 9 + 48, t1);
    Type(program, 8 + 223, 9 + 23, r1);
    Type(program, 8 + 223, 9 + 48, b1);
    Type(program, 8 + 128, 95 + 23, l2);
    Type(program, 8 + 128, 95 + 48, t2);
    Type(program, 8 + 223, 95 + 23, r2);
    Type(program, 8 + 223, 95 + 48, b2);
  }
  // An interval of zero seconds and `tenths` tenths.
  static void TypeTenths(const ProgramDriver& program, const std::string& tenths) {
    Type(program, 8 + 54, 180 + 34, "0");
    Type(program, 8 + 101, 180 + 34, tenths);
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
  EXPECT_NE(out.find("DISPLAY is not set"), std::string::npos) << out;
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
  TypeTenths(program, "2");
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

// Opens the picker from the main window's button at (x, y) of the client area and drags a
// rectangle from one screen point to another with the given button.
void Pick(ProgramDriver& program, int buttonX, int buttonY, int x1, int y1, int x2, int y2,
          int button = 1) {
  const Point c = program.ClientOrigin();
  ASSERT_TRUE(Xdotool("mousemove " + std::to_string(c.X + buttonX) + " " +
                      std::to_string(c.Y + buttonY) + " click 1"));
  std::string ids;
  for (int i = 0; i < 100 && ids.empty(); ++i) {
    ids = XdotoolOutput("search --onlyvisible --name '^fmCopy$'");
    if (ids.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(ids.empty()) << "the picker did not come up";
  const std::string b = std::to_string(button);
  ASSERT_TRUE(Xdotool("mousemove " + std::to_string(x1) + " " + std::to_string(y1) + " mousedown " +
                      b + " mousemove " + std::to_string((x1 + x2) / 2) + " " +
                      std::to_string((y1 + y2) / 2) + " mousemove " + std::to_string(x2) + " " +
                      std::to_string(y2) + " mouseup " + b));
}

// A window of another client that takes the keyboard focus.
class OtherClient {
 public:
  OtherClient() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) return;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), 900, 600, 50, 50, 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &a);
    XMapRaised(display_, window_);
    XSync(display_, False);
  }
  ~OtherClient() {
    if (display_) XCloseDisplay(display_);
  }
  void TakeFocus() {
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
  }
  // Holds F9 for itself, as another program's hot key would.
  void GrabF9() {
    XGrabKey(display_, XKeysymToKeycode(display_, XK_F9), AnyModifier, DefaultRootWindow(display_),
             True, GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
  }

 private:
  Display* display_ = nullptr;
  Window window_ = 0;
};

// Button centres in the main window's client area.
constexpr int kButton1X = 8 + 8 + 40, kButton1Y = 9 + 16 + 27;
constexpr int kButton3X = 8 + 8 + 40, kButton3Y = 95 + 16 + 27;
constexpr int kStartX = 110 + 44, kStartY = 251 + 32;
constexpr int kStopX = 200 + 44, kStopY = 251 + 32;

// F9 presses of the held-key test: enough for a box per press to be seen, quick to type.
constexpr int kHeldPresses = 3000;
constexpr const char* kF9Held = "ostrane: F9 is held by another program";

// The lines of `text` that contain `part`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(part) != std::string::npos) lines.push_back(line);
  return lines;
}

TEST_F(EndToEnd, BothScopesPickedWithTheMouseThenF9AndF10FromAnotherWindow) {
  TestWindow target(100, 100, 60, 40, Pattern(60, 40));
  ASSERT_TRUE(target.Ok());
  // Scaling asked for in the environment must not shift the picked points.
  ProgramDriver program(std::map<std::string, std::string>{{"QT_SCALE_FACTOR", "2"}});
  ASSERT_TRUE(program.WaitForWindow());

  // The find scope dragged up and to the left, the click scope with the right button.
  Pick(program, kButton1X, kButton1Y, 130, 124, 110, 110);
  ASSERT_TRUE(program.WaitForStatus("find", "130,124,110,110"));
  ASSERT_TRUE(program.WaitForWindow());
  Pick(program, kButton3X, kButton3Y, 100, 100, 160, 140, 3);
  ASSERT_TRUE(program.WaitForStatus("click", "100,100,160,140"));
  ASSERT_TRUE(program.WaitForWindow());
  // A find scope drawn backwards has no size and finds nothing: draw it again forwards.
  Pick(program, kButton1X, kButton1Y, 110, 110, 130, 124);
  ASSERT_TRUE(program.WaitForStatus("find", "110,110,130,124"));
  ASSERT_TRUE(program.WaitForWindow());
  target.DrainButtons(100);

  OtherClient other;
  other.TakeFocus();
  ASSERT_TRUE(Xdotool("key F9"));
  ASSERT_TRUE(program.WaitForStatus("running", "1"));
  ASSERT_TRUE(program.WaitForStatus("count", "3", 15000));
  ASSERT_TRUE(Xdotool("key F10"));
  ASSERT_TRUE(program.WaitForStatus("running", "0"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string count = program.Status()["count"];
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(program.Status()["count"], count) << "clicks went on after F10";
  const auto events = target.DrainButtons(300);
  EXPECT_EQ(Presses(events, 120, 117), std::stoi(count));

  // Shift+F9 does nothing; F9 with Num Lock on starts.
  ASSERT_TRUE(Xdotool("key shift+F9"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(program.Status()["running"], "0");
  ASSERT_TRUE(Xdotool("key Num_Lock F9 Num_Lock"));
  EXPECT_TRUE(program.WaitForStatus("running", "1"));
  ASSERT_TRUE(Xdotool("key F10"));
  EXPECT_TRUE(program.WaitForStatus("running", "0"));
  EXPECT_TRUE(program.Alive());
}

TEST_F(EndToEnd, F9HeldByAnotherProgramDoesNothingHereAndTheButtonsStillWork) {
  OtherClient other;
  other.GrabF9();
  ProgramDriver program;
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(Xdotool("key F9"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(program.Alive());
  EXPECT_EQ(program.Status()["running"], "0");
  // Start with every field valid: a zero-sized scope is fine for the state.
  for (int y : {9 + 23, 9 + 48, 95 + 23, 95 + 48})
    for (int x : {8 + 128, 8 + 223})
      Type(program, x, y, "0");
  ClickAt(program, kStartX, kStartY);
  EXPECT_TRUE(program.WaitForStatus("running", "1"));
  ASSERT_TRUE(Xdotool("key F10"));  // F10 is still ours
  EXPECT_TRUE(program.WaitForStatus("running", "0"));
  EXPECT_TRUE(program.Alive());
  // The user is told which key and why, once; the refused grab is not an unexplained X error.
  const std::string errors = program.StandardError();
  EXPECT_EQ(LinesWith(errors, "F9"), std::vector<std::string>{kF9Held}) << errors;
  EXPECT_TRUE(LinesWith(errors, "F10").empty()) << errors;
  EXPECT_TRUE(LinesWith(errors, "X error").empty()) << errors;
  // And the window says it, where a user without a terminal sees it.
  EXPECT_NE(program.Status()["status"].find("F9 could not be made global"), std::string::npos)
      << program.Status()["status"];
}

// A held F9 with a letter in the similarity: every press fails and, while the box is open, must
// not open another box inside it. The timer keeps clicking behind the box and F10 stops it.
TEST_F(EndToEnd, AHeldF9ShowsOneMessageBoxAndTheProgramLives) {
  TestWindow target(100, 100, 60, 40, Pattern(60, 40));
  ASSERT_TRUE(target.Ok());
  ProgramDriver program;
  ASSERT_TRUE(program.WaitForWindow());
  TypeScopes(program, "110", "110", "130", "124", "100", "100", "160", "140");
  TypeTenths(program, "2");
  ClickAt(program, kStartX, kStartY);
  ASSERT_TRUE(program.WaitForStatus("running", "1"));
  Type(program, 168 + 23, 180 + 25, "x");  // the similarity

  ASSERT_TRUE(Xdotool("key --delay 0 --repeat " + std::to_string(kHeldPresses) + " F9"));
  ASSERT_TRUE(program.Alive());
  const int clicks = std::stoi(program.Status()["count"]);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_GT(std::stoi(program.Status()["count"]), clicks) << "no clicks behind the box";
  // F10 comes after every F9 on the same connection: once it has stopped the timer, all of
  // them were handled.
  ASSERT_TRUE(Xdotool("key F10"));
  ASSERT_TRUE(program.WaitForStatus("running", "0"));
  const std::string boxes = XdotoolOutput("search --onlyvisible --name '^Ostrane$'");
  EXPECT_EQ(std::count(boxes.begin(), boxes.end(), '\n'), 1) << boxes;
  EXPECT_TRUE(program.Alive());
}

// The click scope typed far to the right: the match found in the black that a scope off the
// screen reads as is clicked at the screen's edge, not wherever 16 bits wrap it to.
TEST_F(EndToEnd, AClickScopeBeyondSixteenBitsClicksTheNearestScreenPixel) {
  TestWindow screen(0, 0, 1024, 768, std::vector<uint32_t>(1024 * 768, 0));
  ASSERT_TRUE(screen.Ok());
  ProgramDriver program;
  ASSERT_TRUE(program.WaitForWindow());
  // An 8 x 8 black find scope; the click scope at Left 66036: the match's centre is
  // (66040, 44), which 16 bits make (504, 44).
  TypeScopes(program, "8", "8", "16", "16", "66036", "40", "66076", "80");
  ClickAt(program, kStartX, kStartY);
  ASSERT_TRUE(program.WaitForStatus("count", "1"));
  ClickAt(program, kStopX, kStopY);
  ASSERT_TRUE(program.WaitForStatus("running", "0"));
  const auto events = screen.DrainButtons(300);
  EXPECT_GE(Presses(events, 1023, 44), 1);
  EXPECT_EQ(Presses(events, 1023, 44), std::stoi(program.Status()["count"]));
  EXPECT_EQ(Presses(events, 504, 44), 0);
}

// Points DISPLAY at another server for the length of a scope.
class ScopedDisplay {
 public:
  explicit ScopedDisplay(const std::string& display) {
    if (const char* now = std::getenv("DISPLAY")) saved_ = now;
    setenv("DISPLAY", display.c_str(), 1);
  }
  ~ScopedDisplay() { setenv("DISPLAY", saved_.c_str(), 1); }
  ScopedDisplay(const ScopedDisplay&) = delete;
  ScopedDisplay& operator=(const ScopedDisplay&) = delete;

 private:
  std::string saved_;
};

// The X server goes away while passes run every tenth of a second: the program says so in its
// own words and ends with status 1, not with a signal or another library's messages.
TEST_F(EndToEnd, LosingTheXServerEndsTheProgramWithOneLineAndStatus1) {
  for (const int signal : {SIGKILL, SIGTERM}) {
    ostrane::testkit::PrivateX server("1024x768");
    ASSERT_TRUE(server.Running()) << server.Error();
    const ScopedDisplay display(server.Display());
    ProgramDriver program;
    ASSERT_TRUE(program.WaitForWindow());
    // Both scopes at the top-left corner: the find scope lies inside the click scope, so every
    // pass captures, finds and clicks, whatever the screen shows.
    TypeScopes(program, "0", "0", "8", "8", "0", "0", "40", "40");
    TypeTenths(program, "1");
    ClickAt(program, kStartX, kStartY);
    ASSERT_TRUE(program.WaitForStatus("count", "3"));
    server.Kill(signal);
    ASSERT_TRUE(program.WaitForExit(10000)) << signal;
    EXPECT_EQ(program.ExitStatus(), 1) << signal;
    const std::string errors = program.StandardError();
    const std::string line = "ostrane: lost the connection to the X server\n";
    ASSERT_GE(errors.size(), line.size()) << errors;
    EXPECT_EQ(errors.substr(errors.size() - line.size()), line) << errors;
    EXPECT_EQ(errors.find(line), errors.size() - line.size()) << errors;
    EXPECT_EQ(errors.find("X11 connection broke"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("XIO"), std::string::npos) << errors;
  }
}

// A window manager reparents and places the program's windows; it runs on a server of its own, so
// that the other tests meet none.
TEST_F(EndToEnd, WithAWindowManagerPickedPointsAreStillScreenPoints) {
  if (std::system("command -v openbox >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "openbox is not installed";
  }
  ostrane::testkit::PrivateX server("1024x768", /*windowManager=*/true);
  ASSERT_TRUE(server.Running()) << server.Error();
  const ScopedDisplay display(server.Display());
  ASSERT_EQ(std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window"), 0)
      << "no window manager runs on " << server.Display();
  ProgramDriver program(std::map<std::string, std::string>{{"QT_SCALE_FACTOR", "2"}});
  ASSERT_TRUE(program.WaitForWindow());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // reparented and placed
  ASSERT_TRUE(program.WaitForWindow());
  Pick(program, kButton1X, kButton1Y, 300, 400, 100, 150);
  ASSERT_TRUE(program.WaitForStatus("find", "300,400,100,150"));
  ASSERT_TRUE(program.WaitForWindow());
  Pick(program, kButton3X, kButton3Y, 3, 5, 1020, 760);
  EXPECT_TRUE(program.WaitForStatus("click", "3,5,1020,760"));
  EXPECT_TRUE(program.Alive());
}

}  // namespace
}  // namespace ostrane::ui::testkit

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ostrane::testkit::RegisterPrivateXEnvironment("1024x768");
  return RUN_ALL_TESTS();
}
