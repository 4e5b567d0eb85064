// The integer reading of the Start button: leading spaces, one sign, decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", and nothing after the number.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrane::ui {

// Decimal text must lie in the signed range of the result. Hexadecimal text may have up to 8
// (16) significant digits and is read as a two's-complement pattern, negated after a "-".
// No value when the text is anything else.
std::optional<int32_t> TextToInt32(std::string_view text);
std::optional<int64_t> TextToInt64(std::string_view text);

}  // namespace ostrane::ui
