#include "ui/TextToInt.h"

#include <limits>

namespace ostrane::ui {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the text into a `bits`-wide two's-complement pattern held in the low bits of the result.
std::optional<uint64_t> Parse(std::string_view text, int bits) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;  // at least one digit

  const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  uint64_t value = 0;
  if (hex) {
    int significant = 0;
    for (; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return std::nullopt;
      if (significant > 0 || d != 0) ++significant;
      if (significant > bits / 4) return std::nullopt;
      value = (value << 4) | static_cast<uint64_t>(d);
    }
    if (negative) value = (~value + 1) & mask;
    return value;
  }

  // Decimal: the magnitude may reach 2^(bits-1) only when negative.
  const uint64_t limit = (uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    const auto d = static_cast<uint64_t>(c - '0');
    if (value > (limit - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  if (negative) value = (~value + 1) & mask;
  return value;
}

}  // namespace

std::optional<int32_t> TextToInt32(std::string_view text) {
  const auto v = Parse(text, 32);
  if (!v) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(*v));
}

std::optional<int64_t> TextToInt64(std::string_view text) {
  const auto v = Parse(text, 64);
  if (!v) return std::nullopt;
  return static_cast<int64_t>(*v);
}

}  // namespace ostrane::ui
