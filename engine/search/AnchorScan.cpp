#include "engine/search/AnchorScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/search/Options.h"
#include "engine/search/RollingHash.h"

namespace ostrane::search {

namespace {

// The probe scanned along the rows beside the anchor. Further probes cost a few loads per 32
// pixels, and only where the anchor passed; they pay once the anchor alone lets through offsets
// that then fail. The plan's next rarest pixel serves unless the anchor is so rare that the
// sample never saw it; a learned pixel serves once it proved the better filter, or when the plan
// offers none.
const Probe* SecondProbe(const ProbeSet& set, const LearnedChecks& learned) {
  const bool haveLearned = learned.count > 0;
  if (haveLearned && learned.preferred) return &learned.probes[0];
  if (set.anchorCount > 0 && set.nChecks > 0) return &set.checks[0];
  if (haveLearned) return &learned.probes[0];
  return nullptr;
}

}  // namespace

AnchorScan::AnchorScan(const SearchInput& in, int64_t budget, Trace& trace)
    : hay_(in.hay),
      needle_(in.needle),
      exact_(in.tolerance == nullptr),
      kernels_(in.kernels),
      budget_(budget),
      trace_(trace),
      tol_(ChannelToleranceOf(in.tolerance)),
      lastX_(in.hay.Width - in.needle.Width) {
  for (int i = 0; i < 96; ++i)
    tolPattern_[i] = tol_[i % 3];
}

bool AnchorScan::Run(const Plan& plan, int32_t y0, int32_t y1, const EarlierPartFound& stop,
                     int32_t& x, int32_t& y) {
  int64_t work = 0;
  std::vector<int32_t> cand(static_cast<size_t>(lastX_) + 1);
  for (int32_t oy = y0; oy < y1; ++oy) {
    if (stop()) return false;
    const ProbeSet& set = plan.ForRow(oy);
    // The anchor, the second probe, then more checks for screens where every colour is common
    // (dithering, noise, text at a tolerance).
    const Probe* second = SecondProbe(set, learned_);
    simd::RowProbe probes[simd::kMaxRowProbes];
    int nProbes = 0;
    auto add = [&](const Probe& p) {
      probes[nProbes++] = {PixelPtr(hay_, p.x, oy + p.y), &p.range};
    };
    add(set.anchor);
    uint32_t scanned = 0;  // checks every offset found has passed already
    if (second) {
      add(*second);
      for (int c = 0; c < set.nChecks && nProbes < simd::kMaxRowProbes; ++c) {
        if (&set.checks[c] == second) continue;
        add(set.checks[c]);
        scanned |= 1u << c;
      }
    }
    const int32_t n = kernels_.anchorScan(probes, nProbes, lastX_ + 1, cand.data());
    trace_.candidates += n;
    work += n;
    int32_t learnedRejects = 0;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t ox = cand[i];
      bool ok = true;
      for (int c = 0; c < learned_.count && ok; ++c) {
        const Probe& p = learned_.probes[c];
        ok = InRange(PixelPtr(hay_, ox + p.x, oy + p.y), p.range);
        learnedRejects += !ok;
      }
      for (int c = 0; c < set.nChecks && ok; ++c) {
        if (scanned >> c & 1) continue;
        const Probe& p = set.checks[c];
        ok = InRange(PixelPtr(hay_, ox + p.x, oy + p.y), p.range);
      }
      if (ok && Verify(ox, oy, work)) {
        x = ox;
        y = oy;
        return true;
      }
    }
    if (n >= 16 && learnedRejects * 2 > n) learned_.preferred = true;
    if (work > budget_ && oy + 1 < y1) {
      trace_.method = Method::Hash;
      trace_.hashFromRow = oy + 1;
      return RollingHashFind(hay_, needle_, kernels_, oy + 1, y1, x, y);
    }
  }
  return false;
}

bool AnchorScan::Verify(int32_t ox, int32_t oy, int64_t& work) {
  const size_t bytes = 3 * static_cast<size_t>(needle_.Width);
  for (int32_t r = 0; r < needle_.Height; ++r) {
    work += kRowWork;
    const uint8_t* h = PixelPtr(hay_, ox, oy + r);
    const uint8_t* n = RowFromTop(needle_, r);
    const bool same = exact_ ? std::memcmp(h, n, bytes) == 0
                             : kernels_.rowWithin(h, n, static_cast<int32_t>(bytes), tolPattern_);
    if (!same) {
      Learn(h, r);
      return false;
    }
  }
  return true;
}

// The needle pixel that failed a verification is likely to fail at the next candidates too (a
// needle that differs from a repetitive screen in one place): it is tested first from now on.
void AnchorScan::Learn(const uint8_t* h, int32_t r) {
  const uint8_t* n = RowFromTop(needle_, r);
  for (int32_t c = 0; c < needle_.Width; ++c, h += 3, n += 3) {
    const Span span = SpanAround(n, tol_);
    if (InRange(h, span)) continue;
    for (int i = 0; i < learned_.count; ++i) {
      if (learned_.probes[i].x == c && learned_.probes[i].y == r) return;
    }
    for (int i = std::min(learned_.count, LearnedChecks::kMax - 1); i > 0; --i)
      learned_.probes[i] = learned_.probes[i - 1];
    learned_.probes[0] = MakeProbe(c, r, span);
    learned_.count = std::min(learned_.count + 1, LearnedChecks::kMax);
    ++trace_.learned;
    return;
  }
}

}  // namespace ostrane::search
