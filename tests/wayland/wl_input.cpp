// The user's hands and eyes for the end-to-end test under scripts/wayland-session: keys and the
// pointer through mutter's own remote-desktop API (it asks no one), and looks at the screen
// through its screen cast. One session, one virtual keyboard and pointer, for the whole run:
// a device that comes and goes makes windows rebind to the seat and lose the first input.
// On KDE (--via kwin, the default where OSTRANE_WL_DESKTOP is kde) keys and the pointer go
// through kwin's fake-input protocol instead, and there are no eyes: the screen commands answer
// an error.
//
//   wl_input [--timeout S] [--connector NAME] [--via mutter|kwin]
//
// Reads commands from standard input, one a line, and answers each with one line, "ok" or
// "error REASON", once it has been carried out. Each command is given at most --timeout seconds
// (10). Coordinates are the monitor's pixels.
//
//   type TEXT             printable ASCII, one key at a time
//   key NAME[+NAME...]    a key or a chord: Tab, space, Return, Escape, BackSpace, F1..F12,
//                         alt, ctrl, shift, super, or one printable character
//   move X Y | click X Y | drag X1 Y1 X2 Y2
//   hover X Y LOG [WX WY] points at (X, Y) until the file LOG has the line "motion WX WY" (WX, WY
//                         default to X, Y): a window that reports its pointer there has settled
//                         in place under it
//   crosshair X Y         points at (X, Y) until a settled picture shows a crosshair there, a
//                         column and a row drawn by inverting the pixels
//   expect PPM X Y        a settled picture shows the picture in PPM with its corner at (X, Y)
//   locate PPM            answers "ok X Y": where a settled picture shows PPM's picture first
//   compare PPM [TOL [X Y W H]...]
//                         answers "ok N [X Y W H]": how many pixels of a settled picture differ
//                         from PPM's by more than TOL in some channel (0), outside the rectangles
//                         given, and the rectangle around them
//   snap PPM              saves a settled picture
//
// Exits 0 at the end of the input, 1 when mutter's session cannot be had, 2 on usage errors.

#include "ConsentLocate.h"
#include "KwinFakeInput.h"
#include "MutterRemote.h"
#include "ScreenMatch.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using mutter::Clock;

// A motion and a press in the same instant lose the press; a key's press and release too close
// together may be read as nothing by some clients.
constexpr auto kBeforePress = 60ms;
constexpr auto kKeyGap = 20ms;
// How often hover points again when the window has not reported the pointer yet; crosshair waits
// longer, for a settled picture after each motion.
constexpr auto kRepoint = 100ms;
constexpr auto kRepointLooking = 800ms;

constexpr uint32_t kShift = 0xffe1;  // XK_Shift_L

class Hands {
 public:
  explicit Hands(std::chrono::seconds timeout) : timeout_(timeout) {}

  bool open(bool kwin, const std::string& connector, std::string& error) {
    if (kwin) {
      input_ = &fake_;
      if (!fake_.open()) return sessionError(error);
      eyes_ = false;
    } else if (!mutter::openWithFrames(session_, frames_, connector, Clock::now() + 10s, error)) {
      return false;
    }
    // mutter makes a session's pointer and keyboard at their first use, and a window binds to
    // them only then: the first key or click would be lost. Made now, harmlessly, they are there
    // for every window that comes later.
    if (!input_->nudge() || !tap({kShift})) return sessionError(error);
    mutter::pause(200ms);
    return true;
  }

  // Carries out one command line; false with the reason in `error` when it failed. A command
  // that measures something leaves its result there on success.
  bool run(const std::string& line, std::string& error) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    deadline_ = Clock::now() + timeout_;
    auto ints = [&](int count, std::vector<int>& out) {
      out.resize(count);
      for (int& v : out)
        if (!(in >> v)) return false;
      return true;
    };
    std::vector<int> v;
    if (verb == "type") {
      std::string text = line.size() > 5 ? line.substr(5) : "";
      for (char c : text) {
        if (c < 0x20 || c > 0x7e) return usage("type takes printable ASCII", error);
        if (!tap({uint32_t(c)})) return sessionError(error);
      }
      return true;
    }
    if (verb == "key") {
      std::string chord;
      in >> chord;
      std::vector<uint32_t> keys;
      std::istringstream names(chord);
      for (std::string name; std::getline(names, name, '+');) {
        const auto keysym = keysymNamed(name);
        if (!keysym) return usage("no key named '" + name + "'", error);
        keys.push_back(*keysym);
      }
      if (keys.empty()) return usage("key wants a name", error);
      return tap(keys) || sessionError(error);
    }
    if (verb == "move") {
      if (!ints(2, v)) return usage("move X Y", error);
      return input_->move(v[0], v[1]) || sessionError(error);
    }
    if (verb == "click") {
      if (!ints(2, v)) return usage("click X Y", error);
      return click(v[0], v[1]) || sessionError(error);
    }
    if (verb == "drag") {
      if (!ints(4, v)) return usage("drag X1 Y1 X2 Y2", error);
      return drag(v[0], v[1], v[2], v[3]) || sessionError(error);
    }
    if (verb == "hover") {
      std::string log;
      if (!ints(2, v) || !(in >> log)) return usage("hover X Y LOG [WX WY]", error);
      std::vector<int> at;
      if (!ints(2, at)) at = v;
      return hover(v[0], v[1], log, at[0] - v[0], at[1] - v[1], error);
    }
    if (verb == "crosshair") {
      if (!ints(2, v)) return usage("crosshair X Y", error);
      return crosshair(v[0], v[1], error);
    }
    if (verb == "expect") {
      std::string path;
      if (!(in >> path) || !ints(2, v)) return usage("expect PPM X Y", error);
      return expect(path, v[0], v[1], error);
    }
    if (verb == "locate") {
      std::string path;
      if (!(in >> path)) return usage("locate PPM", error);
      return locate(path, error);
    }
    if (verb == "compare") {
      std::string path;
      if (!(in >> path)) return usage("compare PPM [TOL [X Y W H]...]", error);
      int tolerance = 0;
      if (!(in >> tolerance)) tolerance = 0;
      std::vector<consent::Rect> ignored;
      if (!screen::readRects(in, ignored)) return usage("compare PPM [TOL [X Y W H]...]", error);
      return compare(path, tolerance, ignored, error);
    }
    if (verb == "snap") {
      std::string path;
      if (!(in >> path)) return usage("snap PPM", error);
      if (!settled(Clock::now(), error)) return false;
      if (consent::savePpm(frames_.latest(), path)) return true;
      error = "cannot write " + path;
      return false;
    }
    return usage("unknown command '" + verb + "'", error);
  }

 private:
  static bool usage(const std::string& why, std::string& error) {
    error = why;
    return false;
  }
  bool sessionError(std::string& error) {
    error = input_->error();
    return false;
  }
  bool click(int x, int y) {
    if (!input_->move(x, y)) return false;
    mutter::pause(kBeforePress);
    if (!input_->button(true)) return false;
    mutter::pause(40ms);
    if (!input_->button(false)) return false;
    mutter::pause(40ms);
    return true;
  }

  // Presses the keys in order and lets them go in the reverse order.
  bool tap(const std::vector<uint32_t>& keys) {
    for (uint32_t k : keys) {
      if (!input_->key(k, true)) return false;
      mutter::pause(kKeyGap);
    }
    for (auto k = keys.rbegin(); k != keys.rend(); ++k) {
      if (!input_->key(*k, false)) return false;
      mutter::pause(kKeyGap);
    }
    return true;
  }

  // Press at the first corner, a few motions on the way, release at the second, as a hand drags.
  bool drag(int x1, int y1, int x2, int y2) {
    if (!input_->move(x1, y1)) return false;
    mutter::pause(kBeforePress);
    if (!input_->button(true)) return false;
    constexpr int kSteps = 5;
    for (int i = 1; i <= kSteps; ++i) {
      mutter::pause(20ms);
      if (!input_->move(x1 + (x2 - x1) * i / kSteps, y1 + (y2 - y1) * i / kSteps)) return false;
    }
    mutter::pause(kBeforePress);
    if (!input_->button(false)) return false;
    mutter::pause(40ms);
    return true;
  }

  // Points at (x, y) and one pixel beside it in turn, so that every motion is new to the window,
  // until seen() says the window shows the pointer where it was last sent.
  bool point(int x, int y, Clock::duration repoint, const std::function<bool(int, int)>& seen,
             const char* what, std::string& error) {
    for (int tries = 0;; ++tries) {
      const int sentX = x + (tries % 2);
      if (!input_->move(sentX, y)) return sessionError(error);
      const Clock::time_point sent = Clock::now();
      bool found = false;
      mutter::runUntil([&] { return (found = seen(sentX, y)); },
                       std::min(deadline_, sent + repoint));
      if (found) return true;
      if (Clock::now() >= deadline_) {
        error = std::string(what) + " after " + std::to_string(tries + 1) + " motions";
        return false;
      }
    }
  }

  // The window reports (sentX + dx, sentY + dy): its corner is at (-dx, -dy) on the screen.
  bool hover(int x, int y, const std::string& log, int dx, int dy, std::string& error) {
    return point(
        x, y, kRepoint,
        [&](int sentX, int sentY) {
          std::ifstream in(log);
          const std::string wanted =
              "motion " + std::to_string(sentX + dx) + " " + std::to_string(sentY + dy);
          for (std::string line; std::getline(in, line);)
            if (line == wanted) return true;
          return false;
        },
        "the window did not report the pointer where it was sent", error);
  }

  bool crosshair(int x, int y, std::string& error) {
    // Only a settled picture counts: while a window animates in, its crosshair follows the
    // pointer even where its own coordinates are still scaled.
    Clock::time_point sentAt;
    int lastX = -1;
    uint64_t looked = 0;
    return point(
        x, y, kRepointLooking,
        [&](int sentX, int sentY) {
          if (sentX != lastX) {
            lastX = sentX;
            sentAt = Clock::now();
            looked = 0;
          }
          const Clock::time_point now = Clock::now();
          if (frames_.serial() == 0 || now - frames_.receivedAt() < mutter::kSettled ||
              now - sentAt < mutter::kSettled || frames_.serial() == looked)
            return false;
          looked = frames_.serial();
          return screen::crosshairAt(frames_.latest(), sentX, sentY);
        },
        "no crosshair showed where the pointer was sent", error);
  }

  bool expect(const std::string& path, int x, int y, std::string& error) {
    const auto wanted = consent::loadPpm(path);
    if (!wanted) return usage("cannot read " + path, error);
    if (!settled(Clock::now(), error)) return false;
    const int wrong = screen::differing(frames_.latest(), *wanted, x, y);
    if (wrong == 0) return true;
    error = std::to_string(wrong) + " of " + std::to_string(wanted->width * wanted->height) +
            " pixels differ at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    return false;
  }

  bool locate(const std::string& path, std::string& result) {
    const auto wanted = consent::loadPpm(path);
    if (!wanted) return usage("cannot read " + path, result);
    if (!settled(Clock::now(), result)) return false;
    const auto at = screen::find(frames_.latest(), *wanted);
    if (!at) return usage(path + " is nowhere on the screen", result);
    result = std::to_string(at->first) + " " + std::to_string(at->second);
    return true;
  }

  // How many pixels of a settled picture differ from the picture in PPM, and their bounds. The
  // tolerance passes over the faint noise mutter's software renderer gives a repainted desktop
  // background.
  bool compare(const std::string& path, int tolerance, const std::vector<consent::Rect>& ignored,
               std::string& result) {
    const auto before = consent::loadPpm(path);
    if (!before) return usage("cannot read " + path, result);
    if (!settled(Clock::now(), result)) return false;
    const consent::Picture& now = frames_.latest();
    if (now.width != before->width || now.height != before->height)
      return usage(path + " is not the screen's size", result);
    const screen::Changed diff = screen::changed(now, *before, tolerance, ignored);
    result = std::to_string(diff.count);
    const consent::Rect& r = diff.bounds;
    if (diff.count)
      result += " " + std::to_string(r.x) + " " + std::to_string(r.y) + " " +
                std::to_string(r.width) + " " + std::to_string(r.height);
    return true;
  }

  // Waits for a picture that has not changed for a while since `since`.
  bool settled(Clock::time_point since, std::string& error) {
    if (!eyes_) return usage("no pictures of the screen on this desktop", error);
    const bool ok = mutter::runUntil(
        [&] {
          const Clock::time_point now = Clock::now();
          return frames_.serial() > 0 && now - frames_.receivedAt() >= mutter::kSettled &&
                 now - since >= mutter::kSettled;
        },
        deadline_);
    if (!frames_.error().empty()) return usage(frames_.error(), error);
    if (!ok) error = frames_.serial() ? "the screen did not settle" : "no picture came";
    return ok;
  }

  std::chrono::seconds timeout_;
  Clock::time_point deadline_;
  mutter::RemoteSession session_;
  KwinFakeInput fake_;
  InputDevice* input_ = &session_;
  mutter::Frames frames_;
  bool eyes_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  int timeout = 10;
  std::string connector = "Meta-0";
  const char* desktop = getenv("OSTRANE_WL_DESKTOP");
  bool kwin = desktop && std::string(desktop) == "kde";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    if (arg == "--timeout" && i + 1 < argc) {
      timeout = int(strtol(argv[++i], &end, 10));
      if (*end || timeout < 1 || timeout > 600) timeout = 0;
    } else if (arg == "--connector" && i + 1 < argc) {
      connector = argv[++i];
    } else if (arg == "--via" && i + 1 < argc &&
               (argv[i + 1] == std::string("mutter") || argv[i + 1] == std::string("kwin"))) {
      kwin = argv[++i] == std::string("kwin");
    } else {
      timeout = 0;
    }
    if (timeout == 0) {
      fprintf(stderr, "usage: %s [--timeout S] [--connector NAME] [--via mutter|kwin]\n", argv[0]);
      return 2;
    }
  }
  pw_init(&argc, &argv);
  int status = 0;
  {
    Hands hands{std::chrono::seconds(timeout)};
    std::string error;
    if (!hands.open(kwin, connector, error)) {
      fprintf(stderr, "wl-input: %s\n", error.c_str());
      status = 1;
    } else {
      mutter::StdinLines lines;
      for (std::string line; lines.next(line);) {
        if (line.empty()) continue;
        error.clear();
        if (hands.run(line, error))
          printf("ok%s%s\n", error.empty() ? "" : " ", error.c_str());
        else
          printf("error %s\n", error.c_str());
        fflush(stdout);
      }
    }
  }
  pw_deinit();
  return status;
}
