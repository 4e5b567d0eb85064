// FindImage and FindImageWithTolerance against the straightforward scan, at every vector level the
// processor has, on small scenes decoded from the input: a few nearby colours so that matches and
// near misses are common, needles cut from the haystack or planted in it with small changes, the
// search split into parts (on the helper thread or not) and the rolling hash forced early.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "engine/BitmapData.h"
#include "engine/FastSearch.h"
#include "engine/Search.h"

namespace {

using ostrane::Pixel;
using ostrane::TBDBitmapData;
using ostrane::TColorTolerance;
using ostrane::search::Level;

constexpr int32_t kMaxSide = 64;

uint8_t Clamp(int v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

Pixel Shift(Pixel p, int dr, int dg, int db) {
  return ostrane::MakePixel(Clamp(ostrane::RedOf(p) + dr), Clamp(ostrane::GreenOf(p) + dg),
                            Clamp(ostrane::BlueOf(p) + db));
}

// A base colour and up to three more within `spread` of it in every channel.
struct Palette {
  std::vector<Pixel> colours;

  Palette(FuzzedDataProvider& in, int spread) {
    const uint8_t r = in.ConsumeIntegral<uint8_t>(), g = in.ConsumeIntegral<uint8_t>();
    const Pixel base = ostrane::MakePixel(r, g, in.ConsumeIntegral<uint8_t>());
    colours.push_back(base);
    const int more = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < more; ++i) {
      const int dr = in.ConsumeIntegralInRange(-spread, spread);
      const int dg = in.ConsumeIntegralInRange(-spread, spread);
      colours.push_back(Shift(base, dr, dg, in.ConsumeIntegralInRange(-spread, spread)));
    }
  }
  Pixel operator[](uint32_t i) const { return colours[i % colours.size()]; }
};

// Fills the whole store, row padding included, with one byte before the pixels are set: the
// search must not depend on the padding.
void Allocate(TBDBitmapData& b, int32_t w, int32_t h, uint8_t junk) {
  if (!b.SetSize(w, h)) std::abort();
  if (b.Size > 0) std::memset(b.Bits, junk, static_cast<size_t>(b.Size));
}

// Colours a bitmap with a pattern of stripes or checks (a plain background when both slopes are
// zero), which defeats sampling and floods the search with candidates, and replaces a share of
// the pixels by random palette colours. The input chooses the generator's seed, not every pixel,
// so that every byte of it shapes the case.
void Paint(FuzzedDataProvider& in, const Palette& palette, TBDBitmapData& b) {
  const int a = in.ConsumeIntegralInRange(0, 3), c = in.ConsumeIntegralInRange(0, 3);
  const int period = in.ConsumeIntegralInRange(1, 4);
  const uint32_t scattered = in.ConsumeIntegral<uint8_t>();  // in 256ths
  uint32_t state = in.ConsumeIntegral<uint32_t>();
  for (int32_t y = 0; y < b.Height; ++y) {
    for (int32_t x = 0; x < b.Width; ++x) {
      state = state * 1664525u + 1013904223u;
      const bool random = (state >> 24) < scattered;
      b.SetPixel(x, y,
                 palette[random ? state >> 8 : static_cast<uint32_t>((a * x + c * y) / period)]);
    }
  }
}

// Copies w x h pixels from (fx, fy) of `from` to (tx, ty) of `to`, each channel moved by up to
// `jitter` (offsets drawn from a generator, so a short input still gets varied ones).
void Copy(FuzzedDataProvider& in, const TBDBitmapData& from, int32_t fx, int32_t fy,
          TBDBitmapData& to, int32_t tx, int32_t ty, int32_t w, int32_t h, int jitter) {
  uint32_t state = jitter > 0 ? in.ConsumeIntegral<uint32_t>() : 0;
  auto offset = [&] {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 16) % static_cast<uint32_t>(2 * jitter + 1)) - jitter;
  };
  for (int32_t r = 0; r < h; ++r) {
    for (int32_t c = 0; c < w; ++c) {
      const int dr = offset(), dg = offset(), db = offset();
      to.SetPixel(tx + c, ty + r, Shift(from.PixelAt(fx + c, fy + r), dr, dg, db));
    }
  }
}

// Mostly tolerances around the palette's spread; sometimes the edges: negative (matches nothing),
// 255 and beyond (matches everything in that channel), and the extremes the similarity allows.
int32_t Tolerance(uint8_t choice, int spread) {
  static constexpr int32_t kEdges[] = {-21474836, -1, 254, 255, 256, 1000, 21474836, INT32_MAX};
  if (choice < 224) return choice % (2 * spread + 3);
  return kEdges[choice % std::size(kEdges)];
}

// Off-by-one faults hide at the first and the last row or column: both are picked often.
int32_t Position(FuzzedDataProvider& in, int32_t last) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return 0;
    case 1:
      return last;
    default:
      return in.ConsumeIntegralInRange(0, last);
  }
}

struct Answer {
  bool found = false;
  int32_t x = -1, y = -1;
  bool operator==(const Answer&) const = default;
};

std::vector<Level> AvailableLevels() {
  std::vector<Level> levels{Level::Scalar};
  if (ostrane::search::UsableLevel(Level::Sse2) == Level::Sse2) levels.push_back(Level::Sse2);
  if (ostrane::search::UsableLevel(Level::Avx2) == Level::Avx2) levels.push_back(Level::Avx2);
  return levels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<Level> levels = AvailableLevels();
  FuzzedDataProvider in(data, size);

  // The shape of the case comes first, so that the input's first bytes decide the most.
  const int32_t hw = in.ConsumeIntegralInRange(0, kMaxSide);
  const int32_t hh = in.ConsumeIntegralInRange(0, kMaxSide);
  // Small needles find matches; others reach the edges, up to one pixel too large.
  const bool small = in.ConsumeBool();
  const int32_t nw = small ? in.ConsumeIntegralInRange(1, std::clamp(hw, 1, 6))
                           : in.ConsumeIntegralInRange(0, hw + 1);
  const int32_t nh = small ? in.ConsumeIntegralInRange(1, std::clamp(hh, 1, 6))
                           : in.ConsumeIntegralInRange(0, hh + 1);
  const bool fits = nw <= hw && nh <= hh;
  const bool cut = fits && in.ConsumeBool();
  const int32_t cutX = cut ? Position(in, hw - nw) : 0, cutY = cut ? Position(in, hh - nh) : 0;
  const bool plant = fits && in.ConsumeBool();
  const int32_t plantX = plant ? Position(in, hw - nw) : 0;
  const int32_t plantY = plant ? Position(in, hh - nh) : 0;

  const int spread = in.ConsumeIntegralInRange(0, 40);
  const int jitter = in.ConsumeIntegralInRange(0, spread + 1);
  const bool exact = in.ConsumeBool();
  TColorTolerance tolerance;
  if (!exact) {
    tolerance.R = Tolerance(in.ConsumeIntegral<uint8_t>(), spread);
    const bool uniform = in.ConsumeBool();  // the program always uses one value for all three
    tolerance.G = uniform ? tolerance.R : Tolerance(in.ConsumeIntegral<uint8_t>(), spread);
    tolerance.B = uniform ? tolerance.R : Tolerance(in.ConsumeIntegral<uint8_t>(), spread);
  }

  // The options the tests use to reach the parts and the rolling hash on small bitmaps.
  static constexpr double kHashWork[] = {ostrane::search::kDefaultHashSwitchWork, 0, 0.0005, 0.005,
                                         -1};
  ostrane::search::SearchOptions options;
  options.hashSwitchWork =
      kHashWork[in.ConsumeIntegralInRange<size_t>(0, std::size(kHashWork) - 1)];
  if (in.ConsumeBool()) {
    options.splitMinPixels = in.ConsumeIntegralInRange<int64_t>(0, kMaxSide * kMaxSide);
    options.splitMinRows = in.ConsumeIntegralInRange(0, 16);
  }
  options.useHelper = in.ConsumeBool();

  const Palette palette(in, spread);
  TBDBitmapData hay, needle;
  Allocate(hay, hw, hh, in.ConsumeIntegral<uint8_t>());
  Allocate(needle, nw, nh, in.ConsumeIntegral<uint8_t>());
  Paint(in, palette, hay);
  if (cut)
    Copy(in, hay, cutX, cutY, needle, 0, 0, nw, nh, jitter);
  else
    Paint(in, palette, needle);
  if (plant) Copy(in, needle, 0, 0, hay, plantX, plantY, nw, nh, jitter);

  Answer want;
  want.found = exact ? ostrane::search::ScanExact(hay, needle, want.x, want.y)
                     : ostrane::search::ScanWithTolerance(hay, needle, tolerance, want.x, want.y);
  for (const Level level : levels) {
    options.level = level;
    Answer got;
    got.found = exact ? hay.FindImage(needle, options, got.x, got.y)
                      : hay.FindImageWithTolerance(needle, tolerance, options, got.x, got.y);
    if (got == want) continue;
    static constexpr const char* kLevelNames[] = {"scalar", "sse2", "avx2"};
    char tol[48] = "exact";
    if (!exact)
      std::snprintf(tol, sizeof tol, "tolerance %d,%d,%d", tolerance.R, tolerance.G, tolerance.B);
    std::fprintf(stderr,
                 "search disagrees with the scan: haystack %dx%d, needle %dx%d, %s, level %s, "
                 "hash work %g, split %lld/%d, helper %d\n"
                 "  scan: %d (%d, %d)\n  fast: %d (%d, %d)\n",
                 hw, hh, nw, nh, tol, kLevelNames[static_cast<int>(level)], options.hashSwitchWork,
                 static_cast<long long>(options.splitMinPixels), options.splitMinRows,
                 options.useHelper, want.found, want.x, want.y, got.found, got.x, got.y);
    std::abort();
  }
  return 0;
}
