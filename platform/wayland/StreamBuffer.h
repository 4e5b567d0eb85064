// Reading one buffer of a screen-cast stream: its picture, checked against the buffer's own
// bounds, and the pointer's position where the buffer carries it.
#pragma once

#include <cstdint>

#include "platform/wayland/FrameStore.h"

struct spa_buffer;

namespace ostrane::platform::wayland {

// What the stream negotiated; the buffers are read against it.
struct VideoFormat {
  PixelFormat Format = PixelFormat::Bgrx;
  int32_t Width = 0;
  int32_t Height = 0;
};

// Our name for a 4-byte SPA video format; false for any other format.
bool PixelFormatOf(uint32_t spaFormat, PixelFormat& format);

enum class BufferRead { Ok, Empty, Corrupted };

// Copies the picture of one stream buffer into `frame`, checking every size and offset against
// the buffer's own bounds. A buffer with no picture (a cursor-only update, an empty or damaged
// chunk) is not copied. `arrived` stamps the frame; the compositor's own time is used instead
// when the buffer carries a plausible one.
BufferRead ReadBuffer(const spa_buffer* buffer, const VideoFormat& format,
                      Clock::time_point arrived, CapturedFrame& frame);

// Where the pointer is, in the frame's pixels: the position the compositor gives as cursor
// metadata, where the stream was asked for it. Cursor-only buffers, with no picture, carry it too.
struct CursorPosition {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const CursorPosition&) const = default;
};

// The buffer's cursor position; false when it carries none, or says that the pointer is not on
// the stream's monitor.
bool ReadCursor(const spa_buffer* buffer, CursorPosition& at);

}  // namespace ostrane::platform::wayland
