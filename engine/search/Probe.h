// Pixels addressed by row from the top, and the needle pixels the search tests at every offset
// with the haystack colours each accepts.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/BitmapData.h"
#include "engine/simd/Kernels.h"
#include "platform/PixelRows.h"

namespace ostrane::search {

inline const uint8_t* RowFromTop(const TBDBitmapData& b, int32_t y) {
  return platform::RowFromTop<const uint8_t>(b.Bits, b.Height, b.LineBytes, y);
}

inline const uint8_t* PixelPtr(const TBDBitmapData& b, int32_t x, int32_t y) {
  return platform::PixelFromTop<const uint8_t>(b.Bits, b.Height, b.LineBytes, x, y);
}

// Either range type: only the first three bytes of lo and hi are read.
template <typename Range>
bool InRange(const uint8_t* q, const Range& r) {
  return q[0] >= r.lo[0] && q[0] <= r.hi[0] && q[1] >= r.lo[1] && q[1] <= r.hi[1] &&
         q[2] >= r.lo[2] && q[2] <= r.hi[2];
}

// Per-channel tolerance in storage order (blue, green, red), at most 255; zero when exact.
using ChannelTolerance = std::array<uint8_t, 3>;

inline ChannelTolerance ChannelToleranceOf(const TColorTolerance* tolerance) {
  if (!tolerance) return {0, 0, 0};
  return {static_cast<uint8_t>(std::min(tolerance->B, 255)),
          static_cast<uint8_t>(std::min(tolerance->G, 255)),
          static_cast<uint8_t>(std::min(tolerance->R, 255))};
}

// The colours within the tolerance of pixel q, per channel.
struct Span {
  uint8_t lo[3];
  uint8_t hi[3];
};

inline Span SpanAround(const uint8_t* q, const ChannelTolerance& tol) {
  Span r{};
  for (int k = 0; k < 3; ++k) {
    r.lo[k] = static_cast<uint8_t>(std::max(0, int{q[k]} - tol[k]));
    r.hi[k] = static_cast<uint8_t>(std::min(255, int{q[k]} + tol[k]));
  }
  return r;
}

// A needle pixel to test at every offset: its position and the haystack colours it accepts.
struct Probe {
  int32_t x = 0;
  int32_t y = 0;
  simd::ColorRange range{};
};

inline Probe MakeProbe(int32_t x, int32_t y, const Span& span) {
  return Probe{x, y, simd::MakeRange(span.lo, span.hi)};
}

}  // namespace ostrane::search
