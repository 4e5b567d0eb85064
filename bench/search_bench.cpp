// Search timings on generated full-HD scenes.
#include <benchmark/benchmark.h>

#include <random>

#include "engine/BitmapData.h"

namespace {

using ostrane::TBDBitmapData;

// Flat background with noisy blocks, a deterministic stand-in for a desktop.
void MakeScene(TBDBitmapData& b, int w, int h) {
  b.SetSize(w, h);
  std::mt19937 rng(42);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, ((x / 64 + y / 64) % 3 == 0) ? rng() & 0xFFFFFF : 0xF0F0F0);
}

void Cut(const TBDBitmapData& from, TBDBitmapData& to, int x, int y, int w, int h) {
  to.SetSize(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      to.SetPixel(c, r, from.PixelAt(x + c, y + r));
}

void BM_ScanExactDesktop48(benchmark::State& state) {
  TBDBitmapData hay, needle;
  MakeScene(hay, 1920, 1080);
  Cut(hay, needle, 1800, 1000, 48, 48);
  for (auto _ : state) {
    int32_t x, y;
    benchmark::DoNotOptimize(hay.FindImage(needle, x, y));
  }
}
BENCHMARK(BM_ScanExactDesktop48)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
