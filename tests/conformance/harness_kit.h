// What the desktop suite and its harnesses share: the pointer's events as they reached a
// picture, the session's size as text, and the pixels of a capture.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/PixelRows.h"

namespace ostrane::testkit {

// A pointer event as it reached a picture.
struct Arrival {
  enum Kind { Move, Press, Release };
  Kind kind;
  int button;            // 1 for the left button; 0 for a move
  int screenX, screenY;  // on the screen
  int x, y;              // in the picture
};

// "WIDTHxHEIGHT" as a size; nothing for any other text.
inline std::optional<platform::ScreenSize> ParseScreenSize(const std::string& text) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || x != 'x' || w <= 0 || h <= 0)
    return std::nullopt;
  return platform::ScreenSize{w, h};
}

// The colour of the pixel at column x, row y from the top, of rows stored bottom row first.
inline uint32_t RgbAt(const uint8_t* bits, int32_t lineBytes, int32_t height, int x, int y) {
  const uint8_t* p = platform::PixelFromTop(bits, height, lineBytes, x, y);
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

inline std::vector<Arrival> OfKind(const std::vector<Arrival>& arrivals, Arrival::Kind kind) {
  std::vector<Arrival> out;
  std::copy_if(arrivals.begin(), arrivals.end(), std::back_inserter(out),
               [kind](const Arrival& a) { return a.kind == kind; });
  return out;
}

inline std::vector<Arrival> Buttons(const std::vector<Arrival>& arrivals) {
  std::vector<Arrival> out;
  std::copy_if(arrivals.begin(), arrivals.end(), std::back_inserter(out),
               [](const Arrival& a) { return a.kind != Arrival::Move; });
  return out;
}

}  // namespace ostrane::testkit
