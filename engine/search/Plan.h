// Which needle pixels the search tests first: those whose colours are rarest in the haystack.
#pragma once

#include <array>
#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/search/Probe.h"

namespace ostrane::search {

inline constexpr int kMaxChecks = 7;

struct Plan {
  Probe anchor;
  int32_t anchorCount = 0;               // sampled haystack pixels the anchor accepts
  std::array<Probe, kMaxChecks> checks;  // the next rarest, rarest first
  int nChecks = 0;
};

// Judges the needle's pixels by a colour histogram of a sample of the haystack: by exact colour
// for the exact search, by the colours within the tolerance otherwise. Large needles are judged
// on a grid of about 128 x 128 of their pixels.
Plan MakePlan(const TBDBitmapData& hay, const TBDBitmapData& needle, const ChannelTolerance& tol,
              bool exact);

}  // namespace ostrane::search
