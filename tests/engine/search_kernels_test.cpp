// The vector kernels of the fast search against plain loops, at every level the processor has and
// at every tail length.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/FastSearch.h"
#include "engine/simd/Kernels.h"

namespace ostrane {
namespace {

using search::Level;

std::vector<Level> Levels() {
  std::vector<Level> levels{Level::Scalar};
  if (search::UsableLevel(Level::Sse2) == Level::Sse2) levels.push_back(Level::Sse2);
  if (search::UsableLevel(Level::Avx2) == Level::Avx2) levels.push_back(Level::Avx2);
  return levels;
}

// Every level against a plain loop, with one to eight probes over rows of every length: each
// probe has its own pixels, so a probe applied to the wrong row or skipped shows up; the later
// ones pass most pixels, so that some offsets pass them all. The buffers
// end where the data ends, so a load past the end is caught by the address sanitizer.
TEST(SearchKernels, AnchorScanMatchesAPlainLoopAtEveryLengthAndProbeCount) {
  std::mt19937 rng(11);
  constexpr int kProbes = search::simd::kMaxRowProbes;
  const uint8_t lo[kProbes][3] = {{10, 0, 200}, {0, 0, 0},    {0, 100, 0}, {50, 0, 0},
                                  {0, 0, 0},    {20, 20, 20}, {0, 30, 0},  {10, 0, 10}};
  const uint8_t hi[kProbes][3] = {{20, 255, 210},  {128, 128, 128}, {255, 255, 200},
                                  {255, 180, 255}, {230, 230, 230}, {255, 255, 255},
                                  {255, 255, 240}, {250, 250, 250}};
  search::simd::ColorRange ranges[kProbes];
  for (int k = 0; k < kProbes; ++k)
    ranges[k] = search::simd::MakeRange(lo[k], hi[k]);
  for (const Level level : Levels()) {
    const auto& kernels = search::simd::KernelsFor(level);
    for (int count = 0; count <= 100; ++count) {
      std::vector<std::vector<uint8_t>> rows(kProbes, std::vector<uint8_t>(3 * size_t(count)));
      for (size_t i = 0; i < rows[0].size(); ++i) {
        rows[0][i] = uint8_t(i % 3 == 0 ? 5 + rng() % 20 : i % 3 == 2 ? 195 + rng() % 20 : rng());
        rows[1][i] = uint8_t(rng() % 160);
        for (int k = 2; k < kProbes; ++k)
          rows[k][i] = uint8_t(rng());
      }
      for (int probes = 1; probes <= kProbes; ++probes) {
        search::simd::RowProbe p[kProbes];
        std::vector<int32_t> want;
        for (int k = 0; k < probes; ++k)
          p[k] = {rows[k].data(), &ranges[k]};
        for (int i = 0; i < count; ++i) {
          bool pass = true;
          for (int k = 0; k < probes; ++k)
            for (int c = 0; c < 3; ++c)
              pass = pass && rows[k][3 * i + c] >= lo[k][c] && rows[k][3 * i + c] <= hi[k][c];
          if (pass) want.push_back(i);
        }
        std::vector<int32_t> got(size_t(count) + 1);
        got.resize(size_t(kernels.anchorScan(p, probes, count, got.data())));
        EXPECT_EQ(got, want) << "count " << count << " probes " << probes;
      }
    }
  }
}

TEST(SearchKernels, RowToleranceMatchesScalarAtEveryLengthAndMismatchPosition) {
  uint8_t tol[96];
  for (int i = 0; i < 96; ++i)
    tol[i] = uint8_t(i % 3 == 0 ? 3 : i % 3 == 1 ? 0 : 255);
  for (const Level level : Levels()) {
    const auto& k = search::simd::KernelsFor(level);
    for (int bytes = 0; bytes <= 3 * 70; bytes += 3) {
      std::vector<uint8_t> h(static_cast<size_t>(bytes)), n(static_cast<size_t>(bytes));
      for (int i = 0; i < bytes; ++i) {
        n[i] = uint8_t(100 + i % 50);
        h[i] = uint8_t(n[i] + (i % 3 == 0 ? (i % 7) - 3 : i % 3 == 2 ? 150 : 0));
      }
      EXPECT_TRUE(k.rowWithin(h.data(), n.data(), bytes, tol)) << bytes;
      // One byte one step past its channel's limit, at every position.
      for (int at = 0; at < bytes; ++at) {
        if (at % 3 == 2) continue;  // red accepts any difference here
        std::vector<uint8_t> bad = h;
        bad[at] = uint8_t(n[at] + (at % 3 == 0 ? 4 : 1));
        EXPECT_FALSE(k.rowWithin(bad.data(), n.data(), bytes, tol)) << bytes << " at " << at;
      }
    }
  }
}

}  // namespace
}  // namespace ostrane
