// Capture and whole-pass timings against a private full-HD Xvfb showing the desktop scene: the
// shared-memory capture with the vector conversion against XGetImage, and a whole ClickPass
// against the same pass done with the straightforward scan.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bench/Scenes.h"
#include "bench/Table.h"
#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "engine/Search.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/PrivateX.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace ostrane;
using platform::x11::X11Desktop;

X11Desktop* g_desktop = nullptr;

bool Copy(TBDBitmapData& bitmap, int32_t x, int32_t y, int32_t w, int32_t h) {
  return bitmap.CopyFromScreen(*g_desktop, {bench::kScreenW, bench::kScreenH}, x, y, w, h);
}

void Capture(benchmark::State& state, bool shared) {
  g_desktop->SetUseSharedMemory(shared);
  for (auto _ : state) {
    TBDBitmapData screen;
    benchmark::DoNotOptimize(Copy(screen, 0, 0, bench::kScreenW, bench::kScreenH));
  }
  g_desktop->SetUseSharedMemory(true);
}

const ScreenRect kFind{1800, 1000, 1848, 1048};
const ScreenRect kClick{0, 0, bench::kScreenW, bench::kScreenH};

// The pass as before: both captures, the scan, the click.
void ScanPass(int32_t similarPercent, int32_t& count) {
  platform::Desktop& desktop = *g_desktop;
  TBDBitmapData hay, needle;
  if (Copy(hay, kClick.Left, kClick.Top, kClick.Right - kClick.Left, kClick.Bottom - kClick.Top) &&
      Copy(needle, kFind.Left, kFind.Top, kFind.Right - kFind.Left, kFind.Bottom - kFind.Top)) {
    int32_t x, y;
    const int32_t t = ToleranceForSimilarity(similarPercent);
    const bool found = similarPercent == 100
                           ? search::ScanExact(hay, needle, x, y)
                           : search::ScanWithTolerance(hay, needle, TColorTolerance{t, t, t}, x, y);
    if (found) {
      const int32_t cx = x + needle.Width / 2, cy = y + needle.Height / 2;
      desktop.MovePointer(cx, cy);
      desktop.LeftButtonDown();
      desktop.LeftButtonUp();
      ++count;
    }
  }
}

void FastPass(int32_t similarPercent, int32_t& count) {
  const PassInput input{kFind, kClick, similarPercent, {bench::kScreenW, bench::kScreenH}, {}};
  ClickPass(*g_desktop, input, {}, count);
}

void Pass(benchmark::State& state, int32_t similarPercent, bool fast) {
  int32_t count = 0;
  for (auto _ : state) {
    if (fast) {
      FastPass(similarPercent, count);
    } else {
      ScanPass(similarPercent, count);
    }
  }
  if (count != static_cast<int32_t>(state.iterations())) state.SkipWithError("no click");
}

// A pass as the timer runs it: after an idle gap in which the server, the helper and the caches go
// cold. Only the pass itself is timed.
void PassAfterIdle(benchmark::State& state, bool fast) {
  int32_t count = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    if (fast) {
      FastPass(100, count);
    } else {
      ScanPass(100, count);
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (count != static_cast<int32_t>(state.iterations())) state.SkipWithError("no click");
}

}  // namespace

int main(int argc, char** argv) {
  testkit::PrivateX server("1920x1080");
  if (!server.Running()) {
    std::fprintf(stderr, "desktop_bench: %s\n", server.Error().c_str());
    return 1;
  }
  setenv("DISPLAY", server.Display().c_str(), 1);
  std::string error;
  std::unique_ptr<X11Desktop> desktop = X11Desktop::Open(nullptr, error);
  if (!desktop) {
    std::fprintf(stderr, "desktop_bench: %s\n", error.c_str());
    return 1;
  }
  g_desktop = desktop.get();
  platform::ScopedActiveDesktop scope(*desktop);
  InitScreenMetrics();
  const bench::Picture scene = bench::Desktop();
  testkit::TestWindow window(0, 0, scene.w, scene.h, scene.px);
  if (!window.Ok()) {
    std::fprintf(stderr, "desktop_bench: the scene window did not show\n");
    return 1;
  }

  // Many short repetitions: the median stays put when the machine has a slow spell.
  auto reps = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(15)->MinTime(0.1);
    b->ReportAggregatesOnly(true);
  };
  reps(benchmark::RegisterBenchmark("capture 1920x1080/fast", Capture, true));
  reps(benchmark::RegisterBenchmark("capture 1920x1080/reference", Capture, false));
  reps(benchmark::RegisterBenchmark("ClickPass full screen, exact/fast", Pass, 100, true));
  reps(benchmark::RegisterBenchmark("ClickPass full screen, exact/reference", Pass, 100, false));
  reps(benchmark::RegisterBenchmark("ClickPass full screen, similarity 90/fast", Pass, 90, true));
  benchmark::RegisterBenchmark("ClickPass full screen, similarity 90/reference", Pass, 90, false)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Repetitions(3)
      ->Iterations(3)
      ->ReportAggregatesOnly(true);

  for (const bool fast : {true, false}) {
    benchmark::RegisterBenchmark(fast ? "ClickPass full screen after 10 ms idle, exact/fast"
                                      : "ClickPass full screen after 10 ms idle, exact/reference",
                                 PassAfterIdle, fast)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(fast ? 40 : 10)
        ->Repetitions(fast ? 9 : 3)
        ->ReportAggregatesOnly(true);
  }

  benchmark::Initialize(&argc, argv);
  bench::TableReporter table({"fast", "reference"}, "reference");
  benchmark::RunSpecifiedBenchmarks(&table);
  table.PrintTable();
  benchmark::Shutdown();
  return 0;
}
