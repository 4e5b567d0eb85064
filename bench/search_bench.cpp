// Search timings on generated full-HD scenes: the fast search at the best instruction-set level
// and at SSE2, and the straightforward scan it replaces, each scene exact and at similarity 90.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/Scenes.h"
#include "bench/Table.h"
#include "engine/BitmapData.h"
#include "engine/FastSearch.h"
#include "engine/Search.h"

namespace {

using namespace ostrane;
using namespace ostrane::bench;

struct Scene {
  std::string name;
  std::shared_ptr<TBDBitmapData> hay, needle;
  bool slowReference;  // the scan takes seconds: run it once
};

std::shared_ptr<TBDBitmapData> Bitmap(const Picture& p) {
  auto b = std::make_shared<TBDBitmapData>();
  Load(*b, p);
  return b;
}

std::vector<Scene> Scenes() {
  std::vector<Scene> s;
  const Picture desktop = Desktop();
  const auto hay = Bitmap(desktop);
  s.push_back({"desktop 48x48", hay, Bitmap(Cut(desktop, 1800, 1000, 48, 48)), false});
  s.push_back({"desktop 100x100", hay, Bitmap(Cut(desktop, 1780, 940, 100, 100)), false});
  s.push_back({"desktop text 80x12", hay, Bitmap(Cut(desktop, 1500, 978, 80, 12)), false});
  const Picture white = MostlyWhite();
  s.push_back({"white, 64x64 icon", Bitmap(white), Bitmap(Cut(white, 1800, 980, 64, 64)), true});
  // The comparison walks the needle's stored rows bottom row first, so the pixel it reaches last
  // is the top row's right end.
  Picture flatNeedle(64, 64, 0x808080);
  flatNeedle.at(63, 0) = 0x8080B0;
  s.push_back({"flat grey, last pixel differs", Bitmap(Picture(kScreenW, kScreenH, 0x808080)),
               Bitmap(flatNeedle), true});
  const Picture striped = Striped();
  Picture stripeNeedle = Cut(striped, 0, 0, 64, 64);
  stripeNeedle.at(63, 0) = striped.at(0, 1);  // the other stripe colour: common too
  s.push_back({"stripes, forced candidates", Bitmap(striped), Bitmap(stripeNeedle), true});
  // Two-colour noise: every needle pixel common and failures at varying pixels, so the exact
  // search ends up on the rolling hash.
  std::mt19937 rng(77);
  Picture noise(kScreenW, kScreenH, 0);
  for (auto& v : noise.px)
    v = (rng() & 1) ? 0xFFFFFF : 0x000000;
  Picture noiseNeedle = Cut(noise, 1000, 500, 64, 64);
  noiseNeedle.at(63, 0) ^= 0xFFFFFF;
  s.push_back({"noise, forced candidates", Bitmap(noise), Bitmap(noiseNeedle), true});
  return s;
}

void Run(benchmark::State& state, const Scene& scene, const TColorTolerance* tol,
         const std::string& method) {
  const TBDBitmapData& hay = *scene.hay;
  const TBDBitmapData& needle = *scene.needle;
  search::SearchOptions options;
  if (method == "SSE2") options.level = search::Level::Sse2;
  for (auto _ : state) {
    int32_t x = -1, y = -1;
    bool found;
    if (method == "scan") {
      found = tol ? search::ScanWithTolerance(hay, needle, *tol, x, y)
                  : search::ScanExact(hay, needle, x, y);
    } else {
      found = search::Find(hay, needle, tol, options, x, y);
    }
    benchmark::DoNotOptimize(found);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<Scene> scenes = Scenes();
  static const TColorTolerance similarity90{25, 25, 25};
  for (const Scene& scene : scenes) {
    for (const TColorTolerance* tol :
         {static_cast<const TColorTolerance*>(nullptr), &similarity90}) {
      const std::string row = scene.name + (tol ? ", similarity 90" : ", exact");
      for (const std::string method : {"fast", "SSE2", "scan"}) {
        auto* b =
            benchmark::RegisterBenchmark((row + "/" + method).c_str(), Run, scene, tol, method);
        b->Unit(benchmark::kMillisecond)->UseRealTime();
        if (method != "scan") {
          b->Repetitions(7)->MinTime(0.05)->ReportAggregatesOnly(true);
        } else if (scene.slowReference) {
          b->Iterations(1)->Repetitions(1);
        } else {
          b->Repetitions(3)->MinTime(0.05)->ReportAggregatesOnly(true);
        }
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  TableReporter table({"fast", "SSE2", "scan"}, "scan");
  benchmark::RunSpecifiedBenchmarks(&table);
  table.PrintTable();
  benchmark::Shutdown();
  return 0;
}
