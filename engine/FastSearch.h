// The search behind FindImage and FindImageWithTolerance: the same answer as the straightforward
// scan (first match top-most, then left-most), found by looking first at what is rare in the
// needle.
#pragma once

#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/search/Options.h"
#include "engine/search/Trace.h"

namespace ostrane::search {

// Sets (x, y) to the first offset at which the needle matches (within `tolerance` when it is
// not null) or to (-1, -1).
bool Find(const TBDBitmapData& haystack, const TBDBitmapData& needle,
          const TColorTolerance* tolerance, const SearchOptions& options, int32_t& x, int32_t& y,
          Trace* trace = nullptr);

}  // namespace ostrane::search
