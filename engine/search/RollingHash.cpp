#include "engine/search/RollingHash.h"

#include <vector>

#include "engine/search/Probe.h"

namespace ostrane::search {

namespace {

// Per byte column, a polynomial in kRowBase over the needle's height of bytes above it. Across a
// window, each column weighs kPixelBase to the power of its pixel's position, times 1,
// kGreenWeight or kRedWeight for its channel. All arithmetic wraps modulo 2^32.
constexpr uint32_t kRowBase = 0x01000193u;
constexpr uint32_t kPixelBase = 0x9E3779B9u;
constexpr uint32_t kGreenWeight = 0x85EBCA6Bu;
constexpr uint32_t kRedWeight = 0xC2B2AE35u;

}  // namespace

bool RollingHashFind(const TBDBitmapData& hay, const TBDBitmapData& needle,
                     const simd::Kernels& kernels, int32_t y0, int32_t y1, int32_t& x, int32_t& y) {
  const int32_t width = hay.Width, needleWidth = needle.Width, needleHeight = needle.Height;
  const int32_t rowBytes = 3 * width, needleRowBytes = 3 * needleWidth;
  const int32_t lastX = width - needleWidth;

  // The weight of the row that leaves the window as it slides down: kRowBase^needleHeight.
  uint32_t leavingRowWeight = 1;
  for (int32_t i = 0; i < needleHeight; ++i)
    leavingRowWeight *= kRowBase;

  std::vector<uint32_t> columnWeight(static_cast<size_t>(rowBytes));
  std::vector<uint32_t> pixelWeight(static_cast<size_t>(width));
  uint32_t power = 1;
  for (int32_t i = 0; i < width; ++i, power *= kPixelBase) {
    pixelWeight[i] = power;
    columnWeight[3 * i] = power;
    columnWeight[3 * i + 1] = power * kGreenWeight;
    columnWeight[3 * i + 2] = power * kRedWeight;
  }

  // The needle's hash, and what a window at offset x must hash to: the same times x's weight.
  std::vector<uint32_t> needleColumns(static_cast<size_t>(needleRowBytes), 0);
  for (int32_t r = 0; r < needleHeight; ++r)
    kernels.accumulate(needleColumns.data(), RowFromTop(needle, r), needleRowBytes, kRowBase);
  uint32_t needleHash = 0;
  for (int32_t j = 0; j < needleRowBytes; ++j)
    needleHash += needleColumns[j] * columnWeight[j];
  std::vector<uint32_t> wantedAt(static_cast<size_t>(lastX) + 1);
  for (int32_t i = 0; i <= lastX; ++i)
    wantedAt[i] = needleHash * pixelWeight[i];

  std::vector<uint32_t> columns(static_cast<size_t>(rowBytes), 0);
  std::vector<uint32_t> scratch(4 * static_cast<size_t>(width) + 2);
  std::vector<int32_t> hits(static_cast<size_t>(lastX) + 1);
  for (int32_t r = 0; r < needleHeight; ++r)
    kernels.accumulate(columns.data(), RowFromTop(hay, y0 + r), rowBytes, kRowBase);
  for (int32_t oy = y0; oy < y1; ++oy) {
    if (oy > y0) {
      kernels.roll(columns.data(), RowFromTop(hay, oy - 1), RowFromTop(hay, oy - 1 + needleHeight),
                   rowBytes, kRowBase, leavingRowWeight);
    }
    const int32_t n = kernels.windowMatches(columns.data(), columnWeight.data(), width, needleWidth,
                                            wantedAt.data(), scratch.data(), hits.data());
    for (int32_t i = 0; i < n; ++i) {
      if (hay.MatchAt(needle, hits[i], oy)) {
        x = hits[i];
        y = oy;
        return true;
      }
    }
  }
  return false;
}

}  // namespace ostrane::search
