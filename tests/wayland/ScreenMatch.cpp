#include "ScreenMatch.h"

#include <algorithm>
#include <cstdlib>

namespace screen {

namespace {

int channelDistance(uint32_t a, uint32_t b) {
  int most = 0;
  for (int shift : {0, 8, 16})
    most = std::max(most, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return most;
}

// The share of points along column x (or row y when `row`) whose pixel is the inverse of the
// one `offset` further on; the crossing's neighbourhood is left out.
double invertedShare(const consent::Picture& picture, int x, int y, int offset, bool row) {
  const int length = row ? picture.width : picture.height;
  const int across = row ? y : x;
  const int along = row ? x : y;
  if (across + offset < 0 || across + offset >= (row ? picture.height : picture.width) ||
      across < 0 || across >= (row ? picture.height : picture.width))
    return 0;
  int looked = 0, inverted = 0;
  for (int i = 0; i < length; i += 5) {
    if (std::abs(i - along) <= 3) continue;
    const uint32_t here = row ? picture.at(i, across) : picture.at(across, i);
    const uint32_t there = row ? picture.at(i, across + offset) : picture.at(across + offset, i);
    ++looked;
    if ((here ^ 0xFFFFFF) == there) ++inverted;
  }
  return looked ? double(inverted) / looked : 0;
}

}  // namespace

std::optional<std::pair<int, int>> find(const consent::Picture& seen,
                                        const consent::Picture& wanted) {
  for (int y = 0; y + wanted.height <= seen.height; ++y)
    for (int x = 0; x + wanted.width <= seen.width; ++x) {
      bool match = true;
      for (int j = 0; j < wanted.height && match; ++j)
        for (int i = 0; i < wanted.width && match; ++i)
          match = seen.at(x + i, y + j) == wanted.at(i, j);
      if (match) return std::pair{x, y};
    }
  return std::nullopt;
}

int differing(const consent::Picture& seen, const consent::Picture& wanted, int x, int y) {
  int wrong = 0;
  for (int j = 0; j < wanted.height; ++j)
    for (int i = 0; i < wanted.width; ++i) {
      const int sx = x + i, sy = y + j;
      if (sx < 0 || sy < 0 || sx >= seen.width || sy >= seen.height ||
          seen.at(sx, sy) != wanted.at(i, j))
        ++wrong;
    }
  return wrong;
}

Changed changed(const consent::Picture& now, const consent::Picture& before, int tolerance,
                const std::vector<consent::Rect>& ignored) {
  const auto isIgnored = [&](int x, int y) {
    return std::any_of(ignored.begin(), ignored.end(),
                       [&](const consent::Rect& r) { return r.contains(x, y); });
  };
  int count = 0, left = now.width, top = now.height, right = -1, bottom = -1;
  for (int y = 0; y < now.height; ++y)
    for (int x = 0; x < now.width; ++x)
      if (channelDistance(now.at(x, y), before.at(x, y)) > tolerance && !isIgnored(x, y)) {
        ++count;
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (!count) return {};
  return {count, {left, top, right - left + 1, bottom - top + 1}};
}

bool readRects(std::istream& in, std::vector<consent::Rect>& rects) {
  std::vector<int> v;
  for (int n; in >> n;)
    v.push_back(n);
  if (!in.eof() || v.size() % 4) return false;
  for (size_t i = 0; i < v.size(); i += 4)
    rects.push_back({v[i], v[i + 1], v[i + 2], v[i + 3]});
  return true;
}

bool crosshairAt(const consent::Picture& picture, int x, int y) {
  constexpr double kMost = 0.8;
  for (bool row : {false, true})
    for (int offset : {-2, 2})
      if (invertedShare(picture, x, y, offset, row) < kMost) return false;
  return true;
}

}  // namespace screen
