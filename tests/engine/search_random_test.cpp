// The search compared with an independent, obviously correct reference on many seeded random
// cases. Few colours make exact and near matches frequent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "engine/BitmapData.h"
#include "engine/FastSearch.h"
#include "tests/engine/Pictures.h"

namespace ostrane {
namespace {

using testkit::Rows;

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

// One seeded case: a haystack and a needle from a palette of a few nearby colours, the needle
// often cut from the haystack and sometimes altered in one pixel.
struct Case {
  Rows hay, needle;
  TColorTolerance tol;
};

template <typename Pick>
Case MakeCase(Pick pick, int maxW, int maxH) {
  Case c;
  const int hw = pick(1, maxW), hh = pick(1, maxH);
  // Needles from 1 x 1 up to the haystack's own width, and now and then one wider or taller.
  int nw;
  switch (pick(0, 3)) {
    case 0:
      nw = 1;
      break;
    case 1:
      nw = hw + (pick(0, 9) == 0 ? 1 : 0);
      break;
    default:
      nw = pick(1, std::min(hw + 1, pick(0, 1) ? 6 : maxW));
      break;
  }
  const int nh = pick(0, 4) == 0 ? 1 : pick(1, std::min(hh + 1, 5));
  std::vector<uint32_t> palette;
  for (int k = pick(1, 3); k > 0; --k)
    palette.push_back(MakePixel(uint8_t(pick(0, 3) * 10), uint8_t(200 + pick(0, 2) * 13),
                                uint8_t(pick(0, 1) * 255)));
  c.hay.assign(hh, std::vector<uint32_t>(hw));
  for (auto& row : c.hay)
    for (auto& p : row)
      p = palette[pick(0, int(palette.size()) - 1)];
  c.needle.assign(nh, std::vector<uint32_t>(nw));
  const bool cut = nw <= hw && nh <= hh && pick(0, 2) != 0;
  const int cx = cut ? pick(0, hw - nw) : 0, cy = cut ? pick(0, hh - nh) : 0;
  for (int r = 0; r < nh; ++r)
    for (int col = 0; col < nw; ++col)
      c.needle[r][col] = cut ? c.hay[cy + r][cx + col] : palette[pick(0, int(palette.size()) - 1)];
  if (cut && pick(0, 1)) c.needle[pick(0, nh - 1)][pick(0, nw - 1)] ^= uint32_t(pick(1, 15));
  const int tv = pick(0, 4) == 0 ? pick(-2, 255) : pick(0, 30);
  c.tol = {tv, pick(0, 3) ? tv : pick(-2, 255), pick(0, 5) ? tv : pick(-2, 40)};
  return c;
}

// How often the exact search took the paths that are rare on real screens.
struct Paths {
  int hashed = 0;    // changed to the rolling hash
  int periodic = 0;  // looked for candidates in every k-th row only
};

// Runs `cases` seeded cases with `options` and returns how many had an exact match.
int CheckCases(const search::SearchOptions& options, uint32_t seed, int cases, int maxW, int maxH,
               bool offsets, Paths* paths = nullptr) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int found = 0;
  for (int i = 0; i < cases; ++i) {
    const Case c = MakeCase(pick, maxW, maxH);
    TBDBitmapData h, n;
    testkit::Fill(h, c.hay);
    testkit::Fill(n, c.needle);
    const std::string where = "seed " + std::to_string(seed) + " case " + std::to_string(i) +
                              " hay " + std::to_string(h.Width) + "x" + std::to_string(h.Height) +
                              " needle " + std::to_string(n.Width) + "x" + std::to_string(n.Height);
    int32_t x = 7, y = 7;
    const auto want = RefFind(c.hay, c.needle, nullptr);
    EXPECT_EQ(h.FindImage(n, options, x, y), want.first >= 0) << where;
    EXPECT_EQ(std::pair(int(x), int(y)), want) << where;
    const auto wantT = RefFind(c.hay, c.needle, &c.tol);
    EXPECT_EQ(h.FindImageWithTolerance(n, c.tol, options, x, y), wantT.first >= 0)
        << where << " tol " << c.tol.R << "," << c.tol.G << "," << c.tol.B;
    EXPECT_EQ(std::pair(int(x), int(y)), wantT)
        << where << " tol " << c.tol.R << "," << c.tol.G << "," << c.tol.B;
    if (paths) {
      search::Trace trace;
      search::Find(h, n, nullptr, options, x, y, &trace);
      paths->hashed += trace.method == search::Method::Hash;
      paths->periodic += trace.rowPeriod > 1;
    }
    if (::testing::Test::HasFailure()) return found;
    found += want.first >= 0;

    for (int k = 0; offsets && k < 4; ++k) {
      const int ox = pick(-1, h.Width), oy = pick(-1, h.Height);
      EXPECT_EQ(h.MatchAt(n, ox, oy), RefMatch(c.hay, c.needle, ox, oy, nullptr)) << where;
      EXPECT_EQ(h.MatchAtWithTolerance(n, c.tol, ox, oy), RefMatch(c.hay, c.needle, ox, oy, &c.tol))
          << where;
    }
  }
  return found;
}

// Every dispatch level the processor offers; the search must answer the same at each.
class SearchEquivalence : public ::testing::TestWithParam<search::Level> {
 protected:
  void SetUp() override {
    if (search::UsableLevel(GetParam()) != GetParam()) GTEST_SKIP() << "level not available";
    options_.level = GetParam();
  }
  search::SearchOptions options_;
};

TEST_P(SearchEquivalence, AgreesWithReferenceOnSmallRandomCases) {
  constexpr int kCases = 12000;
  Paths paths;
  const int found = CheckCases(options_, 20261208, kCases, 14, 10, true, &paths);
  // Few colours make every class of rows as good as another: about a fifth of the needles (many
  // are one row, or larger than the haystack) are looked for in every k-th row only.
  EXPECT_GT(paths.periodic, kCases / 8);
  // The generator must produce both outcomes often, or the comparison proves little.
  EXPECT_GT(found, kCases / 4);
  EXPECT_LT(found, kCases * 3 / 4 + kCases / 5);
}

// Widths up to 100 pixels run the 32- and 16-pixel vector blocks and every tail length, with
// every row padding.
TEST_P(SearchEquivalence, AgreesWithReferenceOnWideRandomCases) {
  CheckCases(options_, 7, 4000, 100, 6, false);
}

// Told to change at once, the exact search changes to the rolling hash after its first row: the
// hash must find the same first match.
TEST_P(SearchEquivalence, RollingHashAgreesWithReference) {
  options_.hashSwitchWork = -1;
  Paths paths;
  CheckCases(options_, 99, 4000, 40, 24, false, &paths);
  // The others are found in their first row, have only one, or no offset of their first row
  // passes the probes.
  EXPECT_GT(paths.hashed, 300);
}

// Every haystack split into parts of one or a few offset rows, shared with the helper thread, with
// and without the rolling hash in each part: the lowest part with a match must give the answer.
TEST_P(SearchEquivalence, SplitSearchAgreesWithReference) {
  for (const int32_t rows : {1, 3}) {
    options_.splitMinPixels = 0;
    options_.splitMinRows = rows;
    options_.hashSwitchWork = search::kDefaultHashSwitchWork;
    CheckCases(options_, 31 + rows, 3000, 30, 40, false);
    options_.hashSwitchWork = -1;
    CheckCases(options_, 41 + rows, 2000, 30, 40, false);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, SearchEquivalence,
                         ::testing::Values(search::Level::Scalar, search::Level::Sse2,
                                           search::Level::Avx2),
                         [](const auto& info) {
                           switch (info.param) {
                             case search::Level::Scalar:
                               return std::string("Scalar");
                             case search::Level::Sse2:
                               return std::string("Sse2");
                             case search::Level::Avx2:
                               return std::string("Avx2");
                           }
                           return std::string("Unknown");
                         });

}  // namespace
}  // namespace ostrane
