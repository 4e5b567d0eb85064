#include "engine/BitmapData.h"

#include <cstring>
#include <limits>
#include <new>

#include "engine/FastSearch.h"

namespace ostrane {

TScreenMetrics ScreenMetrics;

void InitScreenMetrics() {
  const platform::ScreenSize size = platform::ActiveDesktop().GetScreenSize();
  ScreenMetrics.Width = size.Width;
  ScreenMetrics.Height = size.Height;
}

namespace {

uint8_t* DefaultAlloc(size_t bytes) {
  return new (std::nothrow) uint8_t[bytes];
}
void DefaultFree(uint8_t* bits) {
  delete[] bits;
}

BitmapAllocFn g_alloc = DefaultAlloc;
BitmapFreeFn g_free = DefaultFree;

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// Compares one row of `count` pixels starting at h (haystack) and n (needle).
bool RowWithinTolerance(const uint8_t* h, const uint8_t* n, int32_t count,
                        const TColorTolerance& tolerance) {
  for (int32_t i = 0; i < count; ++i, h += 3, n += 3) {
    if (!ColorWithinTolerance(MakePixel(h[2], h[1], h[0]), MakePixel(n[2], n[1], n[0]),
                              tolerance)) {
      return false;
    }
  }
  return true;
}

// Bounds test shared by both comparisons. Negative offsets would address memory outside the
// haystack, so they never match.
bool NeedleFitsAt(const TBDBitmapData& haystack, const TBDBitmapData& needle, int32_t x,
                  int32_t y) {
  if (x < 0 || y < 0) return false;
  return int64_t{x} + needle.Width <= haystack.Width &&
         int64_t{y} + needle.Height <= haystack.Height;
}

template <typename RowMatch>
bool MatchRows(const TBDBitmapData& haystack, const TBDBitmapData& needle, int32_t x, int32_t y,
               RowMatch rowMatch) {
  if (!NeedleFitsAt(haystack, needle, x, y)) return false;
  for (int32_t r = 0; r < needle.Height; ++r) {
    const uint8_t* h = platform::PixelFromTop<const uint8_t>(haystack.Bits, haystack.Height,
                                                             haystack.LineBytes, x, y + r);
    const uint8_t* n =
        platform::RowFromTop<const uint8_t>(needle.Bits, needle.Height, needle.LineBytes, r);
    if (!rowMatch(h, n)) return false;
  }
  return true;
}

}  // namespace

void SetBitmapAllocator(BitmapAllocFn alloc, BitmapFreeFn release) {
  g_alloc = alloc;
  g_free = release;
}

void ResetBitmapAllocator() {
  SetBitmapAllocator(DefaultAlloc, DefaultFree);
}

int32_t LineBytesFor(int32_t width) {
  if (width < 0) return -1;
  const int64_t bytes = platform::RowBytes(width);
  return bytes > kInt32Max ? -1 : static_cast<int32_t>(bytes);
}

bool ColorWithinTolerance(Pixel a, Pixel b, const TColorTolerance& tolerance) {
  const int32_t db = int32_t{BlueOf(a)} - int32_t{BlueOf(b)};
  if (db < -tolerance.B || db > tolerance.B) return false;
  const int32_t dg = int32_t{GreenOf(a)} - int32_t{GreenOf(b)};
  if (dg < -tolerance.G || dg > tolerance.G) return false;
  const int32_t dr = int32_t{RedOf(a)} - int32_t{RedOf(b)};
  return dr >= -tolerance.R && dr <= tolerance.R;
}

TBDBitmapData::~TBDBitmapData() {
  Clear();
}

void TBDBitmapData::Clear() {
  Width = 0;
  Height = 0;
  LineBytes = 0;
  LinePad = 0;
  Size = 0;
  Capacity = 0;
  if (Bits) g_free(Bits);
  Bits = nullptr;
  LastError.clear();
}

bool TBDBitmapData::SetSize(int32_t w, int32_t h) {
  LastError.clear();
  if (w == Width && h == Height && int64_t{Capacity} >= int64_t{LineBytes} * Height) return true;

  // A size that cannot be represented is refused before anything changes: the object keeps
  // its dimensions and storage, and no allocation is attempted.
  const int32_t lineBytes = LineBytesFor(w);
  if (lineBytes < 0 || h < 0 || int64_t{lineBytes} * h > kInt32Max) {
    LastError = bitmap_errors::kOutOfMemory;
    return false;
  }

  Width = w;
  Height = h;
  LineBytes = lineBytes;
  LinePad = lineBytes - 3 * w;
  Size = lineBytes * h;
  if (Capacity >= Size) return true;

  if (Bits) g_free(Bits);
  Bits = nullptr;
  Capacity = 0;
  Bits = g_alloc(static_cast<size_t>(Size));
  if (!Bits) {
    Size = 0;
    LastError = bitmap_errors::kOutOfMemory;
    return false;
  }
  Capacity = Size;
  return true;
}

bool TBDBitmapData::CopyFromScreen(platform::Desktop& desktop, const platform::ScreenSize& screen,
                                   int32_t x, int32_t y, int32_t w, int32_t h) {
  if (x < 0 || x >= screen.Width) x = 0;
  if (y < 0 || y >= screen.Height) y = 0;
  if (w <= 0) w = screen.Width - x;
  if (h <= 0) h = screen.Height - y;
  if (!SetSize(w, h)) return false;

  // Only possible while the screen size is unknown (zero): there is nothing to read.
  if (Width <= 0 || Height <= 0) {
    LastError = bitmap_errors::kReadFailed;
    return false;
  }

  switch (desktop.Capture(x, y, Width, Height, Bits, LineBytes)) {
    case platform::CaptureResult::Ok:
      LastError.clear();
      return true;
    case platform::CaptureResult::CopyFailed:
      LastError = bitmap_errors::kCaptureFailed;
      return false;
    case platform::CaptureResult::ReadFailed:
    case platform::CaptureResult::Cancelled:  // the pass says why; the bitmap has no picture
      break;
  }
  LastError = bitmap_errors::kReadFailed;
  return false;
}

bool TBDBitmapData::MatchAt(const TBDBitmapData& needle, int32_t x, int32_t y) const {
  const size_t rowBytes = 3 * static_cast<size_t>(needle.Width);
  return MatchRows(*this, needle, x, y, [rowBytes](const uint8_t* h, const uint8_t* n) {
    return rowBytes == 0 || std::memcmp(h, n, rowBytes) == 0;
  });
}

bool TBDBitmapData::MatchAtWithTolerance(const TBDBitmapData& needle,
                                         const TColorTolerance& tolerance, int32_t x,
                                         int32_t y) const {
  const int32_t count = needle.Width;
  return MatchRows(*this, needle, x, y, [&](const uint8_t* h, const uint8_t* n) {
    return RowWithinTolerance(h, n, count, tolerance);
  });
}

bool TBDBitmapData::FindImage(const TBDBitmapData& needle, const search::SearchOptions& options,
                              int32_t& x, int32_t& y) const {
  return search::Find(*this, needle, nullptr, options, x, y);
}

bool TBDBitmapData::FindImageWithTolerance(const TBDBitmapData& needle,
                                           const TColorTolerance& tolerance,
                                           const search::SearchOptions& options, int32_t& x,
                                           int32_t& y) const {
  return search::Find(*this, needle, &tolerance, options, x, y);
}

}  // namespace ostrane
