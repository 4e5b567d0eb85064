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
        ++samples_;
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

  int32_t Samples() const { return samples_; }

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
  int32_t samples_ = 0;
};

struct Scored {
  uint64_t key;  // rarity first; ties broken by a scrambled position, so checks spread out
  int32_t x, y;
  Span span;
  int32_t Count() const { return static_cast<int32_t>(key >> 32); }
};

// The rarest pixels of one needle row, rarest first: no class of rows needs more of a row.
struct RowBest {
  int32_t y = 0;
  int n = 0;
  std::array<Scored, kMaxChecks + 1> best;
  void Offer(const Scored& s) {
    if (n == kMaxChecks + 1 && s.key >= best[n - 1].key) return;
    int at = std::min(n, kMaxChecks);
    for (; at > 0 && best[at - 1].key > s.key; --at)
      best[at] = best[at - 1];
    best[at] = s;
    n = std::min(n + 1, kMaxChecks + 1);
  }
};

// The up to `limit` rarest pixels of the needle rows r = c mod period, rarest first.
std::vector<Scored> ClassBest(const std::vector<RowBest>& rows, int32_t period, int32_t c,
                              size_t limit) {
  std::vector<Scored> all;
  for (const RowBest& row : rows) {
    if (row.y % period == c) all.insert(all.end(), row.best.begin(), row.best.begin() + row.n);
  }
  const size_t n = std::min(limit, all.size());
  std::partial_sort(all.begin(), all.begin() + static_cast<ptrdiff_t>(n), all.end(),
                    [](const Scored& a, const Scored& b) { return a.key < b.key; });
  all.resize(n);
  return all;
}

// The share of offsets expected to pass the first few probes of a class of rows, taken as
// independent; more than any allowance when the class has no pixel.
double PassShare(const std::vector<RowBest>& rows, int32_t period, int32_t c, int32_t samples) {
  constexpr size_t kProbesJudged = 4;
  const std::vector<Scored> best = ClassBest(rows, period, c, kProbesJudged);
  double share = 1;
  for (const Scored& s : best)
    share *= (s.Count() + 1.0) / (samples + 1.0);
  return best.empty() ? 4 : share;
}

}  // namespace

Plan MakePlan(const TBDBitmapData& hay, const TBDBitmapData& needle, const ChannelTolerance& tol,
              bool exact) {
  const Histogram hist(hay);
  const int32_t sx = (needle.Width + 127) / 128, sy = (needle.Height + 127) / 128;
  std::vector<RowBest> rows;
  rows.reserve(static_cast<size_t>((needle.Height + sy - 1) / sy));
  for (int32_t y = needle.Height - 1; y >= 0; y -= sy) {
    RowBest& row = rows.emplace_back();
    row.y = y;
    for (int32_t x = needle.Width - 1; x >= 0; x -= sx) {
      const Span span = SpanAround(PixelPtr(needle, x, y), tol);
      const uint32_t scramble = (uint32_t(y) * 0x9E3779B1u) ^ (uint32_t(x) * 0x85EBCA77u);
      const int32_t count = exact ? hist.CountExact(PixelPtr(needle, x, y)) : hist.Count(span);
      row.Offer({(uint64_t(uint32_t(count)) << 32) | scramble, x, y, span});
    }
  }

  // Reading fewer rows pays while no class of rows lets through many more offsets than the
  // needle's rarest pixels would, or more than one in a few thousand.
  const int32_t samples = hist.Samples();
  const double allowed = std::max(2 * PassShare(rows, 1, 0, samples), 1.0 / 4096);
  Plan plan;
  for (int32_t period = std::min(kMaxRowPeriod, needle.Height); period > 1; --period) {
    bool fits = true;
    for (int32_t c = 0; c < period && fits; ++c)
      fits = PassShare(rows, period, c, samples) <= allowed;
    if (fits) {
      plan.period = period;
      break;
    }
  }
  for (int32_t c = 0; c < plan.period; ++c) {
    ProbeSet& set = plan.sets[c];
    const std::vector<Scored> best = ClassBest(rows, plan.period, c, kMaxChecks + 1);
    set.anchor = MakeProbe(best[0].x, best[0].y, best[0].span);
    set.anchorCount = best[0].Count();
    for (size_t i = 1; i < best.size(); ++i)
      set.checks[set.nChecks++] = MakeProbe(best[i].x, best[i].y, best[i].span);
  }
  return plan;
}

}  // namespace ostrane::search
