// The sub-image search behind TBDBitmapData::FindImage and FindImageWithTolerance.
#pragma once

#include <cstdint>

#include "engine/BitmapData.h"

namespace ostrane::search {

// The straightforward scan: every offset in row-major order, top-most then left-most, each
// tested with MatchAt / MatchAtWithTolerance. Sets (x, y) to the first match or (-1, -1).
bool ScanExact(const TBDBitmapData& haystack, const TBDBitmapData& needle, int32_t& x, int32_t& y);
bool ScanWithTolerance(const TBDBitmapData& haystack, const TBDBitmapData& needle,
                       const TColorTolerance& tolerance, int32_t& x, int32_t& y);

}  // namespace ostrane::search
