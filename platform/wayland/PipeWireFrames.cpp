#include "platform/wayland/PipeWireFrames.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace ostrane::platform::wayland {

namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(10);
// Buffers the producer may hand over at once; more than its pool ever holds.
constexpr size_t kMaxDequeued = 64;

// Room for the cursor's metadata with a bitmap of w x h pixels, which the compositor may add.
constexpr int32_t CursorMetaSize(int32_t w, int32_t h) {
  return static_cast<int32_t>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

int64_t Nanoseconds(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

void InitPipeWire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct PipeWireFrames::Impl {
  PipeWireFrames& owner;
  FrameStore& store;
  std::atomic<int64_t>& settleNs;

  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};
  bool coreListening = false;
  bool streamListening = false;

  // Written on the loop thread, read by Open and the accessors.
  mutable std::mutex stateMutex;
  std::condition_variable stateChanged;
  VideoFormat format;
  bool formatAgreed = false;
  bool running = false;
  bool failed = false;
  std::string failure;

  std::atomic<uint64_t> seen{0};
  std::atomic<uint64_t> skipped{0};

  // The loop thread's own: the agreed rate and the last frames' times from stamp to arrival.
  double framesPerSecond = 0;
  std::array<Clock::duration, 64> transits{};
  size_t nextTransit = 0;

  void UpdateSettle() {
    const Clock::duration slowest = *std::max_element(transits.begin(), transits.end());
    settleNs.store(Nanoseconds(SettleTimeFor(framesPerSecond, slowest)));
  }

  explicit Impl(PipeWireFrames& frames)
      : owner(frames), store(frames.store_), settleNs(frames.settleNs_) {}

  ~Impl() {
    // The thread stops first, so no callback runs while the objects go.
    if (loop) pw_thread_loop_stop(loop);
    if (stream) {
      if (streamListening) spa_hook_remove(&streamListener);
      pw_stream_destroy(stream);
    }
    if (core) {
      if (coreListening) spa_hook_remove(&coreListener);
      pw_core_disconnect(core);
    }
    if (context) pw_context_destroy(context);
    if (loop) pw_thread_loop_destroy(loop);
  }

  void Fail(const std::string& reason) {
    {
      std::lock_guard lock(stateMutex);
      if (!failed) {
        failed = true;
        failure = reason;
      }
    }
    stateChanged.notify_all();
    store.MarkLost(reason);
  }

  static void OnCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto* self = static_cast<Impl*>(data);
    // Errors of other objects are reported again through the stream's state.
    if (id != PW_ID_CORE) return;
    std::string reason = "the PipeWire connection failed: ";
    reason += message ? message : strerror(-res);
    self->Fail(reason);
  }

  static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                             const char* error) {
    auto* self = static_cast<Impl*>(data);
    switch (state) {
      case PW_STREAM_STATE_ERROR:
        self->Fail(std::string("the screen-cast stream failed: ") +
                   (error ? error : "no reason given"));
        break;
      case PW_STREAM_STATE_UNCONNECTED:
        self->Fail("the screen-cast stream ended");
        break;
      case PW_STREAM_STATE_PAUSED:
      case PW_STREAM_STATE_STREAMING: {
        {
          std::lock_guard lock(self->stateMutex);
          self->running = true;
        }
        self->stateChanged.notify_all();
        break;
      }
      case PW_STREAM_STATE_CONNECTING:
        break;
    }
  }

  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Impl*>(data);
    if (id != SPA_PARAM_Format || param == nullptr) return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    PixelFormat pixelFormat{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(param, &info) < 0 || !PixelFormatOf(info.format, pixelFormat) ||
        info.size.width == 0 || info.size.height == 0 || info.size.width > 1u << 15 ||
        info.size.height > 1u << 15) {
      pw_stream_set_error(self->stream, -EINVAL, "unusable video format");
      return;
    }
    {
      std::lock_guard lock(self->stateMutex);
      self->format = {pixelFormat, static_cast<int32_t>(info.size.width),
                      static_cast<int32_t>(info.size.height)};
      self->formatAgreed = true;
    }
    self->framesPerSecond = info.max_framerate.denom != 0
                                ? double(info.max_framerate.num) / info.max_framerate.denom
                                : 0.0;
    self->UpdateSettle();
    self->stateChanged.notify_all();

    // Shared memory only: there is no GPU to import a DMA-buf into.
    std::array<uint8_t, 1024> podBytes{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podBytes.data(), podBytes.size());
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    // The pointer's position, where the session asked for it as metadata.
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(384, 384), CursorMetaSize(1, 1),
                                 CursorMetaSize(384, 384))));
    pw_stream_update_params(self->stream, params, 3);
  }

  static void OnProcess(void* data) {
    auto* self = static_cast<Impl*>(data);
    const Clock::time_point arrived = Clock::now();
    // Everything queued is taken and given back; only the newest readable picture is kept.
    std::array<pw_buffer*, kMaxDequeued> buffers{};
    size_t count = 0;
    while (count < buffers.size()) {
      pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream);
      if (!buffer) break;
      buffers[count++] = buffer;
    }
    self->seen += count;
    VideoFormat format;
    {
      std::lock_guard lock(self->stateMutex);
      format = self->format;
    }
    // Every buffer may carry the pointer, cursor-only ones included: the newest position counts.
    CursorPosition cursor;
    bool moved = false;
    for (size_t i = 0; i < count; ++i)
      moved = ReadCursor(buffers[i]->buffer, cursor) || moved;
    if (moved) self->owner.PostCursor(cursor);
    auto frame = std::make_shared<CapturedFrame>();
    bool got = false;
    for (size_t i = count; i-- > 0 && !got;) {
      got = ReadBuffer(buffers[i]->buffer, format, arrived, *frame) == BufferRead::Ok;
      if (!got) ++self->skipped;
    }
    for (size_t i = 0; i < count; ++i)
      pw_stream_queue_buffer(self->stream, buffers[i]);
    if (!got) return;
    self->transits[self->nextTransit++ % self->transits.size()] = frame->Arrived - frame->Recorded;
    self->UpdateSettle();
    self->store.Publish(std::move(frame));
  }
};

PipeWireFrames::PipeWireFrames()
    : cursorFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      settleNs_(Nanoseconds(SettleTimeFor(0, {}))) {}

PipeWireFrames::~PipeWireFrames() {
  Close();
  if (cursorFd_ >= 0) close(cursorFd_);
}

void PipeWireFrames::PostCursor(const CursorPosition& at) {
  {
    std::lock_guard lock(cursorMutex_);
    if (cursorKnown_ && at == cursor_) return;
    cursor_ = at;
    cursorKnown_ = cursorFresh_ = true;
  }
  const uint64_t one = 1;
  if (cursorFd_ >= 0 && write(cursorFd_, &one, sizeof one) < 0) {
    // The counter is full only if nobody reads it; the position is kept all the same.
  }
}

bool PipeWireFrames::TakeCursor(CursorPosition& at) {
  uint64_t count = 0;
  if (cursorFd_ >= 0 && read(cursorFd_, &count, sizeof count) < 0) {
    // Nothing was posted since the last read.
  }
  std::lock_guard lock(cursorMutex_);
  if (!cursorFresh_) return false;
  at = cursor_;
  cursorFresh_ = false;
  return true;
}

void PipeWireFrames::Close() {
  if (!impl_) return;
  store_.MarkLost("the stream was closed");
  impl_.reset();
}

bool PipeWireFrames::Open(int pipewireFd, uint32_t nodeId, std::string& error) {
  Close();
  store_.Reset();
  {
    std::lock_guard lock(cursorMutex_);
    cursorKnown_ = cursorFresh_ = false;
  }
  InitPipeWire();
  settleNs_.store(Nanoseconds(SettleTimeFor(0, {})));
  auto impl = std::make_unique<Impl>(*this);
  // The reason is kept before the teardown, which reports an ended stream of its own.
  auto fail = [&](const std::string& reason) {
    error = reason;
    store_.MarkLost(reason);
    impl.reset();
    return false;
  };

  impl->loop = pw_thread_loop_new("ostrane-screen", nullptr);
  if (impl->loop) {
    impl->context = pw_context_new(pw_thread_loop_get_loop(impl->loop), nullptr, 0);
  }
  if (!impl->context) {
    if (pipewireFd >= 0) close(pipewireFd);
    return fail("PipeWire could not be set up");
  }
  static const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = Impl::OnCoreError;
    return events;
  }();
  static const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = Impl::OnStateChanged;
    events.param_changed = Impl::OnParamChanged;
    events.process = Impl::OnProcess;
    return events;
  }();

  pw_thread_loop_lock(impl->loop);
  bool started = false;
  std::string reason;
  // From here PipeWire owns the fd; it closes it with the connection.
  impl->core = pipewireFd >= 0 ? pw_context_connect_fd(impl->context, pipewireFd, nullptr, 0)
                               : pw_context_connect(impl->context, nullptr, 0);
  if (!impl->core) {
    reason = std::string("no connection to PipeWire: ") + strerror(errno);
  } else {
    pw_core_add_listener(impl->core, &impl->coreListener, &coreEvents, impl.get());
    impl->coreListening = true;
    impl->stream =
        pw_stream_new(impl->core, "ostrane-screen",
                      pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                        "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!impl->stream) {
      reason = "no PipeWire stream could be made";
    } else {
      pw_stream_add_listener(impl->stream, &impl->streamListener, &streamEvents, impl.get());
      impl->streamListening = true;
      std::array<uint8_t, 1024> podBytes{};
      spa_pod_builder builder{};
      spa_pod_builder_init(&builder, podBytes.data(), podBytes.size());
      const spa_pod* params[1];
      params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
          SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
          SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
          SPA_POD_CHOICE_ENUM_Id(
              9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
              SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
              SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR)));
      // The stream ends rather than being moved to some other source when its node goes.
      const auto flags = static_cast<pw_stream_flags>(
          PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_DONT_RECONNECT);
      const int res = pw_stream_connect(impl->stream, PW_DIRECTION_INPUT, nodeId, flags, params, 1);
      if (res < 0) {
        reason = std::string("the screen-cast stream could not connect: ") + strerror(-res);
      } else if (pw_thread_loop_start(impl->loop) < 0) {
        reason = "the PipeWire thread could not start";
      } else {
        started = true;
      }
    }
  }
  pw_thread_loop_unlock(impl->loop);
  if (!started) return fail(reason);

  {
    std::unique_lock lock(impl->stateMutex);
    const bool settled = impl->stateChanged.wait_for(
        lock, kOpenTimeout, [&] { return impl->failed || (impl->running && impl->formatAgreed); });
    if (impl->failed) {
      reason = impl->failure;
    } else if (!settled) {
      reason = "the screen-cast stream of node " + std::to_string(nodeId) +
               " did not start within " + std::to_string(kOpenTimeout.count()) + " s";
    }
  }
  if (!reason.empty()) return fail(reason);
  impl_ = std::move(impl);
  return true;
}

FrameWait PipeWireFrames::FrameAfter(Clock::time_point notBefore, std::chrono::milliseconds timeout,
                                     std::shared_ptr<const CapturedFrame>& frame) {
  return store_.WaitAfter(notBefore, SettleTime(), timeout, frame);
}

Clock::duration PipeWireFrames::SettleTime() const {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(settleNs_.load()));
}

VideoFormat PipeWireFrames::Format() const {
  if (!impl_) return {};
  std::lock_guard lock(impl_->stateMutex);
  return impl_->format;
}

uint64_t PipeWireFrames::BuffersSeen() const {
  return impl_ ? impl_->seen.load() : 0;
}

uint64_t PipeWireFrames::BuffersSkipped() const {
  return impl_ ? impl_->skipped.load() : 0;
}

}  // namespace ostrane::platform::wayland
