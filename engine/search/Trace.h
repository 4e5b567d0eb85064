// How a search reached its answer; filled for tests and benchmarks.
#pragma once

#include <cstdint>

#include "engine/simd/Kernels.h"

namespace ostrane::search {

enum class Method {
  Reference,  // degenerate bitmaps: the straightforward scan
  Trivial,    // decided without looking at pixels (does not fit, tolerance below 0 or 255+)
  Anchor,     // rare-anchor candidates, verified in scan order
  Hash,       // the exact search changed to the rolling hash, from `hashFromRow` on
};

struct Trace {
  Method method = Method::Reference;
  Level level = Level::Scalar;
  int32_t anchorX = -1;  // needle position of offset row 0's anchor, row counted from the top
  int32_t anchorY = -1;
  int32_t checks = 0;        // further needle pixels tested before a full verification, at row 0
  int32_t rowPeriod = 0;     // the candidates are found in haystack rows that are multiples of it
  int64_t candidates = 0;    // offsets that passed the probes scanned along the rows
  int32_t learned = 0;       // needle pixels that failed a verification and became checks
  int32_t hashFromRow = -1;  // -1 when the hash was not used
};

}  // namespace ostrane::search
