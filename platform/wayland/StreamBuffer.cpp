#include "platform/wayland/StreamBuffer.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>
#include <utility>

namespace ostrane::platform::wayland {

bool PixelFormatOf(uint32_t spaFormat, PixelFormat& format) {
  static constexpr std::pair<uint32_t, PixelFormat> kFormats[] = {
      {SPA_VIDEO_FORMAT_BGRx, PixelFormat::Bgrx}, {SPA_VIDEO_FORMAT_BGRA, PixelFormat::Bgra},
      {SPA_VIDEO_FORMAT_RGBx, PixelFormat::Rgbx}, {SPA_VIDEO_FORMAT_RGBA, PixelFormat::Rgba},
      {SPA_VIDEO_FORMAT_xRGB, PixelFormat::Xrgb}, {SPA_VIDEO_FORMAT_ARGB, PixelFormat::Argb},
      {SPA_VIDEO_FORMAT_xBGR, PixelFormat::Xbgr}, {SPA_VIDEO_FORMAT_ABGR, PixelFormat::Abgr},
  };
  for (const auto& [spa, ours] : kFormats) {
    if (spa == spaFormat) {
      format = ours;
      return true;
    }
  }
  return false;
}

BufferRead ReadBuffer(const spa_buffer* buffer, const VideoFormat& format,
                      Clock::time_point arrived, CapturedFrame& frame) {
  if (buffer == nullptr || buffer->n_datas < 1 || buffer->datas == nullptr) {
    return BufferRead::Corrupted;
  }
  if (format.Width <= 0 || format.Height <= 0) return BufferRead::Corrupted;
  auto* header = static_cast<const spa_meta_header*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
  if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return BufferRead::Corrupted;

  const spa_data& data = buffer->datas[0];
  const spa_chunk* chunk = data.chunk;
  if (chunk == nullptr || data.data == nullptr) return BufferRead::Corrupted;
  if (chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) return BufferRead::Corrupted;
  // A cursor-only update, or a buffer the producer had nothing to put in.
  if (chunk->size == 0) return BufferRead::Empty;

  const int64_t rowBytes = 4 * int64_t{format.Width};
  const int64_t stride = chunk->stride != 0 ? chunk->stride : rowBytes;
  if (stride < rowBytes) return BufferRead::Corrupted;
  const int64_t needed = stride * (format.Height - 1) + rowBytes;
  // The chunk's offset wraps inside maxsize, as PipeWire defines it for ring buffers.
  const int64_t offset = data.maxsize != 0 ? chunk->offset % data.maxsize : 0;
  if (needed > int64_t{chunk->size} || offset + needed > int64_t{data.maxsize}) {
    return BufferRead::Corrupted;
  }

  frame.Width = format.Width;
  frame.Height = format.Height;
  frame.Stride = static_cast<int32_t>(stride);
  frame.Format = format.Format;
  frame.Pixels.resize(static_cast<size_t>(needed));
  std::memcpy(frame.Pixels.data(), static_cast<const uint8_t*>(data.data) + offset,
              static_cast<size_t>(needed));
  frame.Arrived = arrived;
  frame.Recorded = arrived;
  // The compositor stamps frames on the monotonic clock, steady_clock's own; a stamp that is not
  // within the last seconds before arrival is on some other clock and is not used.
  if (header && header->pts > 0) {
    const Clock::time_point recorded{std::chrono::nanoseconds(header->pts)};
    if (recorded <= arrived && arrived - recorded < std::chrono::seconds(2)) {
      frame.Recorded = recorded;
    }
  }
  return BufferRead::Ok;
}

bool ReadCursor(const spa_buffer* buffer, CursorPosition& at) {
  if (buffer == nullptr) return false;
  // The compositor fills the metadata only for the stream's monitor; id 0 means no pointer.
  auto* cursor = static_cast<const spa_meta_cursor*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (!cursor || !spa_meta_cursor_is_valid(cursor)) return false;
  at = {cursor->position.x, cursor->position.y};
  return true;
}

}  // namespace ostrane::platform::wayland
