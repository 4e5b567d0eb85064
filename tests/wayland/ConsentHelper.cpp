// Gets past the portal's consent dialog the way a person would, for tests that run under
// scripts/wayland-session: it watches the screen through mutter's own screen-cast API, and when
// the dialog shows it turns "Allow remote interaction" on and presses Share with mutter's
// remote-desktop pointer. Exits 0 once the dialog has gone, or 1 with a one-line reason.
// With --refuse it says no instead: Escape, as a person dismisses a dialog. With --shortcuts it
// answers GNOME's "Add Keyboard Shortcuts" dialog instead, by pressing Add.
//
//   consent_helper [--timeout S] [--save-frames DIR] [--connector NAME] [--refuse] [--shortcuts]

#include "ConsentLocate.h"
#include "MutterRemote.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;

// How long a click is given to show on the screen before it counts as lost, and how many clicks.
constexpr auto kLook = 3s;
constexpr int kTries = 3;
constexpr uint32_t kEscape = 0xff1b;  // XK_Escape

std::string reason;  // the one line printed on failure

bool fail(std::string why) {
  if (reason.empty()) reason = std::move(why);
  return false;
}

using mutter::Clock;
using mutter::kSettled;
using mutter::runUntil;

struct Options {
  int timeoutSeconds = 30;
  std::string saveDir;
  std::string connector = "Meta-0";
  bool refuse = false;
  bool shortcuts = false;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--refuse" || arg == "--shortcuts") {
      (arg == "--refuse" ? options.refuse : options.shortcuts) = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    if (arg == "--timeout") {
      char* end = nullptr;
      long value = strtol(argv[++i], &end, 10);
      if (*end || value < 1 || value > 3600) return false;
      options.timeoutSeconds = static_cast<int>(value);
    } else if (arg == "--save-frames") {
      options.saveDir = argv[++i];
    } else if (arg == "--connector") {
      options.connector = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

class Helper {
 public:
  explicit Helper(Options options) : options_(std::move(options)) {}

  bool run() {
    const Clock::time_point began = Clock::now();
    deadline_ = began + std::chrono::seconds(options_.timeoutSeconds);
    std::string error;
    if (!mutter::openWithFrames(mutter_, frames_, options_.connector, deadline_, error))
      return fail(error);

    std::optional<consent::Dialog> dialog;
    if (!settle([](const auto& d) { return d.has_value(); }, dialog))
      return failWithFrame(options_.shortcuts ? "the shortcuts dialog did not show"
                                              : "the consent dialog did not show");
    const double shownAt = seconds(began);
    save("dialog", dialog);
    if (options_.refuse) return refuse(began, shownAt, *dialog);
    const char* button = options_.shortcuts ? "Add" : "Share";

    // As a person would: click, look, and click again only if the picture shows nothing happened.
    // The shortcuts dialog has no switch: straight to Add.
    for (int clicks = 0; !options_.shortcuts && !dialog->toggleOn; ++clicks) {
      if (clicks == kTries) return failWithFrame("the switch did not turn on after 3 clicks");
      if (!mutter_.click(dialog->toggle.centreX() + 0.5, dialog->toggle.centreY() + 0.5))
        return fail(mutter_.error());
      std::optional<consent::Dialog> seen;
      if (settle([](const auto& d) { return d && d->toggleOn; }, seen, kLook)) {
        dialog = seen;
        break;
      }
      // A picture caught mid-animation shows no dialog: look again before clicking again.
      if (!seen && !settle([](const auto& d) { return d.has_value(); }, seen))
        return failWithFrame("the dialog went away before the switch turned on");
      dialog = seen;
    }
    if (!options_.shortcuts) save("switched", dialog);

    for (int presses = 0;; ++presses) {
      if (presses == kTries)
        return failWithFrame(std::string("the dialog stayed after 3 presses of ") + button);
      if (!mutter_.click(dialog->share.centreX() + 0.5, dialog->share.centreY() + 0.5))
        return fail(mutter_.error());
      const consent::Rect share = dialog->share;
      std::optional<consent::Dialog> seen;
      auto gone = [&](const auto& d) {
        return !d && consent::accentShare(frames_.latest(), share) < 0.2;
      };
      if (settle(gone, seen, kLook)) break;
      // Press again only on a settled picture that still shows the dialog.
      if (!seen && !settle([&](const auto& d) { return d.has_value() || gone(d); }, seen))
        return failWithFrame(std::string("the dialog stayed after ") + button);
      if (!seen) break;
      if (!options_.shortcuts && !seen->toggleOn)
        return failWithFrame("the switch went off before Share");
      dialog = seen;
    }
    save("shared", std::nullopt);
    mutter_.close();
    fprintf(stderr, "consent-helper: dialog seen after %.2f s, %s after %.2f s\n", shownAt,
            options_.shortcuts ? "added" : "shared", seconds(began));
    return true;
  }

 private:
  // Escape, and again only when a settled picture still shows the dialog unchanged.
  bool refuse(Clock::time_point began, double shownAt, consent::Dialog dialog) {
    for (int presses = 0;; ++presses) {
      if (presses == kTries) return failWithFrame("the dialog stayed after 3 presses of Escape");
      if (!mutter_.key(kEscape, true) || !mutter_.key(kEscape, false)) return fail(mutter_.error());
      const consent::Rect share = dialog.share;
      auto gone = [&](const auto& d) {
        return !d && consent::accentShare(frames_.latest(), share) < 0.2;
      };
      std::optional<consent::Dialog> seen;
      if (settle(gone, seen, kLook)) break;
      if (!seen && !settle([&](const auto& d) { return d.has_value() || gone(d); }, seen))
        return failWithFrame("the dialog stayed after Escape");
      if (!seen) break;
      dialog = *seen;
    }
    save("refused", std::nullopt);
    mutter_.close();
    fprintf(stderr, "consent-helper: dialog seen after %.2f s, refused after %.2f s\n", shownAt,
            seconds(began));
    return true;
  }

  // Waits, at most within and never past the deadline, for a settled picture whose dialog, or
  // absence of one, satisfies wanted; found is what the last picture looked at showed.
  template <typename Wanted>
  bool settle(Wanted wanted, std::optional<consent::Dialog>& found,
              Clock::duration within = Clock::duration::max()) {
    const Clock::time_point until =
        within == Clock::duration::max() ? deadline_ : std::min(deadline_, Clock::now() + within);
    uint64_t looked = 0;
    bool matched = false;
    runUntil(
        [&] {
          if (!frames_.error().empty()) return true;
          if (frames_.serial() == 0 || Clock::now() - frames_.receivedAt() < kSettled) return false;
          if (frames_.serial() != looked) {
            looked = frames_.serial();
            found = options_.shortcuts ? consent::locateShortcutsDialog(frames_.latest())
                                       : consent::locateDialog(frames_.latest());
            matched = wanted(found);
          }
          return matched;
        },
        until);
    if (!frames_.error().empty()) return fail(frames_.error());
    if (!matched && Clock::now() >= deadline_) timedOut_ = true;
    return matched;
  }

  bool failWithFrame(const std::string& why) {
    if (frames_.serial() == 0) return fail("no picture came from mutter's screen cast");
    save("last", std::nullopt);
    return fail(timedOut_ ? why + " within " + std::to_string(options_.timeoutSeconds) + " s"
                          : why);
  }

  // The newest picture as it came, and with what was found in it outlined.
  void save(const char* name, const std::optional<consent::Dialog>& dialog) {
    if (options_.saveDir.empty() || frames_.serial() == 0) return;
    const std::string path = options_.saveDir + "/" + name;
    const consent::Picture& latest = frames_.latest();
    bool saved = consent::savePpm(latest, path + ".ppm");
    if (dialog)
      saved = consent::savePpm(consent::marked(latest, *dialog), path + "-marked.ppm") && saved;
    if (!saved)
      fprintf(stderr, "consent-helper: cannot write %s.ppm in %s\n", name,
              options_.saveDir.c_str());
  }

  static double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
  }

  Options options_;
  Clock::time_point deadline_;
  bool timedOut_ = false;
  mutter::RemoteSession mutter_;
  mutter::Frames frames_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    fprintf(stderr,
            "usage: %s [--timeout S] [--save-frames DIR] [--connector NAME] [--refuse] "
            "[--shortcuts]\n",
            argv[0]);
    return 2;
  }
  pw_init(&argc, &argv);
  bool ok = Helper(options).run();
  if (!ok) fprintf(stderr, "consent-helper: %s\n", reason.empty() ? "failed" : reason.c_str());
  pw_deinit();
  return ok ? 0 : 1;
}
