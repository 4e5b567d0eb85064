// The Start button's reading of integers against a state machine of the texts it accepts: leading
// spaces, at most one sign, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or
// "0X", and nothing after them. Any disagreement in acceptance or value aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "ui/TextToInt.h"

namespace {

using Int128 = __int128;

enum class State {
  Blanks,    // only spaces so far
  Signed,    // after the sign: a digit or a prefix must follow
  Zero,      // a lone "0": decimal zero, or the start of "0x"
  Prefixed,  // after a hexadecimal prefix: a digit must follow
  Decimal,
  Hex,
  Rejected,
};

struct Reading {
  bool negative = false;
  bool hex = false;
  // The digits' value, held back from growing once far beyond 64 bits so it cannot overflow.
  Int128 magnitude = 0;
};

constexpr Int128 kHeldBack = Int128{1} << 96;

int DigitIn(char c, int base) {
  int d = 99;
  if (c >= '0' && c <= '9') d = c - '0';
  if (c >= 'a' && c <= 'z') d = c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') d = c - 'A' + 10;
  return d < base ? d : -1;
}

void Accumulate(Reading& r, int digit) {
  if (r.magnitude < kHeldBack) r.magnitude = r.magnitude * (r.hex ? 16 : 10) + digit;
}

State Step(State s, char c, Reading& r) {
  switch (s) {
    case State::Blanks:
      if (c == ' ') return State::Blanks;
      if (c == '+' || c == '-') {
        r.negative = c == '-';
        return State::Signed;
      }
      return Step(State::Signed, c, r);
    case State::Signed:
      if (c == '$' || c == 'x' || c == 'X') {
        r.hex = true;
        return State::Prefixed;
      }
      if (c == '0') return State::Zero;
      if (DigitIn(c, 10) > 0) {
        Accumulate(r, DigitIn(c, 10));
        return State::Decimal;
      }
      return State::Rejected;
    case State::Zero:
      if (c == 'x' || c == 'X') {
        r.hex = true;
        return State::Prefixed;
      }
      return Step(State::Decimal, c, r);
    case State::Decimal:
    case State::Prefixed:
    case State::Hex: {
      const int d = DigitIn(c, r.hex ? 16 : 10);
      if (d < 0) return State::Rejected;
      Accumulate(r, d);
      return r.hex ? State::Hex : State::Decimal;
    }
    case State::Rejected:
      break;
  }
  return State::Rejected;
}

// The value the text stands for in a signed integer of `bits` bits, if any.
std::optional<Int128> Expected(std::string_view text, int bits) {
  Reading r;
  State s = State::Blanks;
  for (const char c : text)
    s = Step(s, c, r);
  if (s != State::Zero && s != State::Decimal && s != State::Hex) return std::nullopt;

  const Int128 span = Int128{1} << bits;
  const Int128 half = span / 2;
  if (!r.hex) {
    const Int128 value = r.negative ? -r.magnitude : r.magnitude;
    if (value < -half || value >= half) return std::nullopt;
    return value;
  }
  // A bit pattern of at most `bits` bits, read as two's complement, negated modulo 2^bits.
  if (r.magnitude >= span) return std::nullopt;
  Int128 value = r.magnitude >= half ? r.magnitude - span : r.magnitude;
  if (r.negative) value = -value;
  if (value >= half) value -= span;
  return value;
}

void Print(const char* what, const std::optional<Int128>& v) {
  if (!v) {
    std::fprintf(stderr, "  %s: no value\n", what);
    return;
  }
  std::fprintf(stderr, "  %s: %lld\n", what, static_cast<long long>(*v));
}

template <typename Int>
void Compare(std::string_view text, int bits, std::optional<Int> got) {
  const std::optional<Int128> want = Expected(text, bits);
  const std::optional<Int128> have = got ? std::optional<Int128>(*got) : std::nullopt;
  if (want == have) return;
  std::fprintf(stderr, "TextToInt%d disagrees on \"", bits);
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\')
      std::fputc(c, stderr);
    else
      std::fprintf(stderr, "\\x%02X", u);
  }
  std::fprintf(stderr, "\"\n");
  Print("expected", want);
  Print("got", have);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Compare(text, 32, ostrane::ui::TextToInt32(text));
  Compare(text, 64, ostrane::ui::TextToInt64(text));
  return 0;
}
