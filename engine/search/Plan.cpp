#include "engine/search/Plan.h"

#include <algorithm>
#include <vector>

namespace ostrane::search {

namespace {

// A coarse colour histogram of a sample of the haystack: 16 levels per channel. Box sums give
// the share of sampled pixels within any per-channel range.
class Histogram {
 public:
  static constexpr int kLevels = 16;

  explicit Histogram(const TBDBitmapData& hay)
      : sums_(kSide * kSide * kSide, 0), exact_(kSlots, 0) {
    const int32_t rows = std::min(hay.Height, 64);
    const int32_t cols = std::min(hay.Width, 128);
    uint32_t rnd = 0x2545F491u;
    for (int32_t k = 0; k < rows; ++k) {
      const int32_t y = static_cast<int32_t>((int64_t{2 * k + 1} * hay.Height) / (2 * rows));
      const uint8_t* row = RowFromTop(hay, y);
      for (int32_t j = 0; j < cols; ++j) {
        // One sample in each of `cols` equal cells across the whole width, at a jittered place
        // in its cell, so periodic content is not aliased.
        const int32_t cell = static_cast<int32_t>(int64_t{j} * hay.Width / cols);
        const int32_t next = static_cast<int32_t>(int64_t{j + 1} * hay.Width / cols);
        rnd = rnd * 1664525u + 1013904223u;
        const int32_t x = cell + static_cast<int32_t>((rnd >> 8) % uint32_t(next - cell));
        const uint8_t* q = row + 3 * static_cast<ptrdiff_t>(x);
        ++sums_[Index(q[0] / kBin + 1, q[1] / kBin + 1, q[2] / kBin + 1)];
        ++exact_[Slot(q)];
      }
    }
    // Inclusive prefix sums in three dimensions.
    for (int a = 1; a < kSide; ++a)
      for (int b = 1; b < kSide; ++b)
        for (int c = 1; c < kSide; ++c)
          sums_[Index(a, b, c)] += sums_[Index(a - 1, b, c)] + sums_[Index(a, b - 1, c)] +
                                   sums_[Index(a, b, c - 1)] - sums_[Index(a - 1, b - 1, c)] -
                                   sums_[Index(a - 1, b, c - 1)] - sums_[Index(a, b - 1, c - 1)] +
                                   sums_[Index(a - 1, b - 1, c - 1)];
  }

  // Sampled pixels of exactly this colour (or of another colour sharing its slot).
  int32_t CountExact(const uint8_t* q) const { return exact_[Slot(q)]; }

  // Sampled pixels whose bins meet the range.
  int32_t Count(const Span& r) const {
    const int a0 = r.lo[0] / kBin, a1 = r.hi[0] / kBin + 1;
    const int b0 = r.lo[1] / kBin, b1 = r.hi[1] / kBin + 1;
    const int c0 = r.lo[2] / kBin, c1 = r.hi[2] / kBin + 1;
    return sums_[Index(a1, b1, c1)] - sums_[Index(a0, b1, c1)] - sums_[Index(a1, b0, c1)] -
           sums_[Index(a1, b1, c0)] + sums_[Index(a0, b0, c1)] + sums_[Index(a0, b1, c0)] +
           sums_[Index(a1, b0, c0)] - sums_[Index(a0, b0, c0)];
  }

 private:
  static constexpr int kBin = 256 / kLevels;
  static constexpr int kSide = kLevels + 1;
  static int Index(int a, int b, int c) { return (a * kSide + b) * kSide + c; }
  static constexpr int kSlots = 1 << 13;
  static int Slot(const uint8_t* q) {
    const uint32_t c = uint32_t{q[0]} | uint32_t{q[1]} << 8 | uint32_t{q[2]} << 16;
    return static_cast<int>((c * 0x9E3779B1u) >> 19);
  }
  std::vector<int32_t> sums_;
  std::vector<int32_t> exact_;
};

}  // namespace

// Keeps the kMaxChecks + 1 rarest pixels seen, ordered by rarity: the first becomes the anchor.
Plan MakePlan(const TBDBitmapData& hay, const TBDBitmapData& needle, const ChannelTolerance& tol,
              bool exact) {
  const Histogram hist(hay);
  struct Scored {
    uint64_t key;  // rarity first; ties broken by a scrambled position, so checks spread out
    int32_t x, y;
    Span span;
  };
  std::vector<Scored> best;
  best.reserve(kMaxChecks + 2);
  const int32_t sx = (needle.Width + 127) / 128, sy = (needle.Height + 127) / 128;
  for (int32_t y = needle.Height - 1; y >= 0; y -= sy) {
    for (int32_t x = needle.Width - 1; x >= 0; x -= sx) {
      const Span span = SpanAround(PixelPtr(needle, x, y), tol);
      const uint32_t scramble = (uint32_t(y) * 0x9E3779B1u) ^ (uint32_t(x) * 0x85EBCA77u);
      const int32_t count = exact ? hist.CountExact(PixelPtr(needle, x, y)) : hist.Count(span);
      const uint64_t key = (uint64_t(uint32_t(count)) << 32) | scramble;
      if (best.size() == kMaxChecks + 1 && key >= best.back().key) continue;
      auto at = std::upper_bound(best.begin(), best.end(), key,
                                 [](uint64_t k, const Scored& s) { return k < s.key; });
      best.insert(at, Scored{key, x, y, span});
      if (best.size() > kMaxChecks + 1) best.pop_back();
    }
  }
  Plan plan;
  plan.anchor = MakeProbe(best.front().x, best.front().y, best.front().span);
  plan.anchorCount = static_cast<int32_t>(best.front().key >> 32);
  for (size_t i = 1; i < best.size(); ++i)
    plan.checks[plan.nChecks++] = MakeProbe(best[i].x, best[i].y, best[i].span);
  return plan;
}

}  // namespace ostrane::search
