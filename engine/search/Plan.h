// Which needle pixels the search tests first: those whose colours are rarest in the haystack.
#pragma once

#include <array>
#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/search/Probe.h"

namespace ostrane::search {

inline constexpr int kMaxChecks = 7;
inline constexpr int32_t kMaxRowPeriod = 8;

// The needle pixels tested at the offsets of one class of rows.
struct ProbeSet {
  Probe anchor;
  int32_t anchorCount = 0;               // sampled haystack pixels the anchor accepts
  std::array<Probe, kMaxChecks> checks;  // the next rarest, rarest first
  int nChecks = 0;
};

// The pixels an offset row's candidates are found with all lie in haystack rows that are
// multiples of `period`: offset row oy is tested with the needle pixels of rows r where oy + r is
// one, so the haystack's other rows are never read unless a candidate needs them. Where the
// needle has rare pixels in enough of its rows, this reads a fraction of the haystack.
struct Plan {
  int32_t period = 1;
  std::array<ProbeSet, kMaxRowPeriod> sets;  // sets[c]: pixels of needle rows r = c mod period
  const ProbeSet& ForRow(int32_t oy) const { return sets[(period - oy % period) % period]; }
};

// Judges the needle's pixels by a colour histogram of a sample of the haystack: by exact colour
// for the exact search, by the colours within the tolerance otherwise. Large needles are judged
// on a grid of about 128 x 128 of their pixels. The period is the longest whose every class of
// rows holds pixels about as rare as the whole needle's rarest.
Plan MakePlan(const TBDBitmapData& hay, const TBDBitmapData& needle, const ChannelTolerance& tol,
              bool exact);

}  // namespace ostrane::search
