// Search timings on generated scenes at full HD and at 4K: the fast search at the best
// instruction-set level and at SSE2, and the straightforward scan it replaces, each scene exact
// and at similarity 90. Each 4K row is followed by its ratio to the same scene at full HD.
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
  bool slowReference;       // the scan takes seconds: run it once
  std::string suffix = {};  // ends the row's name: the screen size where it is not full HD
};

std::shared_ptr<TBDBitmapData> Bitmap(const Picture& p) {
  auto b = std::make_shared<TBDBitmapData>();
  Load(*b, p);
  return b;
}

// The scenes on a screen of w x h; `suffix` ends their rows' names.
std::vector<Scene> Scenes(int w, int h, const std::string& suffix) {
  std::vector<Scene> s;
  const int k = w / kScreenW;  // the desktop's layout scale: its needles are cut where they were
  const Picture desktop = Desktop(w, h);
  const auto hay = Bitmap(desktop);
  s.push_back({"desktop 48x48", hay, Bitmap(Cut(desktop, 1800 * k, 1000 * k, 48, 48)), false});
  s.push_back({"desktop 100x100", hay, Bitmap(Cut(desktop, 1780 * k, 940 * k, 100, 100)), false});
  s.push_back({"desktop text 80x12", hay, Bitmap(Cut(desktop, 1500 * k, 978 * k, 80, 12)), false});
  const Picture white = MostlyWhite(w, h);
  s.push_back(
      {"white, 64x64 icon", Bitmap(white), Bitmap(Cut(white, w - 120, h - 100, 64, 64)), true});
  // The comparison walks the needle's stored rows bottom row first, so the pixel it reaches last
  // is the top row's right end.
  Picture flatNeedle(64, 64, 0x808080);
  flatNeedle.at(63, 0) = 0x8080B0;
  s.push_back(
      {"flat grey, last pixel differs", Bitmap(Picture(w, h, 0x808080)), Bitmap(flatNeedle), true});
  const Picture striped = Striped(w, h);
  Picture stripeNeedle = Cut(striped, 0, 0, 64, 64);
  stripeNeedle.at(63, 0) = striped.at(0, 1);  // the other stripe colour: common too
  s.push_back({"stripes, forced candidates", Bitmap(striped), Bitmap(stripeNeedle), true});
  // Two-colour noise: every needle pixel common and failures at varying pixels, so the exact
  // search ends up on the rolling hash.
  const Picture noise = Noise(w, h);
  Picture noiseNeedle = Cut(noise, 1000 * k, 500 * k, 64, 64);
  noiseNeedle.at(63, 0) ^= 0xFFFFFF;
  s.push_back({"noise, forced candidates", Bitmap(noise), Bitmap(noiseNeedle), true});
  for (Scene& scene : s)
    scene.suffix = suffix;
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

void Register(const Scene& scene, const TColorTolerance* tol, bool large) {
  const std::string row = scene.name + (tol ? ", similarity 90" : ", exact") + scene.suffix;
  for (const std::string method : {"fast", "SSE2", "scan"}) {
    // The scans that take seconds at full HD would take minutes at 4K.
    if (method == "scan" && large && scene.slowReference) continue;
    auto* b = benchmark::RegisterBenchmark((row + "/" + method).c_str(), Run, scene, tol, method);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    if (method != "scan") {
      b->Repetitions(7)->MinTime(0.05)->ReportAggregatesOnly(true);
    } else if (scene.slowReference || large) {
      b->Iterations(1)->Repetitions(1);
    } else {
      b->Repetitions(3)->MinTime(0.05)->ReportAggregatesOnly(true);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<Scene> hd = Scenes(kScreenW, kScreenH, "");
  static const std::vector<Scene> uhd = Scenes(k4KW, k4KH, kSuffix4K);
  static const TColorTolerance similarity90{25, 25, 25};
  // Each full-HD row and its 4K row one after the other, so that the machine's slow spells
  // touch both alike.
  for (size_t i = 0; i < hd.size(); ++i) {
    for (const TColorTolerance* tol :
         {static_cast<const TColorTolerance*>(nullptr), &similarity90}) {
      Register(hd[i], tol, false);
      Register(uhd[i], tol, true);
    }
  }
  benchmark::Initialize(&argc, argv);
  TableReporter table({"fast", "SSE2", "scan"}, "scan");
  benchmark::RunSpecifiedBenchmarks(&table);
  table.PrintTable();
  benchmark::Shutdown();
  return 0;
}
