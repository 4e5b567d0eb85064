// Capture and whole-pass timings against private Xvfb servers of 1920 x 1080 and 3840 x 2160, each
// showing the desktop scene: the shared-memory capture with the vector conversion against
// XGetImage, and a whole pass against the same pass done with the straightforward scan. Then the
// Wayland frame copy of both sizes, and the memory a 4K pass with full-screen scopes takes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/Scenes.h"
#include "bench/Table.h"
#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "engine/Search.h"
#include "platform/PixelRows.h"
#include "platform/x11/X11Desktop.h"
#include "tests/support/PrivateX.h"
#include "tests/support/TestWindow.h"
#ifdef OSTRANE_BENCH_FRAME_COPY
#include "platform/wayland/PixelConvert.h"
#endif

namespace {

using namespace ostrane;
using platform::x11::X11Desktop;

// One private server showing the desktop scene, with the scopes of its passes.
struct Screen {
  int w = 0, h = 0;
  std::string suffix;  // ends the rows' names: the size where it is not full HD
  std::unique_ptr<testkit::PrivateX> server;
  std::unique_ptr<X11Desktop> desktop;
  std::unique_ptr<testkit::TestWindow> window;
  ScreenRect find;  // a 48 x 48 piece near the bottom-right, where the search scene cuts it
  ScreenRect Whole() const { return {0, 0, w, h}; }
  platform::ScreenSize Size() const { return {w, h}; }
};

// Starts the server and shows the scene on it; a one-line reason on failure.
bool Open(Screen& s, int w, int h, std::string& error) {
  s.w = w;
  s.h = h;
  s.suffix = w == bench::kScreenW ? "" : bench::kSuffix4K;
  const int k = w / bench::kScreenW;
  s.find = {1800 * k, 1000 * k, 1800 * k + 48, 1000 * k + 48};
  s.server = std::make_unique<testkit::PrivateX>(std::to_string(w) + "x" + std::to_string(h));
  if (!s.server->Running()) {
    error = s.server->Error();
    return false;
  }
  // The scene window connects through DISPLAY.
  setenv("DISPLAY", s.server->Display().c_str(), 1);
  s.desktop = X11Desktop::Open(s.server->Display().c_str(), error);
  if (!s.desktop) return false;
  const bench::Picture scene = bench::Desktop(w, h);
  s.window = std::make_unique<testkit::TestWindow>(0, 0, scene.w, scene.h, scene.px);
  if (!s.window->Ok()) {
    error = "the scene window did not show";
    return false;
  }
  return true;
}

PassInput Input(const Screen& s, const ScreenRect& find, int32_t similarPercent) {
  PassInput input;
  input.FindScope = find;
  input.ClickScope = s.Whole();
  input.SimilarPercent = similarPercent;
  input.Screen = s.Size();
  return input;
}

void Capture(benchmark::State& state, Screen* s, bool shared) {
  s->desktop->SetUseSharedMemory(shared);
  for (auto _ : state) {
    TBDBitmapData screen;
    benchmark::DoNotOptimize(screen.CopyFromScreen(*s->desktop, s->Size(), 0, 0, s->w, s->h));
  }
  s->desktop->SetUseSharedMemory(true);
}

// The pass as before: both captures, the scan, the click.
bool ScanPass(Screen& s, int32_t similarPercent) {
  TBDBitmapData hay, needle;
  const ScreenRect& f = s.find;
  if (!hay.CopyFromScreen(*s.desktop, s.Size(), 0, 0, s.w, s.h) ||
      !needle.CopyFromScreen(*s.desktop, s.Size(), f.Left, f.Top, f.Right - f.Left,
                             f.Bottom - f.Top)) {
    return false;
  }
  int32_t x, y;
  const int32_t t = ToleranceForSimilarity(similarPercent);
  const bool found = similarPercent == 100
                         ? search::ScanExact(hay, needle, x, y)
                         : search::ScanWithTolerance(hay, needle, TColorTolerance{t, t, t}, x, y);
  if (!found) return false;
  s.desktop->MovePointer(x + needle.Width / 2, y + needle.Height / 2);
  s.desktop->LeftButtonDown();
  s.desktop->LeftButtonUp();
  return true;
}

bool OnePass(Screen& s, int32_t similarPercent, bool fast) {
  return fast ? FindAndClick(*s.desktop, Input(s, s.find, similarPercent), {}).Clicked()
              : ScanPass(s, similarPercent);
}

void Pass(benchmark::State& state, Screen* s, int32_t similarPercent, bool fast) {
  int64_t clicks = 0;
  for (auto _ : state)
    clicks += OnePass(*s, similarPercent, fast);
  if (clicks != state.iterations()) state.SkipWithError("no click");
}

// A pass as the timer runs it: after an idle gap in which the server, the helper and the caches go
// cold. Only the pass itself is timed.
void PassAfterIdle(benchmark::State& state, Screen* s, bool fast) {
  int64_t clicks = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    clicks += OnePass(*s, 100, fast);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (clicks != state.iterations()) state.SkipWithError("no click");
}

// A pass with both scopes the whole screen, on memory the process has returned, as the program's
// passes run: the C library gives freed bitmaps this large back to the system, so each pass
// faults its two bitmaps in anew. Only the pass is timed.
void FullScreenPass(benchmark::State& state, Screen* s) {
  int64_t clicks = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const auto start = std::chrono::steady_clock::now();
    clicks += FindAndClick(*s->desktop, Input(*s, s->Whole(), 100), {}).Clicked();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (clicks != state.iterations()) state.SkipWithError("no click");
}

// A screen-cast frame of w x h (BGRx, top row first) copied into a capture's 24-bit rows, bottom
// row first: the Wayland backend's copy, against the X11 backend's vector row converter.
void FrameCopy(benchmark::State& state, int w, int h, bool wayland) {
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < frame.size(); ++i)
    frame[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  TBDBitmapData bitmap;
  if (!bitmap.SetSize(w, h)) {
    state.SkipWithError("no memory");
    return;
  }
  for (auto _ : state) {
    if (wayland) {
#ifdef OSTRANE_BENCH_FRAME_COPY
      platform::wayland::FrameView view{frame.data(), w, h, 4 * w,
                                        platform::wayland::PixelFormat::Bgrx};
      benchmark::DoNotOptimize(
          platform::wayland::CopyRect(view, 0, 0, w, h, bitmap.Bits, bitmap.LineBytes));
#endif
    } else {
      for (int y = 0; y < h; ++y)
        platform::ConvertBgrxRow(
            frame.data() + static_cast<size_t>(y) * 4 * w,
            bitmap.Bits + static_cast<ptrdiff_t>(h - 1 - y) * bitmap.LineBytes, w);
    }
    benchmark::ClobberMemory();
  }
}

// Resident and peak resident sizes of this process, in bytes; 0 where they cannot be read.
struct Resident {
  double now = 0, peak = 0;
};
Resident ReadResident() {
  std::ifstream status("/proc/self/status");
  Resident r;
  std::string key;
  double kb;
  while (status >> key) {
    if (key == "VmRSS:" && status >> kb) r.now = kb * 1024;
    if (key == "VmHWM:" && status >> kb) r.peak = kb * 1024;
  }
  return r;
}

// The most the process's resident size rose above its size before, during one pass with both
// scopes the whole screen; -1 where the peak cannot be reset. The first pass on a desktop also
// creates the capture's shared segment, which later passes reuse.
double PassPeakBytes(Screen& s, double& after) {
  const Resident before = ReadResident();
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    if (!reset) return -1;
  }
  if (!FindAndClick(*s.desktop, Input(s, s.Whole(), 100), {}).Clicked()) return -1;
  const Resident r = ReadResident();
  after = r.now - before.now;
  return r.peak - before.now;
}

void PrintMemory(Screen& s) {
  constexpr double kMB = 1e6;
  const double bitmap = double(LineBytesFor(s.w)) * s.h;
  const double segment = 4.0 * s.w * s.h;
  std::printf(
      "\n| pass with full-screen scopes, %dx%d | peak above before (MB) | "
      "left after it (MB) | two bitmaps (MB) | capture buffer (MB) |\n"
      "|---|---:|---:|---:|---:|\n",
      s.w, s.h);
  for (const char* which : {"first", "second", "third"}) {
    double after = 0;
    const double peak = PassPeakBytes(s, after);
    if (peak < 0) {
      std::printf("| %s | - | - | - | - |\n", which);
      continue;
    }
    std::printf("| %s | %.1f | %.1f | %.1f | %.1f |\n", which, peak / kMB, after / kMB,
                2 * bitmap / kMB, segment / kMB);
  }
  std::fflush(stdout);
}

void Register(Screen& s) {
  // Many short repetitions: the median stays put when the machine has a slow spell.
  auto reps = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(15)->MinTime(0.1);
    b->ReportAggregatesOnly(true);
  };
  auto name = [&](const std::string& row, const char* column) {
    return row + s.suffix + "/" + column;
  };
  Screen* p = &s;
  reps(benchmark::RegisterBenchmark(name("capture", "fast").c_str(), Capture, p, true));
  reps(benchmark::RegisterBenchmark(name("capture", "reference").c_str(), Capture, p, false));
  const std::string exact = "ClickPass full screen, exact", tolerant =
                                                                "ClickPass full screen, "
                                                                "similarity 90";
  reps(benchmark::RegisterBenchmark(name(exact, "fast").c_str(), Pass, p, 100, true));
  reps(benchmark::RegisterBenchmark(name(exact, "reference").c_str(), Pass, p, 100, false));
  reps(benchmark::RegisterBenchmark(name(tolerant, "fast").c_str(), Pass, p, 90, true));
  benchmark::RegisterBenchmark(name(tolerant, "reference").c_str(), Pass, p, 90, false)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Repetitions(3)
      ->Iterations(3)
      ->ReportAggregatesOnly(true);
  benchmark::RegisterBenchmark(name("ClickPass, both scopes the whole screen", "fast").c_str(),
                               FullScreenPass, p)
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(5)
      ->Repetitions(5)
      ->ReportAggregatesOnly(true);
  for (const bool fast : {true, false}) {
    benchmark::RegisterBenchmark(
        name("ClickPass full screen after 10 ms idle, exact", fast ? "fast" : "reference").c_str(),
        PassAfterIdle, p, fast)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(fast ? 40 : 10)
        ->Repetitions(fast ? 9 : 3)
        ->ReportAggregatesOnly(true);
  }
}

void RegisterFrameCopy(int w, int h) {
  const std::string row =
      std::string("Wayland frame copy") + (w == bench::kScreenW ? "" : bench::kSuffix4K);
  for (const bool wayland : {true, false}) {
#ifndef OSTRANE_BENCH_FRAME_COPY
    if (wayland) continue;
#endif
    benchmark::RegisterBenchmark((row + (wayland ? "/fast" : "/reference")).c_str(), FrameCopy, w,
                                 h, wayland)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(15)
        ->MinTime(0.1)
        ->ReportAggregatesOnly(true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Screen hd, uhd;
  std::string error;
  if (!Open(hd, bench::kScreenW, bench::kScreenH, error) ||
      !Open(uhd, bench::k4KW, bench::k4KH, error)) {
    std::fprintf(stderr, "desktop_bench: %s\n", error.c_str());
    return 1;
  }
  // Before any other pass, so that the first one creates the capture's segment.
  PrintMemory(uhd);

  Register(hd);
  Register(uhd);
  RegisterFrameCopy(bench::kScreenW, bench::kScreenH);
  RegisterFrameCopy(bench::k4KW, bench::k4KH);
  benchmark::Initialize(&argc, argv);
  bench::TableReporter table({"fast", "reference"}, "reference");
  benchmark::RunSpecifiedBenchmarks(&table);
  table.PrintTable();
  benchmark::Shutdown();
  return 0;
}
