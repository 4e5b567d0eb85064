#include "ConsentLocate.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace consent {

namespace {

int red(uint32_t p) {
  return (p >> 16) & 0xFF;
}
int green(uint32_t p) {
  return (p >> 8) & 0xFF;
}
int blue(uint32_t p) {
  return p & 0xFF;
}
int spread(uint32_t p) {
  return std::max({red(p), green(p), blue(p)}) - std::min({red(p), green(p), blue(p)});
}

}  // namespace

// The theme's accent blue, also lightened by hover: clearly blue, unlike the desktop's dark blue.
bool isAccent(uint32_t p) {
  return blue(p) >= 190 && red(p) < 130 && blue(p) - red(p) >= 110 && blue(p) - green(p) >= 50;
}
// Window backgrounds, header bar and buttons of a light theme.
bool isLight(uint32_t p) {
  return spread(p) <= 12 && std::min({red(p), green(p), blue(p)}) >= 0xD8;
}
// The switch's track when off, with or without hover, and its knob's rim; darker than the cards.
bool isTrackGrey(uint32_t p) {
  return spread(p) <= 6 && green(p) >= 0xC8 && green(p) <= 0xE6;
}
bool isWhite(uint32_t p) {
  return std::min({red(p), green(p), blue(p)}) >= 0xF6;
}

std::vector<Blob> findBlobs(const Picture& picture, Rect area, bool (*member)(uint32_t),
                            int minPixels) {
  area.width = std::min(area.width, picture.width - area.x);
  area.height = std::min(area.height, picture.height - area.y);
  std::vector<Blob> found;
  if (area.x < 0 || area.y < 0 || area.width <= 0 || area.height <= 0) return found;
  std::vector<uint8_t> seen(static_cast<size_t>(area.width) * area.height, 0);
  std::vector<std::pair<int, int>> stack;
  for (int y0 = area.y; y0 < area.y + area.height; ++y0) {
    for (int x0 = area.x; x0 < area.x + area.width; ++x0) {
      uint8_t& first = seen[static_cast<size_t>(y0 - area.y) * area.width + (x0 - area.x)];
      if (first || !member(picture.at(x0, y0))) continue;
      first = 1;
      int left = x0, right = x0, top = y0, bottom = y0, count = 0;
      stack.assign(1, {x0, y0});
      while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        ++count;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        const std::pair<int, int> next[] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (auto [nx, ny] : next) {
          if (!area.contains(nx, ny)) continue;
          uint8_t& mark = seen[static_cast<size_t>(ny - area.y) * area.width + (nx - area.x)];
          if (mark || !member(picture.at(nx, ny))) continue;
          mark = 1;
          stack.push_back({nx, ny});
        }
      }
      if (count >= minPixels)
        found.push_back({{left, top, right - left + 1, bottom - top + 1}, count});
    }
  }
  return found;
}

std::optional<Rect> growLightRect(const Picture& picture, const Rect& button) {
  auto light = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < picture.width && y < picture.height && isLight(picture.at(x, y));
  };
  // Up from the button and right from it through the header bar, then left along the header's
  // padding above the buttons, where no text is.
  int top = button.y - 1;
  while (light(button.centreX(), top))
    --top;
  int right = button.x + button.width;
  while (light(right, button.centreY()))
    ++right;
  const int padding = button.y - 2;
  if (padding <= top) return std::nullopt;
  int left = button.x - 1;
  while (light(left, padding))
    --left;
  // Down the right margin, beside the content, then again from the middle, clear of the rounded
  // corner; the sides likewise from the middle row.
  int bottom = button.y + button.height;
  while (light(right - 4, bottom))
    ++bottom;
  const int middleX = (left + right) / 2;
  while (light(middleX, bottom))
    ++bottom;
  const int middleY = (top + bottom) / 2;
  left += 4;
  while (light(left - 1, middleY))
    --left;
  right -= 4;
  while (light(right, middleY))
    ++right;
  Rect frame{left, top + 1, right - left, bottom - top - 1};
  if (frame.width < 200 || frame.height < 120) return std::nullopt;
  return frame;
}

std::optional<Toggle> findToggle(const Picture& picture, const Rect& area) {
  auto trackOrAccent = [](uint32_t p) { return isTrackGrey(p) || isAccent(p); };
  std::optional<Toggle> found;
  for (const Blob& blob : findBlobs(picture, area, trackOrAccent, 150)) {
    const Rect& box = blob.box;
    if (box.width < 36 || box.width > 72 || box.height < 18 || box.height > 36) continue;
    if (box.width * 10 < box.height * 14 || box.width * 10 > box.height * 26) continue;
    // The knob is a white disc at one end of the track; the other end shows the track.
    const int y = box.centreY();
    const uint32_t leftEnd = picture.at(box.x + box.height / 2, y);
    const uint32_t rightEnd = picture.at(box.x + box.width - 1 - box.height / 2, y);
    bool on = isWhite(rightEnd) && isAccent(leftEnd);
    bool off = isWhite(leftEnd) && isTrackGrey(rightEnd);
    if (!on && !off) continue;
    // The lowest one is the dialog's last row, "Allow remote interaction".
    if (!found || box.y > found->box.y) found = Toggle{box, on};
  }
  return found;
}

namespace {

// The first light dialog grown from a filled accent button at the right end of its header bar
// (Share, Add) that has a switch below the header, or has none, as `withToggle` asks.
std::optional<Dialog> headerDialog(const Picture& picture, bool withToggle) {
  const Rect whole{0, 0, picture.width, picture.height};
  for (const Blob& button : findBlobs(picture, whole, isAccent, 400)) {
    const Rect& box = button.box;
    if (box.height < 20 || box.height > 60 || box.width < 40 || box.width > 300) continue;
    if (button.pixels * 10 < box.width * box.height * 6) continue;  // filled, bar its label
    std::optional<Rect> frame = growLightRect(picture, box);
    if (!frame) continue;
    // The button is the header bar's last, at the dialog's top right.
    if (box.y - frame->y > 24 || frame->x + frame->width - (box.x + box.width) > 24) continue;
    const int below = box.y + box.height + 8;
    Rect content{frame->x + 4, below, frame->width - 8, frame->y + frame->height - 4 - below};
    std::optional<Toggle> toggle = findToggle(picture, content);
    if (toggle.has_value() != withToggle) continue;
    if (!toggle) return Dialog{*frame, {}, false, box};
    return Dialog{*frame, toggle->box, toggle->on, box};
  }
  return std::nullopt;
}

}  // namespace

std::optional<Dialog> locateDialog(const Picture& picture) {
  return headerDialog(picture, true);
}

std::optional<Dialog> locateShortcutsDialog(const Picture& picture) {
  return headerDialog(picture, false);
}

double accentShare(const Picture& picture, const Rect& rect) {
  int accent = 0, all = 0;
  for (int y = std::max(rect.y, 0); y < std::min(rect.y + rect.height, picture.height); ++y)
    for (int x = std::max(rect.x, 0); x < std::min(rect.x + rect.width, picture.width); ++x, ++all)
      accent += isAccent(picture.at(x, y));
  return all ? static_cast<double>(accent) / all : 0.0;
}

Picture marked(const Picture& picture, const Dialog& dialog) {
  Picture copy = picture;
  auto outline = [&](const Rect& r, uint32_t colour) {
    for (int x = r.x - 1; x <= r.x + r.width; ++x)
      for (int y : {r.y - 1, r.y + r.height})
        if (x >= 0 && y >= 0 && x < copy.width && y < copy.height)
          copy.pixels[y * copy.width + x] = colour;
    for (int y = r.y - 1; y <= r.y + r.height; ++y)
      for (int x : {r.x - 1, r.x + r.width})
        if (x >= 0 && y >= 0 && x < copy.width && y < copy.height)
          copy.pixels[y * copy.width + x] = colour;
  };
  outline(dialog.frame, 0xFF0000);
  outline(dialog.toggle, 0x00C000);
  outline(dialog.share, 0xFF00FF);
  return copy;
}

bool savePpm(const Picture& picture, const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "wb"), fclose);
  if (!file) return false;
  fprintf(file.get(), "P6\n%d %d\n255\n", picture.width, picture.height);
  std::vector<uint8_t> row(static_cast<size_t>(picture.width) * 3);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      uint32_t p = picture.at(x, y);
      row[x * 3] = red(p);
      row[x * 3 + 1] = green(p);
      row[x * 3 + 2] = blue(p);
    }
    if (fwrite(row.data(), 1, row.size(), file.get()) != row.size()) return false;
  }
  return true;
}

std::optional<Picture> loadPpm(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
  Picture picture;
  int depth = 0;
  if (!file || fscanf(file.get(), "P6 %d %d %d", &picture.width, &picture.height, &depth) != 3 ||
      depth != 255 || picture.width <= 0 || picture.height <= 0 || picture.width > 16384 ||
      picture.height > 16384 || fgetc(file.get()) == EOF)
    return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(picture.width) * picture.height * 3);
  if (fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return std::nullopt;
  picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height);
  for (size_t i = 0; i < picture.pixels.size(); ++i)
    picture.pixels[i] = bytes[i * 3] << 16 | bytes[i * 3 + 1] << 8 | bytes[i * 3 + 2];
  return picture;
}

}  // namespace consent
