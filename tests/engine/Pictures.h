// Small helpers for building bitmaps and screens in tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "engine/BitmapData.h"

namespace ostrane::testkit {

// A picture as rows of 0xRRGGBB values, top row first.
using Rows = std::vector<std::vector<uint32_t>>;

inline void Fill(TBDBitmapData& bitmap, const Rows& rows) {
  const auto h = static_cast<int32_t>(rows.size());
  const auto w = h ? static_cast<int32_t>(rows[0].size()) : 0;
  bitmap.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      bitmap.SetPixel(x, y, rows[y][x]);
}

inline Rows Solid(int32_t w, int32_t h, uint32_t rgb) {
  return Rows(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w), rgb));
}

// Copies `patch` into `rows` with its top-left corner at (x, y).
inline void Paste(Rows& rows, const Rows& patch, int32_t x, int32_t y) {
  for (size_t r = 0; r < patch.size(); ++r)
    for (size_t c = 0; c < patch[r].size(); ++c)
      rows[y + r][x + c] = patch[r][c];
}

}  // namespace ostrane::testkit
