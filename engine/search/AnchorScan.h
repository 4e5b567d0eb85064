// The search along the offset rows: the offsets where the plan's probes pass are found by the
// vector kernels, then checked further and verified in scan order. Once the exact search has
// spent its budget on candidates, the rest of its rows go to the rolling hash.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/search/Plan.h"
#include "engine/search/Probe.h"
#include "engine/search/Trace.h"
#include "engine/simd/Kernels.h"

namespace ostrane::search {

// The bitmaps and the means of one search, shared by all its parts.
struct SearchInput {
  const TBDBitmapData& hay;
  const TBDBitmapData& needle;
  const TColorTolerance* tolerance;  // null for the exact search
  const simd::Kernels& kernels;
};

// Says, polled once per row, that an earlier part of the haystack holds a match, so this part's
// answer no longer matters. A default-constructed one never says so.
class EarlierPartFound {
 public:
  EarlierPartFound() = default;
  EarlierPartFound(const std::atomic<int32_t>& firstFound, int32_t part)
      : firstFound_(&firstFound), part_(part) {}
  bool operator()() const {
    return firstFound_ && firstFound_->load(std::memory_order_relaxed) < part_;
  }

 private:
  const std::atomic<int32_t>* firstFound_ = nullptr;
  int32_t part_ = 0;
};

// Needle pixels that failed a verification, most recent first.
struct LearnedChecks {
  static constexpr int kMax = 2;
  std::array<Probe, kMax> probes{};
  int count = 0;
  bool preferred = false;  // the latest rejects more candidates than the plan's next rarest
};

class AnchorScan {
 public:
  // `budget` is the candidate work (kRowWork per needle row compared, one per candidate) after
  // which an exact search changes to the rolling hash.
  AnchorScan(const SearchInput& in, int64_t budget, Trace& trace);

  // Sets (x, y) to the first match at offset rows [y0, y1).
  bool Run(const Plan& plan, int32_t y0, int32_t y1, const EarlierPartFound& stop, int32_t& x,
           int32_t& y);

 private:
  bool Verify(int32_t ox, int32_t oy, int64_t& work);
  void Learn(const uint8_t* h, int32_t r);

  const TBDBitmapData& hay_;
  const TBDBitmapData& needle_;
  const bool exact_;
  const simd::Kernels& kernels_;
  const int64_t budget_;
  Trace& trace_;
  const ChannelTolerance tol_;
  uint8_t tolPattern_[96];
  const int32_t lastX_;
  LearnedChecks learned_;
};

}  // namespace ostrane::search
