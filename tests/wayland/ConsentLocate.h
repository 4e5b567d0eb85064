// Finds the portal's consent dialog, its "Allow remote interaction" switch and its Share button
// in a screen picture, and GNOME's "Add Keyboard Shortcuts" dialog with its Add button. Pure
// functions over a picture, so that they can be tried on synthetic ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace consent {

// 0x00RRGGBB per pixel, rows top to bottom: a BGRx row read as little-endian words.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;

  int centreX() const { return x + width / 2; }
  int centreY() const { return y + height / 2; }
  bool contains(int px, int py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
  bool operator==(const Rect&) const = default;
};

struct Dialog {
  Rect frame;   // the dialog's light rectangle
  Rect toggle;  // the "Allow remote interaction" switch; empty in the shortcuts dialog
  bool toggleOn = false;
  Rect share;  // the Share button, or Add
  bool operator==(const Dialog&) const = default;
};

// The whole search: the dialog is the light rectangle grown from a filled accent-blue button at
// the right end of its header bar (Share), with a switch below the header. GNOME 43's dialog and
// GNOME 48's larger one, with its "Remember This Selection" box, alike.
std::optional<Dialog> locateDialog(const Picture& picture);
// The same kind of dialog with no switch: GNOME's "Add Keyboard Shortcuts" (Cancel, the title,
// Add; a row per shortcut).
std::optional<Dialog> locateShortcutsDialog(const Picture& picture);

// Its parts, exposed for the tests.
bool isAccent(uint32_t pixel);
bool isLight(uint32_t pixel);
bool isTrackGrey(uint32_t pixel);
bool isWhite(uint32_t pixel);

struct Blob {
  Rect box;
  int pixels = 0;
};
// 4-connected regions of member pixels inside area, of at least minPixels.
std::vector<Blob> findBlobs(const Picture& picture, Rect area, bool (*member)(uint32_t),
                            int minPixels);
// The light window around a header-bar button, or nothing when it is too small for a dialog.
std::optional<Rect> growLightRect(const Picture& picture, const Rect& button);

struct Toggle {
  Rect box;
  bool on = false;
};
// The lowest switch in area: a pill of grey or accent track with a white knob at one end.
std::optional<Toggle> findToggle(const Picture& picture, const Rect& area);

// The share of accent-blue pixels in rect: near 1 while the Share button is there.
double accentShare(const Picture& picture, const Rect& rect);

// A copy with the dialog, the switch and the button outlined, for looking at saved frames.
Picture marked(const Picture& picture, const Dialog& dialog);

// Writes the picture as a binary PPM; false when the file cannot be written.
bool savePpm(const Picture& picture, const std::string& path);
std::optional<Picture> loadPpm(const std::string& path);

}  // namespace consent
