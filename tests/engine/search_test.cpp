#include <gtest/gtest.h>

#include "engine/BitmapData.h"
#include "tests/engine/Pictures.h"

namespace ostrane {
namespace {

using testkit::Fill;
using testkit::Paste;
using testkit::Rows;
using testkit::Solid;

struct Found {
  bool ok;
  int32_t x, y;
};

Found Exact(const TBDBitmapData& hay, const TBDBitmapData& needle) {
  Found f{};
  f.ok = hay.FindImage(needle, {}, f.x, f.y);
  return f;
}

Found Tolerant(const TBDBitmapData& hay, const TBDBitmapData& needle, TColorTolerance t) {
  Found f{};
  f.ok = hay.FindImageWithTolerance(needle, t, {}, f.x, f.y);
  return f;
}

TEST(ColorWithinTolerance, BoundaryIsInclusivePerChannel) {
  const TColorTolerance t12{12, 12, 12};
  const Pixel base = MakePixel(100, 100, 100);
  EXPECT_TRUE(ColorWithinTolerance(base, MakePixel(112, 88, 112), t12));
  EXPECT_TRUE(ColorWithinTolerance(MakePixel(88, 112, 88), base, t12));
  for (const Pixel other : {MakePixel(113, 100, 100), MakePixel(100, 87, 100),
                            MakePixel(100, 100, 113), MakePixel(87, 112, 112)}) {
    EXPECT_FALSE(ColorWithinTolerance(base, other, t12)) << std::hex << other;
  }
  // Each channel is held to its own limit.
  EXPECT_TRUE(ColorWithinTolerance(base, MakePixel(130, 100, 101), {30, 0, 1}));
  EXPECT_FALSE(ColorWithinTolerance(base, MakePixel(100, 101, 100), {30, 0, 1}));
  // A negative tolerance matches nothing, not even equal colours; 255 matches everything.
  EXPECT_FALSE(ColorWithinTolerance(base, base, {-2, -2, -2}));
  EXPECT_TRUE(ColorWithinTolerance(MakePixel(0, 255, 0), MakePixel(255, 0, 255), {255, 255, 255}));
}

TEST(FindImage, FirstMatchIsTopMostThenLeftMost) {
  const Rows mark = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
  struct Case {
    int32_t ax, ay, bx, by;  // two occurrences
    int32_t wantX, wantY;
  };
  for (const Case c : {Case{5, 1, 1, 3, 5, 1}, Case{1, 3, 5, 1, 5, 1}, Case{6, 2, 1, 2, 1, 2},
                       Case{0, 0, 6, 4, 0, 0}}) {
    Rows screen = Solid(8, 6, 0x202020);
    Paste(screen, mark, c.ax, c.ay);
    Paste(screen, mark, c.bx, c.by);
    TBDBitmapData hay, needle;
    Fill(hay, screen);
    Fill(needle, mark);
    const Found exact = Exact(hay, needle);
    EXPECT_TRUE(exact.ok);
    EXPECT_EQ(exact.x, c.wantX);
    EXPECT_EQ(exact.y, c.wantY);
    const Found tolerant = Tolerant(hay, needle, {10, 10, 10});
    EXPECT_EQ(tolerant.x, c.wantX);
    EXPECT_EQ(tolerant.y, c.wantY);
  }
}

TEST(FindImage, NeedleOfHaystackSizeOrLarger) {
  Rows screen = Solid(5, 4, 0x101010);
  screen[3][4] = 0x404040;
  TBDBitmapData hay;
  Fill(hay, screen);

  TBDBitmapData same;
  Fill(same, screen);
  Found f = Exact(hay, same);
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.x, 0);
  EXPECT_EQ(f.y, 0);

  Rows differs = screen;
  differs[3][4] = 0x404041;
  TBDBitmapData other;
  Fill(other, differs);
  f = Exact(hay, other);
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.x, -1);
  EXPECT_TRUE(Tolerant(hay, other, {1, 1, 1}).ok);

  for (const auto& [w, h] : {std::pair{6, 4}, std::pair{5, 5}, std::pair{6, 5}}) {
    TBDBitmapData big;
    Fill(big, Solid(w, h, 0x101010));
    f = Tolerant(hay, big, {255, 255, 255});  // would match anywhere it fits
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.x, -1);
    EXPECT_EQ(f.y, -1);
    EXPECT_FALSE(Exact(hay, big).ok);
  }
}

TEST(FindImage, NeedleTouchingTheBottomRightEdgeIsFound) {
  // Widths 1 to 5 cover every row padding of the haystack.
  for (int32_t w = 1; w <= 5; ++w) {
    Rows screen = Solid(w + 3, 5, 0);
    const Rows mark = Solid(w, 2, 0x00AA00);
    Paste(screen, mark, 3, 3);
    TBDBitmapData hay, needle;
    Fill(hay, screen);
    Fill(needle, mark);
    const Found f = Exact(hay, needle);
    EXPECT_TRUE(f.ok) << "width " << w;
    EXPECT_EQ(f.x, 3);
    EXPECT_EQ(f.y, 3);
  }
}

TEST(MatchAt, OffsetsOutsideTheHaystackNeverMatch) {
  TBDBitmapData hay, needle;
  Fill(hay, Solid(4, 4, 0x333333));
  Fill(needle, Solid(2, 2, 0x333333));
  EXPECT_TRUE(hay.MatchAt(needle, 2, 2));
  for (const auto& [x, y] : {std::pair{3, 0}, std::pair{0, 3}, std::pair{-1, 0}, std::pair{0, -1},
                             std::pair{INT32_MAX, 0}, std::pair{0, INT32_MAX}}) {
    EXPECT_FALSE(hay.MatchAt(needle, x, y)) << x << "," << y;
    EXPECT_FALSE(hay.MatchAtWithTolerance(needle, {255, 255, 255}, x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace ostrane
