// The choices the fast search makes (anchor, row period, second probe, learned checks, rolling
// hash, the answers decided without pixels); its kernels are in search_kernels_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/BitmapData.h"
#include "engine/FastSearch.h"
#include "engine/Search.h"
#include "engine/simd/Kernels.h"
#include "tests/engine/Pictures.h"

namespace ostrane {
namespace {

using search::Level;
using search::Method;
using search::SearchOptions;
using search::Trace;
using testkit::Fill;
using testkit::Paste;
using testkit::Rows;
using testkit::Solid;

struct Answer {
  bool found;
  int32_t x, y;
  friend bool operator==(const Answer&, const Answer&) = default;
};

Answer Fast(const TBDBitmapData& hay, const TBDBitmapData& needle, const TColorTolerance* tol,
            Trace* trace = nullptr, const SearchOptions& options = {}) {
  Answer a{};
  a.found = search::Find(hay, needle, tol, options, a.x, a.y, trace);
  return a;
}

Answer Scan(const TBDBitmapData& hay, const TBDBitmapData& needle, const TColorTolerance* tol) {
  Answer a{};
  a.found = tol ? search::ScanWithTolerance(hay, needle, *tol, a.x, a.y)
                : search::ScanExact(hay, needle, a.x, a.y);
  return a;
}

constexpr TColorTolerance kTol25{25, 25, 25};

std::vector<Level> Levels() {
  std::vector<Level> levels{Level::Scalar};
  if (search::UsableLevel(Level::Sse2) == Level::Sse2) levels.push_back(Level::Sse2);
  if (search::UsableLevel(Level::Avx2) == Level::Avx2) levels.push_back(Level::Avx2);
  return levels;
}

SearchOptions AtLevel(Level level) {
  SearchOptions options;
  options.level = level;
  return options;
}

TEST(FastSearch, RequestedLevelIsUsedAndClampedToWhatExists) {
  EXPECT_EQ(search::UsableLevel(Level::Scalar), Level::Scalar);
  TBDBitmapData hay, needle;
  Fill(hay, Solid(4, 4, 0x101010));
  Fill(needle, Solid(2, 2, 0x101010));
  Trace trace;
  Fast(hay, needle, nullptr, &trace, AtLevel(Level::Scalar));
  EXPECT_EQ(trace.level, Level::Scalar);
  const Level best = search::UsableLevel(Level::Avx2);
  EXPECT_EQ(best, search::simd::BestAvailableLevel());
  Fast(hay, needle, nullptr, &trace, AtLevel(Level::Avx2));
  EXPECT_EQ(trace.level, best);
#if defined(__x86_64__)
  EXPECT_NE(best, Level::Scalar) << "x86-64 always has SSE2";
#endif
}

// The names OSTRANE_SEARCH_LEVEL accepts, never above what the processor offers; anything else
// leaves the best level.
TEST(FastSearch, LevelNamesAreReadAndCappedAtTheBest) {
  EXPECT_EQ(search::LevelNamed("scalar", Level::Avx2), Level::Scalar);
  EXPECT_EQ(search::LevelNamed("sse2", Level::Avx2), Level::Sse2);
  EXPECT_EQ(search::LevelNamed("avx2", Level::Avx2), Level::Avx2);
  EXPECT_EQ(search::LevelNamed("avx2", Level::Sse2), Level::Sse2);
  EXPECT_EQ(search::LevelNamed("sse2", Level::Scalar), Level::Scalar);
  EXPECT_EQ(search::LevelNamed(nullptr, Level::Sse2), Level::Sse2);
  EXPECT_EQ(search::LevelNamed("AVX2", Level::Sse2), Level::Sse2);
  EXPECT_EQ(search::LevelNamed("", Level::Avx2), Level::Avx2);
  EXPECT_LE(search::LevelFromEnvironment(), search::simd::BestAvailableLevel());
}

TEST(FastSearch, AnswersDecidedWithoutPixels) {
  TBDBitmapData hay, needle, wide, empty;
  Fill(hay, Solid(6, 5, 0x336699));
  Fill(needle, Solid(2, 2, 0x336699));
  Fill(wide, Solid(7, 1, 0x336699));
  struct Case {
    const TBDBitmapData* needle;
    TColorTolerance tol;
    bool exact;
    Method method;
    Answer want;
  };
  const Case cases[] = {
      {&wide, {}, true, Method::Trivial, {false, -1, -1}},
      {&wide, {255, 255, 255}, false, Method::Trivial, {false, -1, -1}},
      // A negative tolerance in any one channel matches nothing, not even equal pixels.
      {&needle, {-1, 5, 5}, false, Method::Trivial, {false, -1, -1}},
      {&needle, {5, 5, -2}, false, Method::Trivial, {false, -1, -1}},
      // 255 and more in every channel matches everything: the first offset.
      {&needle, {255, 300, 1000}, false, Method::Trivial, {true, 0, 0}},
      // 255 in two channels only is a real search.
      {&needle, {255, 255, 0}, false, Method::Anchor, {true, 0, 0}},
      {&empty, {}, true, Method::Reference, Scan(hay, empty, nullptr)},
  };
  for (const Case& c : cases) {
    Trace trace;
    const Answer got = Fast(hay, *c.needle, c.exact ? nullptr : &c.tol, &trace);
    EXPECT_EQ(got, c.want) << c.tol.R << "," << c.tol.G << "," << c.tol.B;
    EXPECT_EQ(trace.method, c.method) << c.tol.R << "," << c.tol.G << "," << c.tol.B;
  }
}

TEST(FastSearch, AnchorIsTheRarePixelNotTheBackground) {
  // A white screen; the needle is white with one red and one blue pixel, found twice.
  Rows screen = Solid(300, 120, 0xFFFFFF);
  Rows mark = Solid(20, 10, 0xFFFFFF);
  mark[3][5] = 0xFF0000;
  mark[8][17] = 0x0000FF;
  Paste(screen, mark, 250, 90);
  Paste(screen, mark, 40, 100);
  TBDBitmapData hay, needle;
  Fill(hay, screen);
  Fill(needle, mark);
  for (const Level level : Levels()) {
    const SearchOptions options = AtLevel(level);
    for (const TColorTolerance* tol : {static_cast<const TColorTolerance*>(nullptr), &kTol25}) {
      Trace trace;
      EXPECT_EQ(Fast(hay, needle, tol, &trace, options), (Answer{true, 250, 90}));
      EXPECT_EQ(trace.method, Method::Anchor);
      EXPECT_TRUE((trace.anchorX == 5 && trace.anchorY == 3) ||
                  (trace.anchorX == 17 && trace.anchorY == 8))
          << trace.anchorX << "," << trace.anchorY;
      EXPECT_LE(trace.candidates, 4);
    }
  }
}

// The colour sample must span the whole width, whatever it is. Left of column 128 a grey ground
// with a dark pixel in every eight; right of it all blue. The needle is blue around one dark
// pixel: dark is the rarer colour, unless the sample never looks right of column 128 and takes
// blue for unseen.
TEST(FastSearch, ColourSampleSpansTheWholeWidth) {
  for (const int width : {160, 200, 255, 256, 400, 1000}) {
    Rows screen = Solid(width, 64, 0x0000C0);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 128; ++x)
        screen[y][x] = (x + 3 * y) % 8 ? 0x909090 : 0x101010;
    Rows mark = Solid(3, 3, 0x0000C0);
    mark[1][1] = 0x101010;
    TBDBitmapData hay, needle;
    Fill(hay, screen);
    Fill(needle, mark);
    for (const TColorTolerance* tol : {static_cast<const TColorTolerance*>(nullptr), &kTol25}) {
      Trace trace;
      EXPECT_EQ(Fast(hay, needle, tol, &trace), Scan(hay, needle, tol)) << width;
      EXPECT_EQ(trace.anchorX, 1) << "width " << width;
      EXPECT_EQ(trace.anchorY, 1) << "width " << width;
    }
  }
}

// A needle with rare colours in every row is looked for in every eighth haystack row only, each
// offset row with the pixels of its own class of needle rows: a copy is found at every offset
// row, whichever class it falls in, also with a second copy further on. A needle rare in one
// row alone is looked for in every row.
TEST(FastSearch, RowPeriodFindsTheFirstMatchInEveryClassOfRows) {
  Rows mark(10, std::vector<uint32_t>(12));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x)
      mark[y][x] = 0x400000 + 0x1100u * uint32_t(y) + 0x11u * uint32_t(x);
  Rows odd = Solid(12, 10, 0x808080);
  odd[0][11] = 0x80FF80;
  for (const Level level : Levels()) {
    for (const TColorTolerance* tol : {static_cast<const TColorTolerance*>(nullptr), &kTol25}) {
      for (int y = 0; y < 10; ++y) {
        for (const auto& [needlePicture, period] : {std::pair{&mark, 8}, std::pair{&odd, 1}}) {
          Rows screen = Solid(200, 60, 0x808080);
          Paste(screen, *needlePicture, 150, y + 30);
          Paste(screen, *needlePicture, 20 + 7 * y, y);
          TBDBitmapData hay, needle;
          Fill(hay, screen);
          Fill(needle, *needlePicture);
          Trace trace;
          EXPECT_EQ(Fast(hay, needle, tol, &trace, AtLevel(level)), (Answer{true, 20 + 7 * y, y}))
              << "row " << y;
          EXPECT_EQ(trace.rowPeriod, period) << "row " << y;
        }
      }
    }
  }
  // A needle too tall to judge every row (every third of 260): the classes are made of the rows
  // judged, and a copy at every offset row is still found.
  Rows tall(260, std::vector<uint32_t>(6));
  for (int y = 0; y < 260; ++y)
    for (int x = 0; x < 6; ++x)
      tall[y][x] = 0x010000u * uint32_t(y % 256) + 0x100u * uint32_t(y / 256 * 40 + x) + 7;
  for (int y = 0; y < 9; ++y) {
    Rows screen = Solid(40, 280, 0x808080);
    Paste(screen, tall, 30, 10);
    Paste(screen, tall, 3 + y, y);
    TBDBitmapData hay, needle;
    Fill(hay, screen);
    Fill(needle, tall);
    Trace trace;
    EXPECT_EQ(Fast(hay, needle, nullptr, &trace), (Answer{true, 3 + y, y})) << "row " << y;
    EXPECT_GT(trace.rowPeriod, 1) << "row " << y;
  }
}

TEST(FastSearch, FailingPixelIsLearnedOnRepetitiveScreens) {
  // Horizontal stripes of two colours; the needle is a piece of them whose last pixel has the
  // other stripe's colour, so every pixel but one agrees at half the offsets.
  Rows screen(200, std::vector<uint32_t>(300));
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      screen[y][x] = (y & 1) ? 0xE0E0E0 : 0x202020;
  Rows piece(24, std::vector<uint32_t>(24));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x)
      piece[y][x] = screen[y][x];
  piece[23][23] = 0x202020;
  TBDBitmapData hay, needle;
  Fill(hay, screen);
  Fill(needle, piece);
  const int64_t offsets = (300 - 24 + 1) * (200 - 24 + 1);
  for (const Level level : Levels()) {
    const SearchOptions options = AtLevel(level);
    for (const TColorTolerance* tol : {static_cast<const TColorTolerance*>(nullptr), &kTol25}) {
      Trace trace;
      EXPECT_EQ(Fast(hay, needle, tol, &trace, options), (Answer{false, -1, -1}));
      EXPECT_EQ(trace.method, Method::Anchor);
      EXPECT_GE(trace.learned, 1);
      // Once learned, the failing pixel filters in the vector scan: few offsets get through.
      EXPECT_LT(trace.candidates, offsets / 20);
    }
  }
}

// Noise of white and black. Where black is as common as white, the eight probes along the rows
// leave one offset in 256 and the exact search stays on them. Where a quarter is black and the
// needle is a white block (framed in black where it is pasted), every probe passes at most offsets
// and verification fails at varying pixels: the exact search changes to the rolling hash; the
// tolerant one cannot, and narrows the flood with its probes.
TEST(FastSearch, CandidateFloodSwitchesExactSearchToRollingHash) {
  struct Case {
    uint32_t blackOneIn;
    bool whiteNeedle;  // a white block pasted at the place, or else the screen's piece there
    Method method;
  };
  for (const Case k : {Case{2, false, Method::Anchor}, Case{4, true, Method::Hash}}) {
    std::mt19937 rng(5);
    Rows noise(80, std::vector<uint32_t>(120));
    for (auto& row : noise)
      for (auto& p : row)
        p = rng() % k.blackOneIn ? 0xFFFFFF : 0x000000;
    for (const Level level : Levels()) {
      SearchOptions options = AtLevel(level);
      options.hashSwitchWork = 0.02;
      // The needle taken from several places: before the change-over row and well after it.
      for (const auto& [cx, cy] :
           {std::pair{3, 0}, std::pair{50, 2}, std::pair{100, 60}, std::pair{110, 72}}) {
        const int nw = 10, nh = 8;
        Rows screen = noise;
        Rows piece = Solid(nw, nh, 0xFFFFFF);
        if (k.whiteNeedle) {
          // In a black frame, so that no window beside it matches as well.
          for (int y = std::max(cy - 1, 0); y <= std::min(cy + nh, 79); ++y)
            for (int x = std::max(cx - 1, 0); x <= std::min(cx + nw, 119); ++x)
              screen[y][x] = 0x000000;
          Paste(screen, piece, cx, cy);
        } else {
          for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x)
              piece[y][x] = screen[cy + y][cx + x];
        }
        TBDBitmapData hay, needle;
        Fill(hay, screen);
        Fill(needle, piece);
        Trace trace;
        const Answer want = Scan(hay, needle, nullptr);
        const std::string where =
            std::to_string(k.blackOneIn) + " at " + std::to_string(cx) + "," + std::to_string(cy);
        EXPECT_EQ(want, (Answer{true, cx, cy})) << where;
        EXPECT_EQ(Fast(hay, needle, nullptr, &trace, options), want) << where;
        if (cy >= 60) {
          EXPECT_EQ(trace.method, k.method) << where;
          if (k.method == Method::Hash) {
            EXPECT_GT(trace.hashFromRow, 0) << where;
            EXPECT_LE(trace.hashFromRow, want.y) << where;
          }
        }
        // Never found: the needle altered in one pixel, to the other colour.
        piece[nh - 1][nw - 1] ^= 0xFFFFFF;
        Fill(needle, piece);
        EXPECT_EQ(Fast(hay, needle, nullptr, &trace, options), (Answer{false, -1, -1})) << where;
        EXPECT_EQ(trace.method, k.method) << where;
        const TColorTolerance tol{10, 10, 10};
        EXPECT_EQ(Fast(hay, needle, &tol, &trace, options), Scan(hay, needle, &tol)) << where;
        EXPECT_EQ(trace.method, Method::Anchor) << where;
        EXPECT_LT(trace.candidates, 111 * 73 / 8) << where;
      }
    }
  }
}

// A haystack searched in parts on both cores: copies of the mark lie in many parts, and the answer
// is the top-most one whichever part finishes first, also when it sits in the last row of its
// part or in the last part alone. On two-colour noise every part changes to the rolling hash.
TEST(FastSearch, SplitSearchAnswersWithTheLowestPartThatMatches) {
  std::mt19937 rng(11);
  SearchOptions options;
  options.splitMinPixels = 0;
  options.splitMinRows = 10;  // parts of 10 offset rows, 20 parts capped at 16
  for (const bool helper : {true, false}) {
    options.useHelper = helper;
    for (const auto& [first, noise] :
         {std::pair{21, false}, std::pair{196, false}, std::pair{21, true}}) {
      Rows screen = Solid(90, 200, 0x102030);
      Rows mark = Solid(6, 4, 0x102030);
      mark[1][2] = 0xFF0000;
      if (noise) {
        for (auto* rows : {&screen, &mark})
          for (auto& row : *rows)
            for (auto& p : row)
              p = (rng() & 1) ? 0x000000 : 0xFFFFFF;
      }
      for (int y = first; y + 4 <= 200; y += 13)
        Paste(screen, mark, 80 - y % 70, y);
      TBDBitmapData hay, needle;
      Fill(hay, screen);
      Fill(needle, mark);
      const Answer want{true, 80 - first % 70, first};
      ASSERT_EQ(Scan(hay, needle, nullptr), want);
      options.hashSwitchWork = noise ? -1 : search::kDefaultHashSwitchWork;
      for (int round = 0; round < 20; ++round) {
        Trace trace;
        ASSERT_EQ(Fast(hay, needle, nullptr, &trace, options), want)
            << "first " << first << " helper " << helper;
        EXPECT_EQ(trace.method, noise ? Method::Hash : Method::Anchor);
        ASSERT_EQ(Fast(hay, needle, &kTol25, nullptr, options), Scan(hay, needle, &kTol25));
      }
    }
  }
}

}  // namespace
}  // namespace ostrane
