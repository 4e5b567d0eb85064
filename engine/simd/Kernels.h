// The inner loops of the fast search, one set per instruction-set level. All of them read only
// the bytes they are given: no load reaches past `count` pixels or `bytes` bytes.
#pragma once

#include <cstdint>

namespace ostrane::search {

enum class Level { Scalar, Sse2, Avx2 };

namespace simd {

// Per-channel inclusive byte ranges in storage order (blue, green, red), each repeated over
// 96 bytes so that vector loops load them directly: byte i holds channel i % 3.
struct ColorRange {
  alignas(32) uint8_t lo[96];
  alignas(32) uint8_t hi[96];
};
ColorRange MakeRange(const uint8_t lo[3], const uint8_t hi[3]);

// Pixels along a row to test: pixel i is at p + 3 * i and must lie within `range`.
struct RowProbe {
  const uint8_t* p;
  const ColorRange* range;
};
inline constexpr int kMaxRowProbes = 8;

struct Kernels {
  // Writes, in ascending order, every i in [0, count) whose pixels pass all `nProbes` probes
  // (1 to kMaxRowProbes); returns how many were written (out has room for count entries).
  // Later probes are looked at only where the earlier ones passed.
  int32_t (*anchorScan)(const RowProbe* probes, int nProbes, int32_t count, int32_t* out);
  // True when every byte of h lies within tol[k % 3] of the byte of n at the same index k; tol
  // holds 96 bytes repeating the three channel tolerances.
  bool (*rowWithin)(const uint8_t* h, const uint8_t* n, int32_t bytes, const uint8_t* tol);
  // v[j] = v[j] * c + row[j] for j in [0, bytes).
  void (*accumulate)(uint32_t* v, const uint8_t* row, int32_t bytes, uint32_t c);
  // v[j] = v[j] * c - oldRow[j] * cn + newRow[j]: slides a vertical window down by one row.
  void (*roll)(uint32_t* v, const uint8_t* oldRow, const uint8_t* newRow, int32_t bytes, uint32_t c,
               uint32_t cn);
  // From the per-byte column hashes v of one row of `width` pixels: writes the offsets x in
  // [0, width - nw] whose window of nw pixels hashes to tb[x]. s has room for 4 * width + 2
  // entries; returns how many offsets were written to out.
  // wt holds a weight per byte column and tb[x] the needle's hash times the weight of pixel x.
  int32_t (*windowMatches)(const uint32_t* v, const uint32_t* wt, int32_t width, int32_t nw,
                           const uint32_t* tb, uint32_t* s, int32_t* out);
};

// The kernels of a level; a level the build or the processor lacks is never asked for.
const Kernels& KernelsFor(Level level);

// The best level this processor and build offer.
Level BestAvailableLevel();

}  // namespace simd
}  // namespace ostrane::search
