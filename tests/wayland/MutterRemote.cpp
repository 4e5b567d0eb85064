#include "MutterRemote.h"

#include <glib-unix.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace mutter {

namespace {

using namespace std::chrono_literals;

constexpr int kLeftButton = 0x110;  // BTN_LEFT of linux/input-event-codes.h
constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kScreenCast = "org.gnome.Mutter.ScreenCast";
constexpr const char* kSessionIface = "org.gnome.Mutter.RemoteDesktop.Session";

std::string takePath(GVariant* reply) {
  const char* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  std::string result = path;
  g_variant_unref(reply);
  return result;
}

}  // namespace

bool runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  // A tick so that the loop wakes to look at the clock even when nothing else happens.
  guint tick = g_timeout_add(
      20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool ok = true;
  while (!done()) {
    if (Clock::now() >= deadline) {
      ok = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return ok;
}

void pause(std::chrono::milliseconds span) {
  runUntil([] { return false; }, Clock::now() + span);
}

GVariant* RemoteSession::call(const char* name, const char* path, const char* iface,
                              const char* method, GVariant* args, GError** error) {
  return g_dbus_connection_call_sync(bus_, name, path, iface, method, args, nullptr,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, error);
}

bool RemoteSession::dbusFail(const std::string& what, GError* error) {
  if (error_.empty()) error_ = what + (error ? std::string(": ") + error->message : "");
  g_clear_error(&error);
  return false;
}

bool RemoteSession::callSession(const char* method, GVariant* args, const char* what) {
  GError* error = nullptr;
  GVariant* reply =
      call(kRemoteDesktop, remoteDesktop_.c_str(), kSessionIface, method, args, &error);
  if (!reply) return dbusFail(what, error);
  g_variant_unref(reply);
  return true;
}

bool RemoteSession::open(const std::string& connector) {
  GError* error = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus_) return dbusFail("no session bus", error);

  GVariant* reply = call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop,
                         "CreateSession", nullptr, &error);
  if (!reply) return dbusFail("mutter's RemoteDesktop.CreateSession failed", error);
  remoteDesktop_ = takePath(reply);

  reply = call(kRemoteDesktop, remoteDesktop_.c_str(), "org.freedesktop.DBus.Properties", "Get",
               g_variant_new("(ss)", kSessionIface, "SessionId"), &error);
  if (!reply) return dbusFail("cannot read the remote-desktop session's id", error);
  GVariant* boxed = nullptr;
  g_variant_get(reply, "(v)", &boxed);
  std::string sessionId = g_variant_get_string(boxed, nullptr);
  g_variant_unref(boxed);
  g_variant_unref(reply);

  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&properties, "{sv}", "remote-desktop-session-id",
                        g_variant_new_string(sessionId.c_str()));
  reply = call(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession",
               g_variant_new("(a{sv})", &properties), &error);
  if (!reply) return dbusFail("mutter's ScreenCast.CreateSession failed", error);
  screenCast_ = takePath(reply);

  // No pointer in the pictures: the tools' own pointer would otherwise change what they look at.
  GVariantBuilder record;
  g_variant_builder_init(&record, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&record, "{sv}", "cursor-mode", g_variant_new_uint32(0));
  reply = call(kScreenCast, screenCast_.c_str(), "org.gnome.Mutter.ScreenCast.Session",
               "RecordMonitor", g_variant_new("(sa{sv})", connector.c_str(), &record), &error);
  if (!reply) return dbusFail("RecordMonitor(" + connector + ") failed", error);
  stream_ = takePath(reply);

  streamAdded_ = g_dbus_connection_signal_subscribe(
      bus_, kScreenCast, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded",
      stream_.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
         gpointer self) { g_variant_get(args, "(u)", &static_cast<RemoteSession*>(self)->node_); },
      this, nullptr);

  if (!callSession("Start", nullptr, "starting mutter's remote-desktop session failed"))
    return false;
  started_ = true;
  return true;
}

bool RemoteSession::move(double x, double y) {
  return callSession("NotifyPointerMotionAbsolute", g_variant_new("(sdd)", stream_.c_str(), x, y),
                     "pointer motion failed");
}

bool RemoteSession::nudge() {
  return callSession("NotifyPointerMotionRelative", g_variant_new("(dd)", 0.0, 0.0),
                     "pointer motion failed");
}

bool RemoteSession::button(bool pressed) {
  return callSession("NotifyPointerButton", g_variant_new("(ib)", kLeftButton, gboolean(pressed)),
                     "pointer button failed");
}

bool RemoteSession::click(double x, double y) {
  if (!move(x, y)) return false;
  pause(60ms);
  if (!button(true)) return false;
  pause(40ms);
  if (!button(false)) return false;
  pause(40ms);
  return true;
}

bool RemoteSession::key(uint32_t keysym, bool pressed) {
  return callSession("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, gboolean(pressed)),
                     "key failed");
}

void RemoteSession::close() {
  if (streamAdded_) g_dbus_connection_signal_unsubscribe(bus_, streamAdded_);
  streamAdded_ = 0;
  if (started_) {
    // Stopping the remote-desktop session stops the screen cast linked to it.
    GVariant* reply =
        call(kRemoteDesktop, remoteDesktop_.c_str(), kSessionIface, "Stop", nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    started_ = false;
  }
  if (bus_) g_object_unref(bus_);
  bus_ = nullptr;
}

Frames::~Frames() {
  if (stream_) pw_stream_destroy(stream_);
  if (core_) pw_core_disconnect(core_);
  if (context_) pw_context_destroy(context_);
  if (watch_) g_source_remove(watch_);
  if (loop_) {
    pw_loop_leave(loop_);
    pw_loop_destroy(loop_);
  }
}

bool Frames::connect(uint32_t node) {
  loop_ = pw_loop_new(nullptr);
  pw_loop_enter(loop_);
  watch_ = g_unix_fd_add(
      pw_loop_get_fd(loop_), G_IO_IN,
      [](int, GIOCondition, gpointer loop) -> gboolean {
        pw_loop_iterate(static_cast<pw_loop*>(loop), 0);
        return G_SOURCE_CONTINUE;
      },
      loop_);
  context_ = pw_context_new(loop_, nullptr, 0);
  core_ = context_ ? pw_context_connect(context_, nullptr, 0) : nullptr;
  if (!core_) {
    error_ = "cannot connect to PipeWire";
    return false;
  }

  stream_ = pw_stream_new(core_, "ostrane-test-cast",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  events_.version = PW_VERSION_STREAM_EVENTS;
  events_.state_changed = onStateChanged;
  events_.param_changed = onParamChanged;
  events_.process = onProcess;
  pw_stream_add_listener(stream_, &listener_, &events_, this);

  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_rectangle size = SPA_RECTANGLE(1920, 1080), minSize = SPA_RECTANGLE(1, 1),
                maxSize = SPA_RECTANGLE(16384, 16384);
  spa_fraction rate = SPA_FRACTION(0, 1), minRate = SPA_FRACTION(0, 1),
               maxRate = SPA_FRACTION(1000, 1);
  const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                             SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)))};
  int result = pw_stream_connect(
      stream_, PW_DIRECTION_INPUT, node,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
      1);
  if (result < 0) {
    error_ = std::string("cannot connect to the cast: ") + strerror(-result);
    return false;
  }
  return true;
}

void Frames::onStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* why) {
  if (state == PW_STREAM_STATE_ERROR)
    static_cast<Frames*>(self)->error_ = std::string("PipeWire stream: ") + (why ? why : "error");
}

void Frames::onParamChanged(void* data, uint32_t id, const spa_pod* param) {
  auto* self = static_cast<Frames*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  self->width_ = static_cast<int>(info.size.width);
  self->height_ = static_cast<int>(info.size.height);
  // Buffers in memory we can map: there is no GPU to hand DMA-BUFs to.
  uint8_t buffer[256];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
  pw_stream_update_params(self->stream_, params, 1);
}

void Frames::onProcess(void* data) {
  auto* self = static_cast<Frames*>(data);
  pw_buffer* newest = nullptr;
  // Only the newest buffer matters; older ones go straight back.
  while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream_)) {
    if (newest) pw_stream_queue_buffer(self->stream_, newest);
    newest = next;
  }
  if (!newest) return;
  const spa_data& plane = newest->buffer->datas[0];
  const int width = self->width_, height = self->height_;
  const int stride = plane.chunk->stride > 0 ? plane.chunk->stride : width * 4;
  const bool whole =
      plane.data && width > 0 && plane.chunk->size > 0 &&
      !(plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) &&
      plane.chunk->offset + static_cast<uint64_t>(stride) * (height - 1) + width * 4ull <=
          plane.maxsize;
  // Buffers with no picture in them carry only the pointer's position: nothing to look at.
  if (whole) {
    consent::Picture& picture = self->latest_;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    const auto* rows = static_cast<const uint8_t*>(plane.data) + plane.chunk->offset;
    for (int y = 0; y < height; ++y)
      memcpy(&picture.pixels[static_cast<size_t>(y) * width],
             rows + static_cast<size_t>(y) * stride, width * 4ull);
    ++self->serial_;
    self->receivedAt_ = Clock::now();
  }
  pw_stream_queue_buffer(self->stream_, newest);
}

bool openWithFrames(RemoteSession& session, Frames& frames, const std::string& connector,
                    Clock::time_point deadline, std::string& error) {
  if (!session.open(connector)) {
    error = session.error();
    return false;
  }
  if (!runUntil([&] { return session.node() != 0; }, std::min(deadline, Clock::now() + 5s))) {
    error = "mutter announced no PipeWire stream for " + connector;
    return false;
  }
  if (!frames.connect(session.node())) {
    error = frames.error();
    return false;
  }
  return true;
}

StdinLines::StdinLines() {
  watch_ = g_unix_fd_add(
      STDIN_FILENO, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
      [](int fd, GIOCondition, gpointer self) -> gboolean {
        auto* lines = static_cast<StdinLines*>(self);
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
          lines->ended_ = true;
          lines->watch_ = 0;
          return G_SOURCE_REMOVE;
        }
        lines->pending_.append(buffer, size_t(n));
        return G_SOURCE_CONTINUE;
      },
      this);
}

StdinLines::~StdinLines() {
  if (watch_) g_source_remove(watch_);
}

bool StdinLines::next(std::string& line) {
  runUntil([&] { return ended_ || pending_.find('\n') != std::string::npos; },
           Clock::time_point::max());
  const size_t end = pending_.find('\n');
  if (end == std::string::npos) {
    if (pending_.empty()) return false;
    line.swap(pending_);
    pending_.clear();
    return true;
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return true;
}

}  // namespace mutter
