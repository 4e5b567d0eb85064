// What a search may be told besides its bitmaps: the vector level, when the exact search gives up
// on candidates for the rolling hash, and when a large haystack is shared with the helper thread.
// Tests and the fuzz harness lower the thresholds to reach the hash and the parts on small
// bitmaps.
#pragma once

#include <cstdint>

#include "engine/simd/Kernels.h"

namespace ostrane::search {

// The level the environment variable OSTRANE_SEARCH_LEVEL (scalar, sse2, avx2) asks for, no
// higher than the processor offers; the best it offers without the variable. The program reads
// it once at start-up and hands it to its passes.
Level LevelFromEnvironment();

// The level `name` stands for (scalar, sse2, avx2), no higher than `best`; `best` for a null or
// unknown name.
Level LevelNamed(const char* name, Level best);

// The level actually used for `wanted`: no higher than this processor and build offer.
Level UsableLevel(Level wanted);

// Units of candidate work: one per candidate, kRowWork per needle row compared.
inline constexpr double kDefaultHashSwitchWork = 0.02;
inline constexpr int64_t kRowWork = 4;

inline constexpr int64_t kDefaultSplitMinPixels = 1 << 18;
inline constexpr int32_t kDefaultSplitMinRows = 64;
inline constexpr int32_t kMaxParts = 16;

struct SearchOptions {
  Level level = Level::Avx2;  // lowered to UsableLevel when the search runs
  // The exact search changes to the rolling hash once the work spent on candidates exceeds this
  // many units per haystack pixel; a negative value changes after the first row of each part,
  // whatever it found (tests reach the hash so).
  double hashSwitchWork = kDefaultHashSwitchWork;
  // A haystack of at least splitMinPixels pixels is searched in parts of at least splitMinRows
  // offset rows (and twice the needle's height). Splitting pays only when a search costs more
  // than handing parts over; each part of an exact search may start a rolling hash over its
  // rows, which costs the needle's height first.
  int64_t splitMinPixels = kDefaultSplitMinPixels;
  int32_t splitMinRows = kDefaultSplitMinRows;
  // Parts go to the helper thread as well; without it the calling thread runs them in order.
  bool useHelper = true;
};

}  // namespace ostrane::search
