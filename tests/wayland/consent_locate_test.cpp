// The consent dialog's search on pictures drawn like the real one (sizes and colours measured on
// mutter's frames at 1920x1080), and on the switch cut from real frames in both states.
#include "ConsentLocate.h"
#include "ScreenMatch.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

using consent::Picture;
using consent::Rect;

namespace {

constexpr uint32_t kAccent = 0x3584E4;
constexpr uint32_t kHeader = 0xEBEBEB, kBody = 0xFAFAFA, kCard = 0xFFFFFF, kTrack = 0xE1E1E1;
constexpr uint32_t kText = 0x323232;

// mutter's plain desktop: a dark blue that brightens towards the middle.
Picture desktop(int width = 1920, int height = 1080) {
  Picture picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double d =
          std::hypot(x - width / 2.0, y - height / 2.0) / std::hypot(width / 2.0, height / 2.0);
      int r = 26 - static_cast<int>(10 * d), g = 80 - static_cast<int>(30 * d),
          b = 125 - static_cast<int>(40 * d);
      picture.pixels[static_cast<size_t>(y) * width + x] = r << 16 | g << 8 | b;
    }
  return picture;
}

void fill(Picture& p, Rect r, uint32_t colour) {
  for (int y = std::max(r.y, 0); y < std::min(r.y + r.height, p.height); ++y)
    for (int x = std::max(r.x, 0); x < std::min(r.x + r.width, p.width); ++x)
      p.pixels[static_cast<size_t>(y) * p.width + x] = colour;
}
// A rectangle whose corners are rounded with radius; what lies outside them is left as it was.
void rounded(Picture& p, Rect r, int radius, uint32_t colour) {
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x) {
      int dx = std::max({r.x + radius - x - 1, x - (r.x + r.width - radius), 0});
      int dy = std::max({r.y + radius - y - 1, y - (r.y + r.height - radius), 0});
      if (dx * dx + dy * dy <= radius * radius) fill(p, {x, y, 1, 1}, colour);
    }
}
void disc(Picture& p, int cx, int cy, int radius, uint32_t colour) {
  rounded(p, {cx - radius, cy - radius, 2 * radius, 2 * radius}, radius, colour);
}

struct Drawn {
  Rect frame, toggle, share;
};

// The dialog as GTK draws it, 520x300 with its top left at (x, y): header bar with Cancel, title
// and Share; the monitor list; the "Allow remote interaction" row with its switch.
Drawn drawDialog(Picture& p, int x, int y, bool on, uint32_t track = kTrack,
                 uint32_t accent = kAccent) {
  Drawn d{{x, y, 520, 300}, {x + 426, y + 209, 48, 26}, {x + 432, y + 6, 82, 34}};
  rounded(p, d.frame, 12, kBody);
  rounded(p, {x, y, 520, 45}, 12, kHeader);
  fill(p, {x, y + 40, 520, 5}, kHeader);
  fill(p, {x, y + 45, 520, 1}, 0xDBDBDB);
  rounded(p, {x + 5, y + 6, 68, 34}, 6, 0xDBDBDB);
  fill(p, {x + 17, y + 18, 44, 10}, kText);    // "Cancel"
  fill(p, {x + 195, y + 18, 130, 10}, kText);  // the title
  rounded(p, d.share, 6, accent);
  for (int i = 0; i < 5; ++i)
    fill(p, {x + 445 + 11 * i, y + 18, 7, 10}, 0xFFFFFF);  // "Share"
  fill(p, {x + 24, y + 60, 400, 12}, kText);
  rounded(p, {x + 24, y + 88, 472, 42}, 10, kHeader);
  fill(p, {x + 36, y + 103, 90, 10}, kText);
  rounded(p, {x + 24, y + 200, 472, 44}, 10, kCard);
  fill(p, {x + 36, y + 216, 180, 10}, kText);
  const Rect& t = d.toggle;
  rounded(p, t, 13, on ? accent : track);
  const int knobX = on ? t.x + t.width - 13 : t.x + 13;
  disc(p, knobX, t.y + 13, 12, 0xD3D3D3);  // the knob's rim
  disc(p, knobX, t.y + 13, 11, 0xFFFFFF);
  return d;
}

void expectFound(const Picture& p, const Drawn& drawn, bool on) {
  std::optional<consent::Dialog> dialog = consent::locateDialog(p);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_EQ(dialog->frame, drawn.frame);
  EXPECT_EQ(dialog->share, drawn.share);
  EXPECT_EQ(dialog->toggleOn, on);
  // The clicks go to the middles: those must be on the switch's track and the button.
  EXPECT_TRUE(drawn.toggle.contains(dialog->toggle.centreX(), dialog->toggle.centreY()));
  EXPECT_LE(std::abs(dialog->toggle.centreX() - drawn.toggle.centreX()), 2);
  EXPECT_LE(std::abs(dialog->toggle.centreY() - drawn.toggle.centreY()), 2);
}

TEST(LocateDialog, FindsTheDialogItsSwitchAndShareWhereverItIs) {
  for (bool on : {false, true}) {
    for (auto [x, y] :
         {std::pair{700, 390}, std::pair{0, 0}, std::pair{1400, 780}, std::pair{3, 777}}) {
      SCOPED_TRACE(testing::Message()
                   << "switch " << (on ? "on" : "off") << " at " << x << "," << y);
      Picture p = desktop();
      Drawn drawn = drawDialog(p, x, y, on);
      expectFound(p, drawn, on);
    }
  }
}

TEST(LocateDialog, HoverShadesAreStillTheirState) {
  // GTK lightens the accent under the pointer and darkens the off track.
  for (auto [on, track, accent] :
       {std::tuple{true, kTrack, 0x4990E7u}, std::tuple{false, 0xD5D5D5u, kAccent}}) {
    Picture p = desktop();
    Drawn drawn = drawDialog(p, 700, 390, on, track, accent);
    expectFound(p, drawn, on);
  }
}

TEST(LocateDialog, OverALightWindowWithItsShadow) {
  Picture p = desktop();
  fill(p, {300, 200, 1300, 700}, 0xEFEFEF);
  fill(p, {696, 386, 528, 308}, 0xB8B8B8);  // the dialog's shadow on the window below
  Drawn drawn = drawDialog(p, 700, 390, false);
  expectFound(p, drawn, false);
}

TEST(LocateDialog, NothingWhereThereIsNoConsentDialog) {
  EXPECT_FALSE(consent::locateDialog(desktop()));
  EXPECT_FALSE(consent::locateDialog(Picture{1, 1, {0}}));

  // A window with a default button at its top right but no switch.
  Picture window = desktop();
  rounded(window, {600, 300, 600, 400}, 12, kBody);
  fill(window, {600, 300, 600, 46}, kHeader);
  rounded(window, {1100, 306, 90, 34}, 6, kAccent);
  EXPECT_FALSE(consent::locateDialog(window));

  // The switch caught half way: its knob at neither end.
  Picture moving = desktop();
  Drawn drawn = drawDialog(moving, 700, 390, false);
  fill(moving,
       {drawn.toggle.x + 1, drawn.toggle.y + 1, drawn.toggle.width - 2, drawn.toggle.height - 2},
       kTrack);
  disc(moving, drawn.toggle.centreX(), drawn.toggle.centreY(), 11, 0xFFFFFF);
  EXPECT_FALSE(consent::locateDialog(moving));

  // A dialog still small in mutter's opening animation: too small to be taken for the real one.
  Picture small = desktop();
  rounded(small, {900, 480, 130, 75}, 6, kBody);
  rounded(small, {1008, 482, 20, 9}, 3, kAccent);
  EXPECT_FALSE(consent::locateDialog(small));
}

// GNOME 48's dialogs as gnome-shell 48 drew them at 1920x1080: a flat header the colour of the
// body, grey Cancel. The Remote Desktop dialog is 660x500 with "Remember This Selection" (a
// ticked accent box, with a focus ring) above the switch's row and the monitor list below it,
// the chosen monitor ringed in accent. "Add Keyboard Shortcuts" is 480x263: Cancel, Add, a row
// per shortcut with its key and two small icons, no switch.
constexpr uint32_t kBody48 = 0xFAFAFB, kButton48 = 0xE6E6E7, kTrack48 = 0xE0E0E1;

Drawn drawRemoteDesktop48(Picture& p, int x, int y, bool on) {
  Drawn d{{x, y, 660, 500}, {x + 557, y + 144, 46, 26}, {x + 581, y + 6, 73, 34}};
  rounded(p, d.frame, 12, kBody48);
  rounded(p, {x + 6, y + 6, 80, 34}, 6, kButton48);
  fill(p, {x + 22, y + 18, 48, 10}, kText);
  fill(p, {x + 280, y + 18, 110, 10}, kText);
  rounded(p, d.share, 6, kAccent);
  for (int i = 0; i < 5; ++i)
    fill(p, {x + 595 + 9 * i, y + 18, 6, 10}, 0xFFFFFF);
  rounded(p, {x + 230, y + 84, 200, 26}, 6, kAccent);  // the focus ring
  rounded(p, {x + 232, y + 86, 196, 22}, 5, kBody48);
  rounded(p, {x + 237, y + 88, 18, 18}, 4, kAccent);  // the ticked box
  fill(p, {x + 241, y + 96, 10, 2}, 0xFFFFFF);
  fill(p, {x + 262, y + 92, 150, 10}, kText);
  rounded(p, {x + 43, y + 130, 574, 52}, 10, kCard);
  fill(p, {x + 57, y + 150, 170, 10}, kText);
  const Rect& t = d.toggle;
  rounded(p, t, 13, on ? kAccent : kTrack48);
  disc(p, on ? t.x + t.width - 13 : t.x + 13, t.y + 13, 11, 0xFFFFFF);
  fill(p, {x + 110, y + 200, 440, 12}, kText);
  rounded(p, {x + 43, y + 248, 574, 214}, 10, kTrack48);
  rounded(p, {x + 44, y + 249, 572, 212}, 10, kCard);
  rounded(p, {x + 253, y + 314, 154, 88}, 8, kAccent);  // the chosen monitor
  rounded(p, {x + 256, y + 317, 148, 82}, 6, 0xF0F0F0);
  fill(p, {x + 256, y + 317, 148, 8}, 0x000000);
  return d;
}

Drawn drawShortcuts48(Picture& p, int x, int y) {
  Drawn d{{x, y, 480, 263}, {}, {x + 413, y + 6, 61, 34}};
  rounded(p, d.frame, 12, kBody48);
  rounded(p, {x + 6, y + 6, 80, 34}, 6, kButton48);
  fill(p, {x + 22, y + 18, 48, 10}, kText);
  fill(p, {x + 160, y + 18, 160, 10}, kText);
  rounded(p, d.share, 6, kAccent);
  fill(p, {x + 430, y + 18, 26, 10}, 0xFFFFFF);
  fill(p, {x + 35, y + 55, 410, 30}, 0x9A9A9A);
  rounded(p, {x + 17, y + 128, 446, 112}, 10, kCard);
  fill(p, {x + 17, y + 184, 446, 1}, 0xEDEDED);
  for (int row : {0, 1}) {
    const int ry = y + 128 + 56 * row;
    fill(p, {x + 30, ry + 22, 90, 12}, kText);
    fill(p, {x + 360, ry + 22, 20, 12}, 0x969698);  // the key
    disc(p, x + 406, ry + 28, 7, 0x333338);         // remove
    fill(p, {x + 426, ry + 21, 14, 14}, 0x333338);  // edit
  }
  return d;
}

// Each dialog is found by its own search and by no other, wherever it stands.
TEST(LocateDialog, TellsTheDialogsOfGnome43And48Apart) {
  enum Kind { kConsent, kShortcuts };
  struct Case {
    const char* name;
    std::function<Drawn(Picture&, int, int)> draw;
    Kind kind;
    bool on;
  };
  const Case cases[] = {
      {"GNOME 43 remote desktop, off",
       [](Picture& p, int x, int y) { return drawDialog(p, x, y, false); }, kConsent, false},
      {"GNOME 48 remote desktop, off",
       [](Picture& p, int x, int y) { return drawRemoteDesktop48(p, x, y, false); }, kConsent,
       false},
      {"GNOME 48 remote desktop, on",
       [](Picture& p, int x, int y) { return drawRemoteDesktop48(p, x, y, true); }, kConsent, true},
      {"GNOME 48 shortcuts", drawShortcuts48, kShortcuts, false},
  };
  for (const Case& c : cases) {
    for (auto [x, y] :
         {std::pair{630, 306}, std::pair{720, 425}, std::pair{0, 0}, std::pair{1200, 560}}) {
      SCOPED_TRACE(testing::Message() << c.name << " at " << x << "," << y);
      Picture p = desktop();
      const Drawn drawn = c.draw(p, x, y);
      if (c.kind == kConsent) {
        expectFound(p, drawn, c.on);
        EXPECT_FALSE(consent::locateShortcutsDialog(p));
      } else {
        std::optional<consent::Dialog> found = consent::locateShortcutsDialog(p);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->frame, drawn.frame);
        EXPECT_EQ(found->share, drawn.share);
        EXPECT_FALSE(consent::locateDialog(p));
      }
    }
  }
  EXPECT_FALSE(consent::locateShortcutsDialog(desktop()));
}

// Switches cut from mutter's frames: GTK's own antialiased edges and knob shadow.
TEST(FindToggle, ReadsRealSwitchesInBothStates) {
  for (auto [file, on] : {std::pair{"switch-off.ppm", false}, std::pair{"switch-on.ppm", true}}) {
    SCOPED_TRACE(file);
    std::optional<Picture> p = consent::loadPpm(std::string(WL_TEST_DATA) + "/" + file);
    ASSERT_TRUE(p.has_value());
    std::optional<consent::Toggle> toggle = consent::findToggle(*p, {0, 0, p->width, p->height});
    ASSERT_TRUE(toggle.has_value());
    EXPECT_EQ(toggle->on, on);
    EXPECT_EQ(toggle->box, (Rect{8, 8, 48, 26}));
  }
}

TEST(AccentShare, TellsTheButtonFromWhatReplacedIt) {
  Picture p = desktop();
  Drawn drawn = drawDialog(p, 700, 390, true);
  EXPECT_GT(consent::accentShare(p, drawn.share), 0.8);
  EXPECT_EQ(consent::accentShare(desktop(), drawn.share), 0.0);
  EXPECT_EQ(consent::accentShare(p, {5000, 5000, 10, 10}), 0.0);  // off the picture
}

TEST(Ppm, RoundTripsAndRefusesBrokenFiles) {
  char dir[] = "/tmp/consent-ppm-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string good = std::string(dir) + "/good.ppm", cut = std::string(dir) + "/cut.ppm";
  Picture p{3, 2, {0x102030, 0xFFFFFF, 0x000000, 0x3584E4, 0x010203, 0xFEDCBA}};
  ASSERT_TRUE(consent::savePpm(p, good));
  std::optional<Picture> back = consent::loadPpm(good);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->width, 3);
  EXPECT_EQ(back->height, 2);
  EXPECT_EQ(back->pixels, p.pixels);

  ASSERT_EQ(truncate(good.c_str(), 20), 0);  // header and a pixel and a half
  EXPECT_FALSE(consent::loadPpm(good));
  FILE* f = fopen(cut.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("P3\n1 1\n255\n0 0 0\n", f);  // the text form is not read
  fclose(f);
  EXPECT_FALSE(consent::loadPpm(cut));
  EXPECT_FALSE(consent::loadPpm(std::string(dir) + "/absent.ppm"));
  EXPECT_FALSE(consent::savePpm(p, std::string(dir) + "/no/such/dir.ppm"));
  unlink(good.c_str());
  unlink(cut.c_str());
  rmdir(dir);
}

// The program's window is found as what changed on the screen since a picture taken before it
// showed: the target's frame (its focus) and GNOME 48's clock in the top bar change meanwhile and
// must not widen the window's rectangle.
TEST(ScreenChanged, TheNewWindowAloneOutsideTheRectanglesIgnored) {
  const Picture before = desktop();
  Picture now = before;
  const Rect window{199, 520, 300, 375}, targetFrame{192, 122, 520, 390}, topBar{0, 0, 1920, 32};
  fill(now, window, kBody);
  fill(now, {200, 130, 500, 30}, kHeader);  // the target's title bar, repainted with the focus
  fill(now, {930, 8, 60, 16}, kText);       // the clock's new minute
  // Faint repaint noise of the software renderer, under the tolerance.
  now.pixels[1000 * 1920 + 1500] += 0x0A0A0A;
  struct Case {
    const char* what;
    std::vector<Rect> ignored;
    int count;
    Rect bounds;
  } cases[] = {
      {"nothing ignored", {}, 300 * 375 + 500 * 30 + 60 * 16, {199, 8, 791, 887}},
      {"the target's frame", {targetFrame}, 300 * 375 + 60 * 16, {199, 8, 791, 887}},
      {"the frame and the top bar", {targetFrame, topBar}, 300 * 375, window},
      {"everything", {{0, 0, 1920, 1080}}, 0, {}},
  };
  for (const Case& c : cases) {
    const screen::Changed diff = screen::changed(now, before, 24, c.ignored);
    EXPECT_EQ(diff.count, c.count) << c.what;
    EXPECT_EQ(diff.bounds, c.bounds) << c.what;
  }
  // The rectangles as wl_input's compare reads them: whole groups of four numbers, nothing else.
  const struct {
    const char* text;
    bool good;
    std::vector<Rect> rects;
  } texts[] = {{"", true, {}},
               {" 192 122 520 390 0 0 1920 32", true, {targetFrame, topBar}},
               {"0 0 1920", false, {}},
               {"0 0 1920 32 x", false, {}}};
  for (const auto& t : texts) {
    std::istringstream in(t.text);
    std::vector<Rect> rects;
    EXPECT_EQ(screen::readRects(in, rects), t.good) << t.text;
    if (t.good) {
      EXPECT_EQ(rects, t.rects) << t.text;
    }
  }
}

}  // namespace
