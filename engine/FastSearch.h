// The search behind FindImage and FindImageWithTolerance: the same answer as the straightforward
// scan (first match top-most, then left-most), found by looking first at what is rare in the
// needle.
#pragma once

#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/simd/Kernels.h"

namespace ostrane::search {

// How a search reached its answer; filled for tests and benchmarks.
enum class Method {
  Reference,  // degenerate bitmaps: the straightforward scan
  Trivial,    // decided without looking at pixels (does not fit, tolerance below 0 or 255+)
  Anchor,     // rare-anchor candidates, verified in scan order
  Hash,       // the exact search changed to the rolling hash, from `hashFromRow` on
};

struct Trace {
  Method method = Method::Reference;
  Level level = Level::Scalar;
  int32_t anchorX = -1;  // needle position of the anchor pixel, row counted from the top
  int32_t anchorY = -1;
  int32_t checks = 0;        // further needle pixels tested before a full verification
  int64_t candidates = 0;    // offsets that passed the probes scanned along the rows
  int32_t learned = 0;       // needle pixels that failed a verification and became checks
  int32_t hashFromRow = -1;  // -1 when the hash was not used
};

// Sets (x, y) to the first offset at which the needle matches (within `tolerance` when it is
// not null) or to (-1, -1).
bool Find(const TBDBitmapData& haystack, const TBDBitmapData& needle,
          const TColorTolerance* tolerance, int32_t& x, int32_t& y, Trace* trace = nullptr);

// The instruction-set level in use: the best the processor offers, unless the environment
// variable OSTRANE_SEARCH_LEVEL (scalar, sse2, avx2) or ForceLevel chose a lower one.
Level ActiveLevel();
// Chooses the level, clamped to what is available; returns the level now in use.
Level ForceLevel(Level level);

// The exact search gives up on candidates and changes to the rolling hash once the work spent on
// them exceeds this many units per haystack pixel (one unit per candidate, kRowWork per needle
// row compared). Tests lower it to reach the change on small bitmaps.
inline constexpr double kDefaultHashSwitchWork = 0.02;
inline constexpr int64_t kRowWork = 4;
void SetHashSwitchWork(double unitsPerPixel);

// A haystack of at least this many pixels is searched in parts of at least this many offset rows
// (and twice the needle's height), shared with the helper thread. Tests lower both to split small
// bitmaps.
inline constexpr int64_t kDefaultSplitMinPixels = 1 << 18;
inline constexpr int32_t kDefaultSplitMinRows = 64;
inline constexpr int32_t kMaxParts = 16;
void SetSplit(int64_t minPixels, int32_t minRows);

}  // namespace ostrane::search
