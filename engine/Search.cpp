#include "engine/Search.h"

namespace ostrane::search {

namespace {

template <typename Match>
bool Scan(const TBDBitmapData& haystack, const TBDBitmapData& needle, Match match, int32_t& x,
          int32_t& y) {
  x = -1;
  y = -1;
  if (needle.Width > haystack.Width || needle.Height > haystack.Height) return false;
  const int32_t lastY = haystack.Height - needle.Height;
  const int32_t lastX = haystack.Width - needle.Width;
  for (int32_t oy = 0; oy <= lastY; ++oy) {
    for (int32_t ox = 0; ox <= lastX; ++ox) {
      if (match(ox, oy)) {
        x = ox;
        y = oy;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool ScanExact(const TBDBitmapData& haystack, const TBDBitmapData& needle, int32_t& x, int32_t& y) {
  return Scan(
      haystack, needle, [&](int32_t ox, int32_t oy) { return haystack.MatchAt(needle, ox, oy); }, x,
      y);
}

bool ScanWithTolerance(const TBDBitmapData& haystack, const TBDBitmapData& needle,
                       const TColorTolerance& tolerance, int32_t& x, int32_t& y) {
  return Scan(
      haystack, needle,
      [&](int32_t ox, int32_t oy) {
        return haystack.MatchAtWithTolerance(needle, tolerance, ox, oy);
      },
      x, y);
}

}  // namespace ostrane::search
