// Conversion of the server's 32-bit pixels (blue, green, red, unused) to packed 24-bit ones.
#pragma once

#include <cstdint>

namespace ostrane::platform::x11 {

// Writes exactly 3 * pixels bytes to dst from 4 * pixels bytes of src.
void ConvertBgrxRow(const uint8_t* src, uint8_t* dst, int32_t pixels);

// The plain loop, the reference for the vector version.
void ConvertBgrxRowScalar(const uint8_t* src, uint8_t* dst, int32_t pixels);

}  // namespace ostrane::platform::x11
