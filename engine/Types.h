// Types shared by the engine and the windows.
#pragma once

#include <cstdint>

namespace ostrane {

// A rectangle in screen pixels, origin at the primary screen's top-left corner. Kept exactly as
// typed or picked: Right may be less than Left and Bottom less than Top.
struct ScreenRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

// What Start stores and every tick reads; the program keeps one set (ProgramSettings, with the
// main window).
struct RunSettings {
  ScreenRect FindScope;
  ScreenRect ClickScope;
  int32_t SimilarPercent = 0;
  int32_t ClickIntervalMs = 0;
  int32_t ClickCount = 0;
};

// A 24-bit colour: red in bits 16-23, green in bits 8-15, blue in bits 0-7.
using Pixel = uint32_t;

constexpr Pixel MakePixel(uint8_t r, uint8_t g, uint8_t b) {
  return (Pixel{r} << 16) | (Pixel{g} << 8) | Pixel{b};
}
constexpr uint8_t RedOf(Pixel p) {
  return static_cast<uint8_t>(p >> 16);
}
constexpr uint8_t GreenOf(Pixel p) {
  return static_cast<uint8_t>(p >> 8);
}
constexpr uint8_t BlueOf(Pixel p) {
  return static_cast<uint8_t>(p);
}

// Largest allowed absolute difference per channel.
struct TColorTolerance {
  int32_t R = 0;
  int32_t G = 0;
  int32_t B = 0;
};

struct ScreenPoint {
  int32_t X = -1;
  int32_t Y = -1;
  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// Signed 32-bit arithmetic that wraps instead of overflowing: a typed value far out of range
// gives a defined (wrapped) result rather than undefined behaviour.
constexpr int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
constexpr int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

}  // namespace ostrane
