#include "engine/FastSearch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "concurrency/WorkShare.h"
#include "engine/Search.h"

namespace ostrane::search {

namespace {

using simd::ColorRange;
using simd::Kernels;

std::atomic<int> g_level{-1};
std::atomic<double> g_switchWork{kDefaultHashSwitchWork};

Level LevelFromEnvironment(Level best) {
  const char* v = std::getenv("OSTRANE_SEARCH_LEVEL");
  if (!v) return best;
  Level wanted = best;
  if (std::strcmp(v, "scalar") == 0) wanted = Level::Scalar;
  if (std::strcmp(v, "sse2") == 0) wanted = Level::Sse2;
  if (std::strcmp(v, "avx2") == 0) wanted = Level::Avx2;
  return std::min(wanted, best);
}

const uint8_t* RowFromTop(const TBDBitmapData& b, int32_t y) {
  return b.Bits + static_cast<ptrdiff_t>(b.Height - 1 - y) * b.LineBytes;
}

const uint8_t* PixelPtr(const TBDBitmapData& b, int32_t x, int32_t y) {
  return RowFromTop(b, y) + 3 * static_cast<ptrdiff_t>(x);
}

// Either range type: only the first three bytes of lo and hi are read.
template <typename Range>
bool InRange(const uint8_t* q, const Range& r) {
  return q[0] >= r.lo[0] && q[0] <= r.hi[0] && q[1] >= r.lo[1] && q[1] <= r.hi[1] &&
         q[2] >= r.lo[2] && q[2] <= r.hi[2];
}

// A needle pixel to test at every offset: its position and the haystack colours it accepts.
struct Probe {
  int32_t x = 0;
  int32_t y = 0;
  ColorRange range{};
};

constexpr int kMaxChecks = 7;

struct Plan {
  Probe anchor;
  int32_t anchorCount = 0;  // sampled haystack pixels the anchor accepts
  std::array<Probe, kMaxChecks> checks;
  int nChecks = 0;
};

// A coarse colour histogram of a sample of the haystack: 16 levels per channel. Box sums give
// the share of sampled pixels within any per-channel range.
class Histogram {
 public:
  static constexpr int kLevels = 16;

  explicit Histogram(const TBDBitmapData& hay)
      : sums_(kSide * kSide * kSide, 0), exact_(kSlots, 0) {
    const int32_t rows = std::min(hay.Height, 64);
    const int32_t cols = std::min(hay.Width, 128);
    const int32_t stride = hay.Width / cols;
    uint32_t rnd = 0x2545F491u;
    for (int32_t k = 0; k < rows; ++k) {
      const int32_t y = static_cast<int32_t>((int64_t{2 * k + 1} * hay.Height) / (2 * rows));
      const uint8_t* row = RowFromTop(hay, y);
      for (int32_t j = 0; j < cols; ++j) {
        rnd = rnd * 1664525u + 1013904223u;  // jitter, so periodic content is not aliased
        const int32_t x = j * stride + static_cast<int32_t>((rnd >> 8) % uint32_t(stride));
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
  template <typename Range>
  int32_t Count(const Range& r) const {
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

struct Span {
  uint8_t lo[3];
  uint8_t hi[3];
};

Span SpanAround(const uint8_t* q, const uint8_t tol[3]) {
  Span r{};
  for (int k = 0; k < 3; ++k) {
    r.lo[k] = static_cast<uint8_t>(std::max(0, int{q[k]} - tol[k]));
    r.hi[k] = static_cast<uint8_t>(std::min(255, int{q[k]} + tol[k]));
  }
  return r;
}

Probe MakeProbe(int32_t x, int32_t y, const Span& span) {
  return Probe{x, y, simd::MakeRange(span.lo, span.hi)};
}

// Picks the needle pixel whose accepted colours are rarest in the haystack as the anchor, and the
// next rarest as checks. Large needles are judged on a grid of about 128 x 128 of their pixels.
Plan MakePlan(const TBDBitmapData& hay, const TBDBitmapData& needle, const uint8_t tol[3],
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

class Searcher {
 public:
  Searcher(const TBDBitmapData& hay, const TBDBitmapData& needle, const TColorTolerance* tolerance,
           const Kernels& kernels, Trace& trace)
      : hay_(hay), needle_(needle), exact_(tolerance == nullptr), k_(kernels), trace_(trace) {
    if (tolerance) {
      tol_[0] = static_cast<uint8_t>(std::min(tolerance->B, 255));
      tol_[1] = static_cast<uint8_t>(std::min(tolerance->G, 255));
      tol_[2] = static_cast<uint8_t>(std::min(tolerance->R, 255));
    }
    for (int i = 0; i < 96; ++i)
      tolPattern_[i] = tol_[i % 3];
    lastX_ = hay.Width - needle.Width;
  }

  Plan Prepare() const { return MakePlan(hay_, needle_, tol_, exact_); }

  // The first match at offset rows [y0, y1). `abandon` is polled once per row: once it says an
  // earlier part of the haystack holds a match, this part's answer no longer matters.
  template <typename Abandon>
  bool Run(const Plan& plan, int32_t y0, int32_t y1, int64_t budget, Abandon abandon, int32_t& x,
           int32_t& y) {
    int64_t work = 0;
    std::vector<int32_t> cand(static_cast<size_t>(lastX_) + 1);
    for (int32_t oy = y0; oy < y1; ++oy) {
      if (abandon()) return false;
      // Further probes cost a few loads per 32 pixels, and only where the anchor passed; they pay
      // once the anchor alone lets through offsets that then fail: the next rarest pixel, or the
      // pixel that failed last once that one proved the better filter, then two more checks for
      // screens where every colour is common (dithering, text at a tolerance).
      const Probe* second = preferLearned_ && nLearned_ > 0            ? &learned_[0]
                            : plan.anchorCount > 0 && plan.nChecks > 0 ? &plan.checks[0]
                            : nLearned_ > 0                            ? &learned_[0]
                                                                       : nullptr;
      simd::RowProbe probes[simd::kMaxRowProbes];
      int nProbes = 0;
      auto add = [&](const Probe& p) {
        probes[nProbes++] = {PixelPtr(hay_, p.x, oy + p.y), &p.range};
      };
      add(plan.anchor);
      uint32_t scanned = 0;  // checks every offset found has passed already
      if (second) {
        add(*second);
        for (int c = 0; c < plan.nChecks && nProbes < simd::kMaxRowProbes; ++c) {
          if (&plan.checks[c] == second) continue;
          add(plan.checks[c]);
          scanned |= 1u << c;
        }
      }
      const int32_t n = k_.anchorScan(probes, nProbes, lastX_ + 1, cand.data());
      trace_.candidates += n;
      work += n;
      int32_t learnedRejects = 0;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t ox = cand[i];
        bool ok = true;
        for (int c = 0; c < nLearned_ && ok; ++c) {
          const Probe& p = learned_[c];
          ok = InRange(PixelPtr(hay_, ox + p.x, oy + p.y), p.range);
          learnedRejects += !ok;
        }
        for (int c = 0; c < plan.nChecks && ok; ++c) {
          if (scanned >> c & 1) continue;
          const Probe& p = plan.checks[c];
          ok = InRange(PixelPtr(hay_, ox + p.x, oy + p.y), p.range);
        }
        if (ok && Verify(ox, oy, work)) {
          x = ox;
          y = oy;
          return true;
        }
      }
      if (n >= 16 && learnedRejects * 2 > n) preferLearned_ = true;
      if (work > budget && oy + 1 < y1) {
        trace_.method = Method::Hash;
        trace_.hashFromRow = oy + 1;
        return HashFrom(oy + 1, y1, x, y);
      }
    }
    return false;
  }

 private:
  bool Verify(int32_t ox, int32_t oy, int64_t& work) {
    const size_t bytes = 3 * static_cast<size_t>(needle_.Width);
    for (int32_t r = 0; r < needle_.Height; ++r) {
      work += kRowWork;
      const uint8_t* h = PixelPtr(hay_, ox, oy + r);
      const uint8_t* n = RowFromTop(needle_, r);
      const bool same = exact_ ? std::memcmp(h, n, bytes) == 0
                               : k_.rowWithin(h, n, static_cast<int32_t>(bytes), tolPattern_);
      if (!same) {
        Learn(h, r);
        return false;
      }
    }
    return true;
  }

  // The needle pixel that failed a verification is likely to fail at the next candidates too
  // (a needle that differs from a repetitive screen in one place): test it first from now on.
  void Learn(const uint8_t* h, int32_t r) {
    const uint8_t* n = RowFromTop(needle_, r);
    for (int32_t c = 0; c < needle_.Width; ++c, h += 3, n += 3) {
      const Span span = SpanAround(n, tol_);
      if (InRange(h, span)) continue;
      for (int i = 0; i < nLearned_; ++i) {
        if (learned_[i].x == c && learned_[i].y == r) return;
      }
      for (int i = std::min(nLearned_, kMaxLearned - 1); i > 0; --i)
        learned_[i] = learned_[i - 1];
      learned_[0] = MakeProbe(c, r, span);
      nLearned_ = std::min(nLearned_ + 1, kMaxLearned);
      ++trace_.learned;
      return;
    }
  }

  // Two-dimensional rolling hash over offset rows [y0, y1): per byte column a hash of the nh bytes
  // above it, then per row a polynomial over each window of nw pixels, compared with the
  // needle's; every hit is verified, so a collision costs time, never a wrong answer.
  bool HashFrom(int32_t y0, int32_t y1, int32_t& x, int32_t& y) const {
    constexpr uint32_t kC = 0x01000193u, kB = 0x9E3779B9u, kK1 = 0x85EBCA6Bu, kK2 = 0xC2B2AE35u;
    const int32_t w = hay_.Width, nw = needle_.Width, nh = needle_.Height;
    const int32_t bytes = 3 * w, nbytes = 3 * nw;
    uint32_t cn = 1;
    for (int32_t i = 0; i < nh; ++i)
      cn *= kC;
    // Byte column j of pixel x weighs kB^x times 1, kK1 or kK2 for its channel.
    std::vector<uint32_t> wt(static_cast<size_t>(bytes));
    std::vector<uint32_t> bpow(static_cast<size_t>(w));
    uint32_t p = 1;
    for (int32_t i = 0; i < w; ++i, p *= kB) {
      bpow[i] = p;
      wt[3 * i] = p;
      wt[3 * i + 1] = p * kK1;
      wt[3 * i + 2] = p * kK2;
    }
    std::vector<uint32_t> vn(static_cast<size_t>(nbytes), 0);
    for (int32_t r = 0; r < nh; ++r)
      k_.accumulate(vn.data(), RowFromTop(needle_, r), nbytes, kC);
    uint32_t target = 0;
    for (int32_t j = 0; j < nbytes; ++j)
      target += vn[j] * wt[j];
    std::vector<uint32_t> tb(static_cast<size_t>(lastX_) + 1);
    for (int32_t i = 0; i <= lastX_; ++i)
      tb[i] = target * bpow[i];

    std::vector<uint32_t> v(static_cast<size_t>(bytes), 0);
    std::vector<uint32_t> s(4 * static_cast<size_t>(w) + 2);
    std::vector<int32_t> hits(static_cast<size_t>(lastX_) + 1);
    for (int32_t r = 0; r < nh; ++r)
      k_.accumulate(v.data(), RowFromTop(hay_, y0 + r), bytes, kC);
    for (int32_t oy = y0; oy < y1; ++oy) {
      if (oy > y0) {
        k_.roll(v.data(), RowFromTop(hay_, oy - 1), RowFromTop(hay_, oy - 1 + nh), bytes, kC, cn);
      }
      const int32_t n =
          k_.windowMatches(v.data(), wt.data(), w, nw, tb.data(), s.data(), hits.data());
      for (int32_t i = 0; i < n; ++i) {
        if (hay_.MatchAt(needle_, hits[i], oy)) {
          x = hits[i];
          y = oy;
          return true;
        }
      }
    }
    return false;
  }

  const TBDBitmapData& hay_;
  const TBDBitmapData& needle_;
  const bool exact_;
  const Kernels& k_;
  Trace& trace_;
  uint8_t tol_[3] = {0, 0, 0};
  uint8_t tolPattern_[96];
  static constexpr int kMaxLearned = 2;
  std::array<Probe, kMaxLearned> learned_{};
  int nLearned_ = 0;
  bool preferLearned_ = false;
  int32_t lastX_ = 0;
};

// Splitting pays only when a search costs more than handing parts to the helper; each part of an
// exact search may start a rolling hash over its rows, which costs the needle's height first.
std::atomic<int64_t> g_splitMinPixels{kDefaultSplitMinPixels};
std::atomic<int32_t> g_splitMinRows{kDefaultSplitMinRows};

int32_t PartsFor(const TBDBitmapData& haystack, const TBDBitmapData& needle, int32_t rows) {
  if (int64_t{haystack.Width} * haystack.Height < g_splitMinPixels.load()) return 1;
  const int32_t partRows = std::max(g_splitMinRows.load(), 2 * needle.Height);
  return std::clamp(rows / std::max(partRows, 1), 1, kMaxParts);
}

}  // namespace

void SetSplit(int64_t minPixels, int32_t minRows) {
  g_splitMinPixels.store(minPixels);
  g_splitMinRows.store(minRows);
}

Level ActiveLevel() {
  int v = g_level.load(std::memory_order_relaxed);
  if (v < 0) {
    v = static_cast<int>(LevelFromEnvironment(simd::BestAvailableLevel()));
    g_level.store(v, std::memory_order_relaxed);
  }
  return static_cast<Level>(v);
}

Level ForceLevel(Level level) {
  const Level l = std::min(level, simd::BestAvailableLevel());
  g_level.store(static_cast<int>(l), std::memory_order_relaxed);
  return l;
}

void SetHashSwitchWork(double unitsPerPixel) {
  g_switchWork.store(unitsPerPixel);
}

bool Find(const TBDBitmapData& haystack, const TBDBitmapData& needle,
          const TColorTolerance* tolerance, int32_t& x, int32_t& y, Trace* trace) {
  Trace local;
  Trace& t = trace ? *trace : local;
  t = Trace{};
  t.level = ActiveLevel();
  x = -1;
  y = -1;
  // Empty bitmaps have no pixels to look at; the scan gives their answer at once.
  if (needle.Width <= 0 || needle.Height <= 0 || haystack.Width <= 0 || haystack.Height <= 0 ||
      !needle.Bits || !haystack.Bits) {
    t.method = Method::Reference;
    return tolerance ? ScanWithTolerance(haystack, needle, *tolerance, x, y)
                     : ScanExact(haystack, needle, x, y);
  }
  t.method = Method::Trivial;
  if (needle.Width > haystack.Width || needle.Height > haystack.Height) return false;
  if (tolerance) {
    if (tolerance->R < 0 || tolerance->G < 0 || tolerance->B < 0) return false;
    if (tolerance->R >= 255 && tolerance->G >= 255 && tolerance->B >= 255) {
      x = 0;
      y = 0;
      return true;
    }
  }
  const Kernels& kernels = simd::KernelsFor(t.level);
  const Plan plan = Searcher(haystack, needle, tolerance, kernels, t).Prepare();
  t.method = Method::Anchor;
  t.anchorX = plan.anchor.x;
  t.anchorY = plan.anchor.y;
  t.checks = plan.nChecks;
  const int32_t rows = haystack.Height - needle.Height + 1;
  const double budget =
      tolerance ? -1 : g_switchWork.load() * double(haystack.Width) * haystack.Height;
  auto partBudget = [&](int32_t partRows) {
    if (budget < 0) return INT64_MAX;
    return static_cast<int64_t>(partRows == rows ? budget : budget * partRows / rows);
  };

  const int32_t parts = PartsFor(haystack, needle, rows);
  if (parts <= 1) {
    return Searcher(haystack, needle, tolerance, kernels, t)
        .Run(
            plan, 0, rows, partBudget(rows), [] { return false; }, x, y);
  }

  // Parts of consecutive offset rows, searched on both cores. The first match overall is the
  // first one in the lowest part that has one; parts below it always run to the end.
  struct Answer {
    bool found = false;
    int32_t x = -1, y = -1;
    Trace trace;
  };
  std::vector<Answer> answers(static_cast<size_t>(parts));
  std::atomic<int32_t> firstFound{parts};
  concurrency::ShareRows(rows, parts, [&](int32_t part, int32_t y0, int32_t y1) {
    if (part > firstFound.load(std::memory_order_relaxed)) return;
    Answer& a = answers[static_cast<size_t>(part)];
    auto abandon = [&] { return firstFound.load(std::memory_order_relaxed) < part; };
    a.found = Searcher(haystack, needle, tolerance, kernels, a.trace)
                  .Run(plan, y0, y1, partBudget(y1 - y0), abandon, a.x, a.y);
    if (!a.found) return;
    int32_t seen = firstFound.load();
    while (part < seen && !firstFound.compare_exchange_weak(seen, part)) {
    }
  });
  for (const Answer& a : answers) {
    t.candidates += a.trace.candidates;
    t.learned += a.trace.learned;
    if (a.trace.method == Method::Hash) {
      t.method = Method::Hash;
      if (t.hashFromRow < 0) t.hashFromRow = a.trace.hashFromRow;
    }
  }
  const int32_t first = firstFound.load();
  if (first >= parts) return false;
  x = answers[static_cast<size_t>(first)].x;
  y = answers[static_cast<size_t>(first)].y;
  return true;
}

}  // namespace ostrane::search
