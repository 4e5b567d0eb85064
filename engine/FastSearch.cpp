#include "engine/FastSearch.h"

#include "engine/Search.h"
#include "engine/search/AnchorScan.h"
#include "engine/search/ParallelFind.h"
#include "engine/search/Plan.h"
#include "engine/search/Probe.h"

namespace ostrane::search {

namespace {

bool HasPixels(const TBDBitmapData& b) {
  return b.Width > 0 && b.Height > 0 && b.Bits;
}

// The answers that need no pixel: a needle larger than the haystack matches nowhere, a negative
// tolerance in any channel matches nothing, and 255 or more in every channel matches at the first
// offset. Returns false when the pixels must decide.
bool DecidedWithoutPixels(const TBDBitmapData& haystack, const TBDBitmapData& needle,
                          const TColorTolerance* tolerance, bool& found, int32_t& x, int32_t& y) {
  found = false;
  if (needle.Width > haystack.Width || needle.Height > haystack.Height) return true;
  if (!tolerance) return false;
  if (tolerance->R < 0 || tolerance->G < 0 || tolerance->B < 0) return true;
  if (tolerance->R >= 255 && tolerance->G >= 255 && tolerance->B >= 255) {
    found = true;
    x = 0;
    y = 0;
    return true;
  }
  return false;
}

}  // namespace

bool Find(const TBDBitmapData& haystack, const TBDBitmapData& needle,
          const TColorTolerance* tolerance, const SearchOptions& options, int32_t& x, int32_t& y,
          Trace* trace) {
  Trace local;
  Trace& t = trace ? *trace : local;
  t = Trace{};
  t.level = UsableLevel(options.level);
  x = -1;
  y = -1;
  // Empty bitmaps have no pixels to look at; the scan gives their answer at once.
  if (!HasPixels(needle) || !HasPixels(haystack)) {
    t.method = Method::Reference;
    return tolerance ? ScanWithTolerance(haystack, needle, *tolerance, x, y)
                     : ScanExact(haystack, needle, x, y);
  }
  t.method = Method::Trivial;
  bool found = false;
  if (DecidedWithoutPixels(haystack, needle, tolerance, found, x, y)) return found;

  const Plan plan = MakePlan(haystack, needle, ChannelToleranceOf(tolerance), tolerance == nullptr);
  t.method = Method::Anchor;
  const ProbeSet& first = plan.ForRow(0);
  t.anchorX = first.anchor.x;
  t.anchorY = first.anchor.y;
  t.checks = first.nChecks;
  t.rowPeriod = plan.period;
  const SearchInput in{haystack, needle, tolerance, simd::KernelsFor(t.level)};
  return ParallelFind(in, plan, options, t, x, y);
}

}  // namespace ostrane::search
