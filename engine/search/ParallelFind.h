// The driver of the anchor scan over all offset rows: in one piece, or for a large haystack in
// parts of consecutive rows shared with the helper thread.
#pragma once

#include <cstdint>

#include "engine/search/AnchorScan.h"
#include "engine/search/Options.h"
#include "engine/search/Plan.h"
#include "engine/search/Trace.h"

namespace ostrane::search {

// How many parts the offset rows are searched in; 1 below the options' size threshold.
int32_t PartsFor(const TBDBitmapData& hay, const TBDBitmapData& needle, int32_t rows,
                 const SearchOptions& options);

// Sets (x, y) to the first match (top-most, then left-most) of the needle at any offset and
// adds the counts of every part to `trace`.
bool ParallelFind(const SearchInput& in, const Plan& plan, const SearchOptions& options,
                  Trace& trace, int32_t& x, int32_t& y);

}  // namespace ostrane::search
