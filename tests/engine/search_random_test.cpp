// The search compared with an independent, obviously correct reference on many seeded random
// cases. Few colours make exact and near matches frequent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "engine/BitmapData.h"
#include "tests/engine/Pictures.h"

namespace ostrane {
namespace {

using testing::Rows;

bool RefPixelOk(uint32_t h, uint32_t n, const TColorTolerance* t) {
  if (!t) return h == n;
  const int dr = int((h >> 16) & 255) - int((n >> 16) & 255);
  const int dg = int((h >> 8) & 255) - int((n >> 8) & 255);
  const int db = int(h & 255) - int(n & 255);
  return std::abs(dr) <= t->R && std::abs(dg) <= t->G && std::abs(db) <= t->B;
}

bool RefMatch(const Rows& hay, const Rows& needle, int x, int y, const TColorTolerance* t) {
  const int hh = int(hay.size()), hw = int(hay[0].size());
  const int nh = int(needle.size()), nw = int(needle[0].size());
  if (x < 0 || y < 0 || x + nw > hw || y + nh > hh) return false;
  for (int r = 0; r < nh; ++r)
    for (int c = 0; c < nw; ++c)
      if (!RefPixelOk(hay[y + r][x + c], needle[r][c], t)) return false;
  return true;
}

std::pair<int, int> RefFind(const Rows& hay, const Rows& needle, const TColorTolerance* t) {
  for (int y = 0; y < int(hay.size()); ++y)
    for (int x = 0; x < int(hay[0].size()); ++x)
      if (RefMatch(hay, needle, x, y, t)) return {x, y};
  return {-1, -1};
}

TEST(SearchEquivalence, AgreesWithReferenceOnRandomCases) {
  std::mt19937 rng(20261208);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int found = 0;
  constexpr int kCases = 6000;
  for (int i = 0; i < kCases; ++i) {
    const int hw = pick(1, 14), hh = pick(1, 10);
    const int nw = pick(1, std::min(hw + 1, 6)), nh = pick(1, std::min(hh + 1, 5));
    // A small palette of nearby colours, so that tolerance decides.
    std::vector<uint32_t> palette;
    for (int k = pick(1, 3); k > 0; --k)
      palette.push_back(MakePixel(uint8_t(pick(0, 3) * 10), uint8_t(200 + pick(0, 2) * 13),
                                  uint8_t(pick(0, 1) * 255)));
    Rows hay(hh, std::vector<uint32_t>(hw));
    for (auto& row : hay)
      for (auto& p : row)
        p = palette[pick(0, int(palette.size()) - 1)];
    Rows needle(nh, std::vector<uint32_t>(nw));
    const bool cut = nw <= hw && nh <= hh && pick(0, 2) != 0;
    const int cx = cut ? pick(0, hw - nw) : 0, cy = cut ? pick(0, hh - nh) : 0;
    for (int r = 0; r < nh; ++r)
      for (int c = 0; c < nw; ++c)
        needle[r][c] = cut ? hay[cy + r][cx + c] : palette[pick(0, int(palette.size()) - 1)];
    if (cut && pick(0, 1)) needle[pick(0, nh - 1)][pick(0, nw - 1)] ^= uint32_t(pick(1, 15));

    TBDBitmapData h, n;
    testing::Fill(h, hay);
    testing::Fill(n, needle);
    const int tv = pick(0, 4) == 0 ? pick(-2, 255) : pick(0, 30);
    const TColorTolerance tol{tv, pick(0, 3) ? tv : pick(-2, 40), tv};

    int32_t x = 7, y = 7;
    const auto want = RefFind(hay, needle, nullptr);
    ASSERT_EQ(h.FindImage(n, x, y), want.first >= 0) << "case " << i;
    ASSERT_EQ(std::pair(int(x), int(y)), want) << "case " << i;
    const auto wantT = RefFind(hay, needle, &tol);
    ASSERT_EQ(h.FindImageWithTolerance(n, tol, x, y), wantT.first >= 0) << "case " << i;
    ASSERT_EQ(std::pair(int(x), int(y)), wantT) << "case " << i;
    found += want.first >= 0;

    for (int k = 0; k < 4; ++k) {
      const int ox = pick(-1, hw), oy = pick(-1, hh);
      ASSERT_EQ(h.MatchAt(n, ox, oy), RefMatch(hay, needle, ox, oy, nullptr)) << "case " << i;
      ASSERT_EQ(h.MatchAtWithTolerance(n, tol, ox, oy), RefMatch(hay, needle, ox, oy, &tol))
          << "case " << i;
    }
  }
  // The generator must produce both outcomes often, or the comparison proves little.
  EXPECT_GT(found, kCases / 4);
  EXPECT_LT(found, kCases * 3 / 4 + kCases / 5);
}

}  // namespace
}  // namespace ostrane
