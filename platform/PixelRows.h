// Pictures in the layout of a capture: rows stored bottom row first, `lineBytes` apart, three
// bytes per pixel (blue, green, red). Where a row lies, and rows of the four-byte pixels that
// screens hand out turned into such rows.
#pragma once

#include <cstdint>

namespace ostrane::platform {

// Row y, counted from the top, of a picture of `height` rows.
template <typename Byte>
Byte* RowFromTop(Byte* bits, int64_t height, int64_t lineBytes, int64_t y) {
  static_assert(sizeof(Byte) == 1, "rows are addressed in bytes");
  return bits + (height - 1 - y) * lineBytes;
}

// The pixel at column x of that row.
template <typename Byte>
Byte* PixelFromTop(Byte* bits, int64_t height, int64_t lineBytes, int64_t x, int64_t y) {
  return RowFromTop(bits, height, lineBytes, y) + 3 * x;
}

// Writes exactly 3 * pixels bytes to dst from 4 * pixels bytes of src, pixels as blue, green,
// red and a fourth byte that is dropped (the X server's 32-bit pixels, the BGRx and BGRA of
// screen casts).
void ConvertBgrxRow(const uint8_t* src, uint8_t* dst, int32_t pixels);

// The plain loop, the reference for the vector version.
void ConvertBgrxRowScalar(const uint8_t* src, uint8_t* dst, int32_t pixels);

}  // namespace ostrane::platform
