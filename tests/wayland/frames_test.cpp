// The frame hand-over between the stream's thread and the readers, and the checks on each
// buffer the compositor sends.
#include <gtest/gtest.h>

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/wayland/PipeWireFrames.h"

namespace ostrane::platform::wayland {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<CapturedFrame> FrameAt(Clock::time_point recorded) {
  auto frame = std::make_shared<CapturedFrame>();
  frame->Recorded = recorded;
  frame->Arrived = recorded;
  return frame;
}

TEST(FrameStore, AnswersByWhenTheNewestFrameWasRecorded) {
  const Clock::time_point t0 = Clock::now();
  struct Case {
    const char* Name;
    bool HasFrame;
    Clock::duration FrameAge;      // recorded this long before t0
    Clock::duration NotBeforeAge;  // notBefore this long before t0
    Clock::duration Settle;
    std::chrono::milliseconds Timeout;
    FrameWait Want;
  };
  const Case cases[] = {
      {"frame recorded at the request", true, 0ms, 0ms, 1h, 0ms, FrameWait::Fresh},
      {"frame recorded after the request", true, 100ms, 200ms, 1h, 0ms, FrameWait::Fresh},
      {"older frame, settle time over", true, 300ms, 200ms, 50ms, 0ms, FrameWait::Unchanged},
      {"older frame, settle time not over", true, 300ms, 200ms, 1h, 30ms, FrameWait::TimedOut},
      {"no frame at all", false, 0ms, 1h, 0ms, 20ms, FrameWait::TimedOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FrameStore store;
    if (c.HasFrame) store.Publish(FrameAt(t0 - c.FrameAge));
    std::shared_ptr<const CapturedFrame> got;
    const Clock::time_point begin = Clock::now();
    EXPECT_EQ(store.WaitAfter(t0 - c.NotBeforeAge, c.Settle, c.Timeout, got), c.Want);
    EXPECT_EQ(got != nullptr, c.Want == FrameWait::Fresh || c.Want == FrameWait::Unchanged);
    EXPECT_LT(Clock::now() - begin, c.Timeout + 500ms);
  }
}

TEST(FrameStore, WaitsForAFrameNewerThanTheRequest) {
  FrameStore store;
  store.Publish(FrameAt(Clock::now() - 1s));
  const Clock::time_point asked = Clock::now();
  std::thread producer([&] {
    std::this_thread::sleep_for(30ms);
    store.Publish(FrameAt(Clock::now()));
  });
  std::shared_ptr<const CapturedFrame> got;
  EXPECT_EQ(store.WaitAfter(asked, 10s, 10s, got), FrameWait::Fresh);
  producer.join();
  ASSERT_TRUE(got);
  EXPECT_GE(got->Recorded, asked);
  EXPECT_EQ(got->Sequence, 2u);
}

// Frames that left the compositor before the request but arrive after it are not fresh: the
// reader goes on waiting for the settle time, then takes the newest.
TEST(FrameStore, FrameInFlightAtTheRequestIsNotFresh) {
  FrameStore store;
  const Clock::time_point asked = Clock::now();
  std::thread producer([&] {
    std::this_thread::sleep_for(10ms);
    store.Publish(FrameAt(asked - 5ms));
  });
  std::shared_ptr<const CapturedFrame> got;
  EXPECT_EQ(store.WaitAfter(asked, 60ms, 10s, got), FrameWait::Unchanged);
  producer.join();
  ASSERT_TRUE(got);
  EXPECT_GE(Clock::now(), asked + 60ms);
}

TEST(FrameStore, LossWakesWaitingReadersAndStaysUntilReset) {
  FrameStore store;
  std::thread breaker([&] {
    std::this_thread::sleep_for(20ms);
    store.MarkLost("the stream ended");
    store.MarkLost("a later reason");
  });
  std::shared_ptr<const CapturedFrame> got;
  const Clock::time_point begin = Clock::now();
  EXPECT_EQ(store.WaitAfter(Clock::now(), 10s, 10s, got), FrameWait::Lost);
  breaker.join();
  EXPECT_LT(Clock::now() - begin, 5s);
  std::string reason;
  EXPECT_TRUE(store.Lost(&reason));
  EXPECT_EQ(reason, "the stream ended");
  store.Publish(FrameAt(Clock::now()));
  EXPECT_EQ(store.WaitAfter(Clock::now() - 1s, 0ms, 0ms, got), FrameWait::Lost);

  store.Reset();
  EXPECT_FALSE(store.Lost());
  EXPECT_EQ(store.WaitAfter(Clock::now(), 0ms, 0ms, got), FrameWait::TimedOut);
  store.Publish(FrameAt(Clock::now()));
  EXPECT_EQ(store.Newest()->Sequence, 2u);  // numbers go on across a reset
}

// ---------------------------------------------------------------------------------------------

// One stream buffer laid out as PipeWire hands it over: one data plane, optional header and
// cursor metadata (the pointer at (5, 6)).
struct FakeBuffer {
  std::vector<uint8_t> Memory;
  spa_chunk Chunk{};
  spa_data Data{};
  spa_meta_header Header{};
  spa_meta_cursor Cursor{};
  std::vector<spa_meta> Metas;
  spa_buffer Buffer{};

  FakeBuffer(int32_t height, int32_t stride, bool withHeader, bool withCursor = true) {
    Memory.resize(static_cast<size_t>(stride) * height);
    for (size_t i = 0; i < Memory.size(); ++i)
      Memory[i] = static_cast<uint8_t>(i * 7);
    Chunk.offset = 0;
    Chunk.size = static_cast<uint32_t>(Memory.size());
    Chunk.stride = stride;
    Data.type = SPA_DATA_MemFd;
    Data.maxsize = static_cast<uint32_t>(Memory.size());
    Data.data = Memory.data();
    Data.chunk = &Chunk;
    Cursor.id = 1;
    Cursor.position = {5, 6};
    if (withHeader) Metas.push_back({SPA_META_Header, sizeof(Header), &Header});
    if (withCursor) Metas.push_back({SPA_META_Cursor, sizeof(Cursor), &Cursor});
    Buffer.n_datas = 1;
    Buffer.datas = &Data;
    Buffer.n_metas = static_cast<uint32_t>(Metas.size());
    Buffer.metas = Metas.data();
  }
};

TEST(ReadBuffer, CopiesGoodBuffersAndRejectsBadOnes) {
  constexpr int32_t kWidth = 6, kHeight = 4, kStride = 32;
  const VideoFormat format{PixelFormat::Rgbx, kWidth, kHeight};
  struct Case {
    const char* Name;
    void (*Spoil)(FakeBuffer&);
    BufferRead Want;
  };
  const Case cases[] = {
      {"good", [](FakeBuffer&) {}, BufferRead::Ok},
      {"stride left to the format", [](FakeBuffer& b) { b.Chunk.stride = 0; }, BufferRead::Ok},
      {"last row without padding",
       [](FakeBuffer& b) { b.Chunk.size = b.Data.maxsize = kStride * (kHeight - 1) + 4 * kWidth; },
       BufferRead::Ok},
      {"cursor-only update", [](FakeBuffer& b) { b.Chunk.size = 0; }, BufferRead::Empty},
      {"chunk marked corrupted", [](FakeBuffer& b) { b.Chunk.flags = SPA_CHUNK_FLAG_CORRUPTED; },
       BufferRead::Corrupted},
      {"header marked corrupted",
       [](FakeBuffer& b) { b.Header.flags = SPA_META_HEADER_FLAG_CORRUPTED; },
       BufferRead::Corrupted},
      {"not mapped", [](FakeBuffer& b) { b.Data.data = nullptr; }, BufferRead::Corrupted},
      {"no chunk", [](FakeBuffer& b) { b.Data.chunk = nullptr; }, BufferRead::Corrupted},
      {"no planes", [](FakeBuffer& b) { b.Buffer.n_datas = 0; }, BufferRead::Corrupted},
      {"rows shorter than the width", [](FakeBuffer& b) { b.Chunk.stride = 4 * kWidth - 4; },
       BufferRead::Corrupted},
      {"negative stride", [](FakeBuffer& b) { b.Chunk.stride = -kStride; }, BufferRead::Corrupted},
      {"chunk smaller than the picture", [](FakeBuffer& b) { b.Chunk.size -= 64; },
       BufferRead::Corrupted},
      {"offset pushes the picture past the memory", [](FakeBuffer& b) { b.Chunk.offset = 12; },
       BufferRead::Corrupted},
      {"stride so large the picture overflows the memory",
       [](FakeBuffer& b) { b.Chunk.stride = INT32_MAX; }, BufferRead::Corrupted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeBuffer buffer(kHeight, kStride, true);
    c.Spoil(buffer);
    CapturedFrame frame;
    const Clock::time_point arrived = Clock::now();
    ASSERT_EQ(ReadBuffer(&buffer.Buffer, format, arrived, frame), c.Want);
    if (c.Want != BufferRead::Ok) continue;
    EXPECT_EQ(frame.Width, kWidth);
    EXPECT_EQ(frame.Height, kHeight);
    EXPECT_EQ(frame.Format, PixelFormat::Rgbx);
    EXPECT_TRUE(IsReadable(frame.View()));
    // Every pixel of the frame, as the view reads it, is the buffer's.
    for (int32_t r = 0; r < kHeight; ++r) {
      EXPECT_EQ(std::memcmp(frame.Pixels.data() + r * frame.Stride,
                            buffer.Memory.data() + r * frame.Stride, 4 * kWidth),
                0)
          << "row " << r;
    }
  }
  FakeBuffer buffer(kHeight, kStride, true);
  CapturedFrame frame;
  EXPECT_EQ(ReadBuffer(nullptr, format, Clock::now(), frame), BufferRead::Corrupted);
  EXPECT_EQ(
      ReadBuffer(&buffer.Buffer, VideoFormat{PixelFormat::Bgrx, 0, kHeight}, Clock::now(), frame),
      BufferRead::Corrupted);
  // A format larger than the buffers (they were made before a resize) is not read past them.
  EXPECT_EQ(ReadBuffer(&buffer.Buffer, VideoFormat{PixelFormat::Bgrx, kWidth, kHeight + 1},
                       Clock::now(), frame),
            BufferRead::Corrupted);
}

TEST(ReadBuffer, TakesTheCompositorsTimeOnlyWhenItIsOnTheSameClock) {
  const Clock::time_point arrived = Clock::now();
  const auto ns = [](Clock::time_point t) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
  };
  struct Case {
    const char* Name;
    bool WithHeader;
    uint64_t Pts;
    Clock::time_point Want;
  };
  const Case cases[] = {
      {"no header", false, 0, arrived},
      {"no time", true, 0, arrived},
      {"3 ms before arrival", true, ns(arrived - 3ms), arrived - 3ms},
      {"after arrival: another clock", true, ns(arrived + 1s), arrived},
      {"hours before: another clock", true, ns(arrived - 5h), arrived},
      {"wall-clock time", true,
       static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count()),
       arrived},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeBuffer buffer(2, 8, c.WithHeader);
    buffer.Header.pts = static_cast<int64_t>(c.Pts);
    CapturedFrame frame;
    ASSERT_EQ(ReadBuffer(&buffer.Buffer, VideoFormat{PixelFormat::Bgrx, 2, 2}, arrived, frame),
              BufferRead::Ok);
    EXPECT_EQ(frame.Recorded, c.Want);
    EXPECT_EQ(frame.Arrived, arrived);
  }
}

// The pointer's position rides on picture buffers and on cursor-only ones alike; a buffer that
// says the pointer is elsewhere, or has no room for a cursor, gives none.
TEST(ReadCursor, TakesThePositionWhereTheBufferCarriesOne) {
  struct Case {
    const char* Name;
    void (*Change)(FakeBuffer&);
    bool Want;
    CursorPosition At;
    BufferRead Picture;
  };
  const Case cases[] = {
      {"with a picture", [](FakeBuffer&) {}, true, {5, 6}, BufferRead::Ok},
      {"cursor-only, in the top-left corner",
       [](FakeBuffer& b) {
         b.Chunk.size = 0;
         b.Cursor.position = {0, 0};
       },
       true,
       {0, 0},
       BufferRead::Empty},
      {"the pointer on another monitor",
       [](FakeBuffer& b) { b.Cursor.id = 0; },
       false,
       {},
       BufferRead::Ok},
      {"no room for a cursor",
       [](FakeBuffer& b) { b.Metas.back().size = 8; },
       false,
       {},
       BufferRead::Ok},
      {"no cursor metadata",
       [](FakeBuffer& b) { b.Buffer.n_metas = 1; },
       false,
       {},
       BufferRead::Ok},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeBuffer buffer(2, 8, true);
    c.Change(buffer);
    CursorPosition at{-1, -1};
    EXPECT_EQ(ReadCursor(&buffer.Buffer, at), c.Want);
    if (c.Want) {
      EXPECT_EQ(at, c.At);
    }
    CapturedFrame frame;
    EXPECT_EQ(ReadBuffer(&buffer.Buffer, VideoFormat{PixelFormat::Bgrx, 2, 2}, Clock::now(), frame),
              c.Picture);
  }
  CursorPosition at;
  EXPECT_FALSE(ReadCursor(nullptr, at));
}

// ---------------------------------------------------------------------------------------------

// Opening fails with a reason, soon, and leaves the frames lost rather than waiting.
TEST(PipeWireFrames, OpenFailsCleanlyWithoutAPipeWire) {
  setenv("PIPEWIRE_REMOTE", "/nonexistent/ostrane-pipewire-0", 1);
  struct Case {
    const char* Name;
    bool PeerGone;  // a socket whose other end is closed, else no socket at all
  };
  for (const Case& c : {Case{"no daemon", false}, Case{"connection closed at once", true}}) {
    SCOPED_TRACE(c.Name);
    int fd = -1;
    if (c.PeerGone) {
      int pair[2];
      ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
      close(pair[1]);
      fd = pair[0];
    }
    PipeWireFrames frames;
    std::string error;
    const Clock::time_point begin = Clock::now();
    EXPECT_FALSE(frames.Open(fd, 42, error));
    EXPECT_LT(Clock::now() - begin, 5s);
    EXPECT_FALSE(error.empty());
    std::string reason;
    EXPECT_TRUE(frames.Lost(&reason));
    EXPECT_EQ(reason, error);
    std::shared_ptr<const CapturedFrame> frame;
    EXPECT_EQ(frames.FrameAfter(Clock::now(), 10ms, frame), FrameWait::Lost);
    EXPECT_EQ(frames.Format().Width, 0);
    frames.Close();
    frames.Close();
  }
  unsetenv("PIPEWIRE_REMOTE");
}

}  // namespace
}  // namespace ostrane::platform::wayland
