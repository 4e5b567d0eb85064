#include "platform/PixelRows.h"

#include <cstddef>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define OSTRANE_X86_SHUFFLE 1
#include <immintrin.h>
#endif

namespace ostrane::platform {

void ConvertBgrxRowScalar(const uint8_t* src, uint8_t* dst, int32_t pixels) {
  for (int32_t i = 0; i < pixels; ++i, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

#ifdef OSTRANE_X86_SHUFFLE

namespace {

// 16 pixels per step: four loads of four pixels, each packed to 12 bytes, stitched into three
// full 16-byte stores, so nothing is written past the 48 bytes of the step.
[[gnu::target("ssse3")]] void ConvertSsse3(const uint8_t* src, uint8_t* dst, int32_t pixels) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int32_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const auto* s = reinterpret_cast<const __m128i*>(src + 4 * static_cast<ptrdiff_t>(i));
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(s), pack);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(s + 1), pack);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(s + 2), pack);
    const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(s + 3), pack);
    auto* o = reinterpret_cast<__m128i*>(dst + 3 * static_cast<ptrdiff_t>(i));
    _mm_storeu_si128(o, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  ConvertBgrxRowScalar(src + 4 * static_cast<ptrdiff_t>(i), dst + 3 * static_cast<ptrdiff_t>(i),
                       pixels - i);
}

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

}  // namespace

void ConvertBgrxRow(const uint8_t* src, uint8_t* dst, int32_t pixels) {
  if (HasSsse3()) {
    ConvertSsse3(src, dst, pixels);
  } else {
    ConvertBgrxRowScalar(src, dst, pixels);
  }
}

#else

void ConvertBgrxRow(const uint8_t* src, uint8_t* dst, int32_t pixels) {
  ConvertBgrxRowScalar(src, dst, pixels);
}

#endif

}  // namespace ostrane::platform
