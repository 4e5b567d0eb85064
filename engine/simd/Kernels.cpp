#include "engine/simd/Kernels.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define OSTRANE_X86_SIMD 1
#include <immintrin.h>
#endif

namespace ostrane::search::simd {

namespace {

inline bool PixelInRange(const uint8_t* q, const ColorRange& r) {
  return q[0] >= r.lo[0] && q[0] <= r.hi[0] && q[1] >= r.lo[1] && q[1] <= r.hi[1] &&
         q[2] >= r.lo[2] && q[2] <= r.hi[2];
}

int32_t AnchorScanScalar(const RowProbe* probes, int nProbes, int32_t count, int32_t* out) {
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    const ptrdiff_t o = 3 * static_cast<ptrdiff_t>(i);
    bool pass = true;
    for (int k = 0; k < nProbes && pass; ++k)
      pass = PixelInRange(probes[k].p + o, *probes[k].range);
    if (pass) out[n++] = i;
  }
  return n;
}

// The probes moved on by `i` pixels, for the scalar or narrower tail of a vector loop.
struct ShiftedProbes {
  RowProbe probes[kMaxRowProbes];
  ShiftedProbes(const RowProbe* from, int nProbes, int32_t i) {
    for (int k = 0; k < nProbes; ++k)
      probes[k] = {from[k].p + 3 * static_cast<ptrdiff_t>(i), from[k].range};
  }
};

// Scans [i, count) with `scan` and adds i to what it writes.
template <typename Scan>
int32_t ScanTail(Scan scan, const RowProbe* probes, int nProbes, int32_t i, int32_t count,
                 int32_t* out, int32_t n) {
  if (i >= count) return n;
  const ShiftedProbes tail(probes, nProbes, i);
  const int32_t m = scan(tail.probes, nProbes, count - i, out + n);
  for (int32_t k = n; k < n + m; ++k)
    out[k] += i;
  return n + m;
}

bool RowWithinScalar(const uint8_t* h, const uint8_t* n, int32_t bytes, const uint8_t* tol) {
  int k = 0;
  for (int32_t j = 0; j < bytes; ++j) {
    const int d = int{h[j]} - int{n[j]};
    if (d > tol[k] || -d > tol[k]) return false;
    k = k == 2 ? 0 : k + 1;
  }
  return true;
}

// The hash loops are written once and compiled for each level; the compiler vectorises them.
[[gnu::always_inline]] inline void AccumulateBody(uint32_t* __restrict v,
                                                  const uint8_t* __restrict row, int32_t bytes,
                                                  uint32_t c) {
  for (int32_t j = 0; j < bytes; ++j)
    v[j] = v[j] * c + row[j];
}

[[gnu::always_inline]] inline void RollBody(uint32_t* __restrict v,
                                            const uint8_t* __restrict oldRow,
                                            const uint8_t* __restrict newRow, int32_t bytes,
                                            uint32_t c, uint32_t cn) {
  for (int32_t j = 0; j < bytes; ++j)
    v[j] = v[j] * c - oldRow[j] * cn + newRow[j];
}

[[gnu::always_inline]] inline int32_t WindowMatchesBody(
    const uint32_t* __restrict v, const uint32_t* __restrict wt, int32_t width, int32_t nw,
    const uint32_t* __restrict tb, uint32_t* __restrict s, int32_t* __restrict out) {
  const int32_t bytes = 3 * width;
  for (int32_t j = 0; j < bytes; ++j)
    s[j + 1] = v[j] * wt[j];
  // Prefix sums per pixel, compacted in place to s[0..width]: s[x] is the sum of the weighted
  // columns left of pixel x. Each write lands on a slot already read. The running sum stays in a
  // register: a chain through memory would cost a store-to-load round trip per pixel.
  uint32_t sum = 0;
  for (int32_t x = 0; x < width; ++x) {
    const ptrdiff_t j = 3 * static_cast<ptrdiff_t>(x);
    sum += s[j + 1] + s[j + 2] + s[j + 3];
    s[x + 1] = sum;
  }
  s[0] = 0;
  // Zero where a window's hash equals the needle's, in a loop the compiler vectorises; then
  // the rare zeros are picked out 8 at a time.
  const int32_t last = width - nw;
  uint32_t* d = s + 3 * static_cast<ptrdiff_t>(width) + 1;
  for (int32_t x = 0; x <= last; ++x)
    d[x] = (s[x + nw] - s[x]) ^ tb[x];
  int32_t n = 0;
  int32_t x = 0;
  for (; x + 8 <= last + 1; x += 8) {
    uint32_t all = 1;
    for (int k = 0; k < 8; ++k)
      all &= d[x + k] != 0;
    if (all) continue;
    for (int k = 0; k < 8; ++k) {
      if (d[x + k] == 0) out[n++] = x + k;
    }
  }
  for (; x <= last; ++x) {
    if (d[x] == 0) out[n++] = x;
  }
  return n;
}

void AccumulatePlain(uint32_t* v, const uint8_t* row, int32_t bytes, uint32_t c) {
  AccumulateBody(v, row, bytes, c);
}
void RollPlain(uint32_t* v, const uint8_t* oldRow, const uint8_t* newRow, int32_t bytes, uint32_t c,
               uint32_t cn) {
  RollBody(v, oldRow, newRow, bytes, c, cn);
}
int32_t WindowMatchesPlain(const uint32_t* v, const uint32_t* wt, int32_t width, int32_t nw,
                           const uint32_t* tb, uint32_t* s, int32_t* out) {
  return WindowMatchesBody(v, wt, width, nw, tb, s, out);
}

constexpr Kernels kScalar{AnchorScanScalar, RowWithinScalar, AccumulatePlain, RollPlain,
                          WindowMatchesPlain};

#ifdef OSTRANE_X86_SIMD

// Pixels k of a block whose three channel bits 3k, 3k+1, 3k+2 of the byte mask are all set.
inline uint64_t PixelBits(uint64_t byteMask) {
  return byteMask & (byteMask >> 1) & (byteMask >> 2) & 0x249249249249ull;
}

inline int32_t EmitPixels(uint64_t bits, int32_t base, int32_t* out, int32_t n) {
  while (bits) {
    out[n++] = base + __builtin_ctzll(bits) / 3;
    bits &= bits - 1;
  }
  return n;
}

// A byte lies within [lo, hi] where clamping it there leaves it unchanged.
inline __m128i InRange128(__m128i v, __m128i lo, __m128i hi) {
  return _mm_cmpeq_epi8(_mm_min_epu8(_mm_max_epu8(v, lo), hi), v);
}

struct Ranges128 {
  __m128i lo[3], hi[3];
  Ranges128() = default;
  explicit Ranges128(const ColorRange& r) {
    for (int k = 0; k < 3; ++k) {
      lo[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(r.lo + 16 * k));
      hi[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(r.hi + 16 * k));
    }
  }
  // Which of the 48 bytes (16 pixels) at q lie within the ranges, as 0xFF or 0 each.
  void Pass(const uint8_t* q, __m128i pass[3]) const {
    const auto* v = reinterpret_cast<const __m128i*>(q);
    for (int k = 0; k < 3; ++k)
      pass[k] = InRange128(_mm_loadu_si128(v + k), lo[k], hi[k]);
  }
};

// The bytes of the 48 at q + o (16 pixels) within the probe's ranges, ANDed into `pass`.
inline void AndInRange128(const RowProbe& probe, ptrdiff_t o, __m128i pass[3]) {
  const auto* v = reinterpret_cast<const __m128i*>(probe.p + o);
  const auto* lo = reinterpret_cast<const __m128i*>(probe.range->lo);
  const auto* hi = reinterpret_cast<const __m128i*>(probe.range->hi);
  for (int k = 0; k < 3; ++k)
    pass[k] = _mm_and_si128(pass[k], InRange128(_mm_loadu_si128(v + k), _mm_load_si128(lo + k),
                                                _mm_load_si128(hi + k)));
}

// Pixel bits of 16 pixels from their bytes' pass vectors.
inline uint64_t PixelBits128(const __m128i pass[3]) {
  return PixelBits(static_cast<uint32_t>(_mm_movemask_epi8(pass[0])) |
                   uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(pass[1]))} << 16 |
                   uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(pass[2]))} << 32);
}

int32_t AnchorScanSse2(const RowProbe* probes, int nProbes, int32_t count, int32_t* out) {
  const Ranges128 first(*probes[0].range);
  int32_t n = 0;
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const ptrdiff_t o = 3 * static_cast<ptrdiff_t>(i);
    __m128i pass[3];
    first.Pass(probes[0].p + o, pass);
    uint64_t bits = PixelBits128(pass);
    if (!bits || nProbes == 1) {
      if (bits) n = EmitPixels(bits, i, out, n);
      continue;
    }
    // The further probes by the byte while any byte passes: a pixel passes where all three of
    // its bytes passed every probe, which is worked out once at the end.
    for (int k = 1; k < nProbes; ++k) {
      AndInRange128(probes[k], o, pass);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(pass[0], pass[1]), pass[2])) == 0) break;
    }
    bits &= PixelBits128(pass);
    if (bits) n = EmitPixels(bits, i, out, n);
  }
  return ScanTail(AnchorScanScalar, probes, nProbes, i, count, out, n);
}

inline __m128i OverTolerance128(__m128i h, __m128i n, __m128i tol) {
  const __m128i d = _mm_or_si128(_mm_subs_epu8(h, n), _mm_subs_epu8(n, h));
  return _mm_subs_epu8(d, tol);
}

bool RowWithinSse2(const uint8_t* h, const uint8_t* n, int32_t bytes, const uint8_t* tol) {
  __m128i t[3];
  for (int k = 0; k < 3; ++k)
    t[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tol + 16 * k));
  int32_t j = 0;
  for (; j + 48 <= bytes; j += 48) {
    const auto* hq = reinterpret_cast<const __m128i*>(h + j);
    const auto* nq = reinterpret_cast<const __m128i*>(n + j);
    __m128i bad = OverTolerance128(_mm_loadu_si128(hq), _mm_loadu_si128(nq), t[0]);
    bad =
        _mm_or_si128(bad, OverTolerance128(_mm_loadu_si128(hq + 1), _mm_loadu_si128(nq + 1), t[1]));
    bad =
        _mm_or_si128(bad, OverTolerance128(_mm_loadu_si128(hq + 2), _mm_loadu_si128(nq + 2), t[2]));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) != 0xFFFF) return false;
  }
  return RowWithinScalar(h + j, n + j, bytes - j, tol);
}

constexpr Kernels kSse2{AnchorScanSse2, RowWithinSse2, AccumulatePlain, RollPlain,
                        WindowMatchesPlain};

#define OSTRANE_AVX2 [[gnu::target("avx2")]]

OSTRANE_AVX2 inline __m256i InRange256(__m256i v, __m256i lo, __m256i hi) {
  return _mm256_cmpeq_epi8(_mm256_min_epu8(_mm256_max_epu8(v, lo), hi), v);
}

struct Ranges256 {
  __m256i lo[3], hi[3];
  OSTRANE_AVX2 explicit Ranges256(const ColorRange& r) {
    for (int k = 0; k < 3; ++k) {
      lo[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(r.lo + 32 * k));
      hi[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(r.hi + 32 * k));
    }
  }
  // Which of the 96 bytes (32 pixels) at q lie within the ranges, as 0xFF or 0 each.
  OSTRANE_AVX2 void Pass(const uint8_t* q, __m256i pass[3]) const {
    const auto* v = reinterpret_cast<const __m256i*>(q);
    for (int k = 0; k < 3; ++k)
      pass[k] = InRange256(_mm256_loadu_si256(v + k), lo[k], hi[k]);
  }
};

// The bytes of the 96 at q + o (32 pixels) within the probe's ranges, ANDed into `pass`. The
// ranges are loaded here: they are rarely needed on a screen where the anchor is rare, and there
// are not registers enough to keep all of them.
OSTRANE_AVX2 inline void AndInRange256(const RowProbe& probe, ptrdiff_t o, __m256i pass[3]) {
  const auto* v = reinterpret_cast<const __m256i*>(probe.p + o);
  const auto* lo = reinterpret_cast<const __m256i*>(probe.range->lo);
  const auto* hi = reinterpret_cast<const __m256i*>(probe.range->hi);
  for (int k = 0; k < 3; ++k)
    pass[k] =
        _mm256_and_si256(pass[k], InRange256(_mm256_loadu_si256(v + k), _mm256_load_si256(lo + k),
                                             _mm256_load_si256(hi + k)));
}

// Pixel bits of 32 pixels from their bytes' pass vectors: pixels 0-15 in low, 16-31 in high.
OSTRANE_AVX2 inline void PixelBits256(const __m256i pass[3], uint64_t& low, uint64_t& high) {
  const uint64_t m0 = static_cast<uint32_t>(_mm256_movemask_epi8(pass[0]));
  const uint64_t m1 = static_cast<uint32_t>(_mm256_movemask_epi8(pass[1]));
  const uint64_t m2 = static_cast<uint32_t>(_mm256_movemask_epi8(pass[2]));
  low = PixelBits(m0 | ((m1 & 0xFFFF) << 32));
  high = PixelBits((m1 >> 16) | (m2 << 16));
}

OSTRANE_AVX2 int32_t AnchorScanAvx2(const RowProbe* probes, int nProbes, int32_t count,
                                    int32_t* out) {
  const Ranges256 first(*probes[0].range);
  int32_t n = 0;
  int32_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const ptrdiff_t o = 3 * static_cast<ptrdiff_t>(i);
    __m256i pass[3];
    first.Pass(probes[0].p + o, pass);
    uint64_t low, high;
    PixelBits256(pass, low, high);
    if ((low | high) && nProbes > 1) {
      // The further probes by the byte while any byte passes: a pixel passes where all three
      // of its bytes passed every probe, which is worked out once at the end.
      for (int k = 1; k < nProbes; ++k) {
        AndInRange256(probes[k], o, pass);
        const __m256i some = _mm256_or_si256(_mm256_or_si256(pass[0], pass[1]), pass[2]);
        if (_mm256_testz_si256(some, some)) break;
      }
      uint64_t low2, high2;
      PixelBits256(pass, low2, high2);
      low &= low2;
      high &= high2;
    }
    if (low) n = EmitPixels(low, i, out, n);
    if (high) n = EmitPixels(high, i + 16, out, n);
  }
  return ScanTail(AnchorScanSse2, probes, nProbes, i, count, out, n);
}

OSTRANE_AVX2 inline __m256i OverTolerance256(__m256i h, __m256i n, __m256i tol) {
  const __m256i d = _mm256_or_si256(_mm256_subs_epu8(h, n), _mm256_subs_epu8(n, h));
  return _mm256_subs_epu8(d, tol);
}

OSTRANE_AVX2 bool RowWithinAvx2(const uint8_t* h, const uint8_t* n, int32_t bytes,
                                const uint8_t* tol) {
  __m256i t[3];
  for (int k = 0; k < 3; ++k) {
    t[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tol + 32 * k));
  }
  int32_t j = 0;
  for (; j + 96 <= bytes; j += 96) {
    const auto* hq = reinterpret_cast<const __m256i*>(h + j);
    const auto* nq = reinterpret_cast<const __m256i*>(n + j);
    __m256i bad = OverTolerance256(_mm256_loadu_si256(hq), _mm256_loadu_si256(nq), t[0]);
    bad = _mm256_or_si256(
        bad, OverTolerance256(_mm256_loadu_si256(hq + 1), _mm256_loadu_si256(nq + 1), t[1]));
    bad = _mm256_or_si256(
        bad, OverTolerance256(_mm256_loadu_si256(hq + 2), _mm256_loadu_si256(nq + 2), t[2]));
    if (!_mm256_testz_si256(bad, bad)) return false;
  }
  // 96 is a multiple of 3, so the channel phase carries over unchanged.
  return RowWithinSse2(h + j, n + j, bytes - j, tol);
}

OSTRANE_AVX2 void AccumulateAvx2(uint32_t* v, const uint8_t* row, int32_t bytes, uint32_t c) {
  AccumulateBody(v, row, bytes, c);
}
OSTRANE_AVX2 void RollAvx2(uint32_t* v, const uint8_t* oldRow, const uint8_t* newRow, int32_t bytes,
                           uint32_t c, uint32_t cn) {
  RollBody(v, oldRow, newRow, bytes, c, cn);
}
OSTRANE_AVX2 int32_t WindowMatchesAvx2(const uint32_t* v, const uint32_t* wt, int32_t width,
                                       int32_t nw, const uint32_t* tb, uint32_t* s, int32_t* out) {
  return WindowMatchesBody(v, wt, width, nw, tb, s, out);
}

constexpr Kernels kAvx2{AnchorScanAvx2, RowWithinAvx2, AccumulateAvx2, RollAvx2, WindowMatchesAvx2};

#endif  // OSTRANE_X86_SIMD

}  // namespace

ColorRange MakeRange(const uint8_t lo[3], const uint8_t hi[3]) {
  // Three bytes, then doubled five times: the search learns a range at every failed check.
  ColorRange r;
  std::memcpy(r.lo, lo, 3);
  std::memcpy(r.hi, hi, 3);
  for (size_t have = 3; have < sizeof r.lo; have *= 2) {
    std::memcpy(r.lo + have, r.lo, have);
    std::memcpy(r.hi + have, r.hi, have);
  }
  return r;
}

const Kernels& KernelsFor(Level level) {
#ifdef OSTRANE_X86_SIMD
  if (level == Level::Avx2) return kAvx2;
  if (level == Level::Sse2) return kSse2;
#else
  (void)level;
#endif
  return kScalar;
}

Level BestAvailableLevel() {
#ifdef OSTRANE_X86_SIMD
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? Level::Avx2 : Level::Sse2;
#else
  return Level::Scalar;
#endif
}

}  // namespace ostrane::search::simd
