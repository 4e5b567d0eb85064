// Rectangles of a screen-cast frame copied into the layout of a capture.
#pragma once

#include <cstdint>

namespace ostrane::platform::wayland {

// The 4-byte layouts a screen-cast stream may carry, named by their bytes in memory: Bgrx is
// blue, green, red, then a byte that is not read. Alpha is not read either: the screen is opaque.
enum class PixelFormat : uint8_t { Bgrx, Bgra, Rgbx, Rgba, Xrgb, Argb, Xbgr, Abgr };

// A frame's pixels as they lie in memory, top row first. Borrowed, never owned.
struct FrameView {
  const uint8_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;  // bytes from the start of one row to the next, at least 4 * Width
  PixelFormat Format = PixelFormat::Bgrx;
};

// True when the view has pixels, a positive size and rows long enough for its width.
bool IsReadable(const FrameView& frame);

// Copies the rectangle of the frame with top-left corner (x, y) and w x h pixels into `bits`:
// h rows of `lineBytes` bytes, bottom row first, pixels as blue, green, red. Pixels outside the
// frame, and all of an unreadable frame, read as 0; the bytes past 3 * w in a row are zeroed.
// Returns false and writes nothing when w or h is not positive, `bits` is null or a row of
// `lineBytes` cannot hold w pixels.
bool CopyRect(const FrameView& frame, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
              int32_t lineBytes);

}  // namespace ostrane::platform::wayland
