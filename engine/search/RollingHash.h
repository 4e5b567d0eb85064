// The exact search for screens where every needle pixel is common: a two-dimensional rolling
// hash, whose cost does not depend on how many offsets pass a few probes.
#pragma once

#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/simd/Kernels.h"

namespace ostrane::search {

// Sets (x, y) to the first exact match at offset rows [y0, y1), scan order. Every hash hit is
// verified, so a collision costs time, never a wrong answer.
bool RollingHashFind(const TBDBitmapData& hay, const TBDBitmapData& needle,
                     const simd::Kernels& kernels, int32_t y0, int32_t y1, int32_t& x, int32_t& y);

}  // namespace ostrane::search
