// Test pictures for capture and search tests on real desktops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace ostrane::testkit {

// w x h values 0xRRGGBB, top row first, with no two equal rows or columns, so that a wrong
// offset or a wrong row order cannot match.
inline std::vector<uint32_t> Pattern(int w, int h, uint32_t seed) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels[static_cast<size_t>(y) * w + x] =
          ((x * 37 + seed) & 255) << 16 | ((y * 53 + seed * 3) & 255) << 8 | ((x * y + seed) & 255);
  return pixels;
}

// w x h random values 0xRRGGBB, the same for the same seed: for pictures too large for Pattern
// to keep rows and columns apart.
inline std::vector<uint32_t> Noise(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (auto& p : pixels)
    p = rng() & 0xFFFFFF;
  return pixels;
}

}  // namespace ostrane::testkit
