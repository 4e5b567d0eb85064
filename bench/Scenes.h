// Deterministic scenes for the benchmarks at full HD and at 4K: a desktop, a mostly white screen,
// a flat grey screen and a striped screen, with the needles the benchmarks look for. At 4K the
// desktop's layout is twice the size (as a screen scaled to 200 % shows it) while text keeps its
// cell size; the needles keep their sizes and sit at the same place relative to the screen.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/BitmapData.h"

namespace ostrane::bench {

constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;
constexpr int k4KW = 3840;
constexpr int k4KH = 2160;

// A picture as 0xRRGGBB values, top row first.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  Picture(int width, int height, uint32_t fill)
      : w(width), h(height), px(static_cast<size_t>(width) * height, fill) {}
  uint32_t& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
  uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
  void Rect(int x0, int y0, int rw, int rh, uint32_t c) {
    for (int y = std::max(0, y0); y < std::min(h, y0 + rh); ++y)
      for (int x = std::max(0, x0); x < std::min(w, x0 + rw); ++x)
        at(x, y) = c;
  }
};

inline uint32_t Mix(uint32_t a, uint32_t b, int num, int den) {
  auto ch = [&](int s) {
    const int ca = (a >> s) & 255, cb = (b >> s) & 255;
    return uint32_t(ca + (cb - ca) * num / den) << s;
  };
  return ch(16) | ch(8) | ch(0);
}

// Lines of glyph-like strokes in 7 x 10 cells, the way text looks to a pixel search.
inline void Text(Picture& p, std::mt19937& rng, int x0, int y0, int width, int lines,
                 uint32_t ink) {
  for (int l = 0; l < lines; ++l) {
    const int y = y0 + l * 16;
    for (int x = x0; x + 7 <= x0 + width; x += 8) {
      if (rng() % 7 == 0) continue;  // a space
      const uint32_t shape = rng();
      for (int k = 0; k < 5; ++k) {
        const int sx = x + int((shape >> (3 * k)) % 6), sy = y + int((shape >> (3 * k + 15)) % 4);
        const bool vertical = (shape >> (k + 25)) & 1;
        for (int t = 0; t < (vertical ? 7 : 5); ++t) {
          const int px = vertical ? sx : sx + t % 6, py = vertical ? sy + t % 8 : sy + 4;
          if (px < p.w && py < p.h) p.at(px, py) = ink;
        }
      }
    }
  }
}

inline void Icon(Picture& p, std::mt19937& rng, int x0, int y0, int size) {
  const uint32_t a = rng() & 0xFFFFFF, b = rng() & 0xFFFFFF;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const int dx = x - size / 2, dy = y - size / 2;
      const bool inside = dx * dx + dy * dy < size * size / 5;
      p.at(x0 + x, y0 + y) = inside ? Mix(a, b, x + y, 2 * size) : Mix(b, 0xFFFFFF, y, size);
    }
}

// Wallpaper gradient, desktop icons, overlapping windows with title bars, text and a gradient
// panel, and a task bar with icons and a clock along the bottom; `s` is the layout's scale, 1 at
// full HD.
inline Picture Desktop(int width = kScreenW, int height = kScreenH) {
  std::mt19937 rng(1234);
  const int s = std::max(1, width / kScreenW);
  Picture p(width, height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.at(x, y) = Mix(0x1E5A8C, 0x3FA07A, y + x / 8, height + width / 8);
  for (int i = 0; i < 8; ++i)
    Icon(p, rng, 20 * s, (20 + i * 90) * s, 48 * s);
  for (int i = 0; i < 9; ++i) {
    const int w = (500 + int(rng() % 700)) * s, h = (300 + int(rng() % 500)) * s;
    const int x = 100 * s + int(rng() % (width - w - 100 * s));
    const int y = int(rng() % (height - 40 * s - h));
    p.Rect(x - 1, y - 1, w + 2, h + 2, 0x707070);
    for (int t = 0; t < 24 * s; ++t)
      for (int c = 0; c < w; ++c)
        p.at(x + c, y + t) = Mix(0x1F4E99, 0x6FA3E0, c, w);
    p.Rect(x + w - 60 * s, y + 4 * s, 16 * s, 16 * s, 0xE04040);
    p.Rect(x, y + 24 * s, w, h - 24 * s, i % 3 ? 0xFFFFFF : 0xF0F0F0);
    Text(p, rng, x + 10 * s, y + 34 * s, w - 20 * s, (h - 60 * s) / 16 - 4,
         i % 2 ? 0x000000 : 0x202020);
    for (int r = 0; r < 40 * s; ++r)
      for (int c = 0; c < w / 3; ++c)
        p.at(x + 10 * s + c, y + h - 50 * s + r) = Mix(0xF2C94C, 0xEB5757, c + r, w / 3 + 40 * s);
  }
  // The window the text needle is cut from, near the bottom-right.
  p.Rect(width - 620 * s, height - 480 * s, 600 * s, 420 * s, 0xFFFFFF);
  Text(p, rng, width - 610 * s, height - 470 * s, 580 * s, 25 * s, 0x000000);
  p.Rect(0, height - 40 * s, width, 40 * s, 0x2B2B2B);
  for (int i = 0; i < 30; ++i)
    Icon(p, rng, (60 + i * 60) * s, height - 36 * s, 32 * s);
  Text(p, rng, width - 100 * s, height - 28 * s, 80 * s, 1, 0xFFFFFF);
  return p;
}

inline Picture MostlyWhite(int width = kScreenW, int height = kScreenH) {
  std::mt19937 rng(99);
  Picture p(width, height, 0xFFFFFF);
  // Inside a 16-pixel white border of the 64 x 64 needle cut 120 x 100 from the bottom-right.
  Icon(p, rng, width - 104, height - 84, 32);
  return p;
}

inline Picture Striped(int width = kScreenW, int height = kScreenH) {
  Picture p(width, height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.at(x, y) = (y & 1) ? 0xE0E0E0 : 0x202020;
  return p;
}

// Two colours at random: every needle pixel is common.
inline Picture Noise(int width = kScreenW, int height = kScreenH) {
  std::mt19937 rng(77);
  Picture p(width, height, 0);
  for (auto& v : p.px)
    v = (rng() & 1) ? 0xFFFFFF : 0x000000;
  return p;
}

inline Picture Cut(const Picture& from, int x0, int y0, int w, int h) {
  Picture p(w, h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.at(x, y) = from.at(x0 + x, y0 + y);
  return p;
}

inline void Load(TBDBitmapData& b, const Picture& p) {
  b.SetSize(p.w, p.h);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x)
      b.SetPixel(x, y, p.at(x, y));
}

}  // namespace ostrane::bench
