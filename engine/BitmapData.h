// One rectangle of screen pixels as raw 24-bit rows, and the search for a smaller one inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/Types.h"
#include "engine/search/Options.h"
#include "platform/Desktop.h"
#include "platform/PixelRows.h"

namespace ostrane {

// The primary screen's size, read once at start-up (InitScreenMetrics) and never re-read. Scopes
// are clamped against it, so a pass treats the screen as it was when the program started; the
// backend's own live size decides only what a capture can read (the rest reads black), where
// the pointer may go, and the size of the picker's freeze-frame.
struct TScreenMetrics {
  int32_t Width = 0;
  int32_t Height = 0;
};
extern TScreenMetrics ScreenMetrics;

// Reads the screen size from the active desktop into ScreenMetrics.
void InitScreenMetrics();

// The LastError texts, in code page 936 (GBK) bytes.
namespace bitmap_errors {
inline const std::string kOutOfMemory = "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xA1";  // 内存不足！
inline const std::string kCaptureFailed = "\xBD\xD8\xCD\xBC\xCA\xA7\xB0\xDC\xA3\xA1";  // 截图失败！
inline const std::string kReadFailed =
    "\xCC\xE1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC\xA3\xA1";  // 提取数据失败！
}  // namespace bitmap_errors

bool ColorWithinTolerance(Pixel a, Pixel b, const TColorTolerance& tolerance);

// Rows are stored bottom row first; each row holds Width pixels of three bytes (blue, green,
// red) followed by LinePad filler bytes, LineBytes in all.
class TBDBitmapData {
 public:
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t LineBytes = 0;
  int32_t LinePad = 0;
  int32_t Size = 0;
  int32_t Capacity = 0;
  uint8_t* Bits = nullptr;
  std::string LastError;

  TBDBitmapData() = default;
  ~TBDBitmapData();
  TBDBitmapData(const TBDBitmapData&) = delete;
  TBDBitmapData& operator=(const TBDBitmapData&) = delete;

  bool SetSize(int32_t w, int32_t h);
  void Clear();
  // A corner outside `screen` moves to column or row 0, and a size of zero or less reaches to
  // the screen's edge; then the rectangle is read from `desktop`.
  bool CopyFromScreen(platform::Desktop& desktop, const platform::ScreenSize& screen, int32_t x,
                      int32_t y, int32_t w, int32_t h);

  bool MatchAt(const TBDBitmapData& needle, int32_t x, int32_t y) const;
  bool MatchAtWithTolerance(const TBDBitmapData& needle, const TColorTolerance& tolerance,
                            int32_t x, int32_t y) const;
  // The first offset, in scan order, at which the needle matches; `options` say how to search
  // (the answer is the same whatever they say).
  bool FindImage(const TBDBitmapData& needle, const search::SearchOptions& options, int32_t& x,
                 int32_t& y) const;
  bool FindImageWithTolerance(const TBDBitmapData& needle, const TColorTolerance& tolerance,
                              const search::SearchOptions& options, int32_t& x, int32_t& y) const;

  // The pixel at column x, row y counted from the top. No bounds check.
  Pixel PixelAt(int32_t x, int32_t y) const {
    const uint8_t* p = platform::PixelFromTop(Bits, Height, LineBytes, x, y);
    return MakePixel(p[2], p[1], p[0]);
  }
  void SetPixel(int32_t x, int32_t y, Pixel value) {
    uint8_t* p = platform::PixelFromTop(Bits, Height, LineBytes, x, y);
    p[0] = BlueOf(value);
    p[1] = GreenOf(value);
    p[2] = RedOf(value);
  }
};

// Bytes per stored row for a width, or -1 when the row size does not fit in 32 bits (or the
// width is negative).
int32_t LineBytesFor(int32_t width);

// Storage allocation, replaceable by tests to simulate lack of memory. Returns nullptr when no
// memory is available.
using BitmapAllocFn = uint8_t* (*)(size_t bytes);
using BitmapFreeFn = void (*)(uint8_t* bits);
void SetBitmapAllocator(BitmapAllocFn alloc, BitmapFreeFn release);
void ResetBitmapAllocator();

}  // namespace ostrane
