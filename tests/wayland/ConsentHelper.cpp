// Gets past the portal's consent dialog the way a person would, for tests that run under
// scripts/wayland-session: it watches the screen through mutter's own screen-cast API, and when
// the dialog shows it turns "Allow remote interaction" on and presses Share with mutter's
// remote-desktop pointer. Exits 0 once the dialog has gone, or 1 with a one-line reason.
//
//   consent_helper [--timeout S] [--save-frames DIR] [--connector NAME]

#include "ConsentLocate.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kLeftButton = 0x110;  // BTN_LEFT of linux/input-event-codes.h
// mutter sends a frame only when the screen changes: a picture this old is the settled screen.
constexpr auto kSettled = 300ms;
// How long a click is given to show on the screen before it counts as lost, and how many clicks.
constexpr auto kLook = 3s;
constexpr int kTries = 3;

std::string reason;  // the one line printed on failure

bool fail(std::string why) {
  if (reason.empty()) reason = std::move(why);
  return false;
}

// Runs the GLib main context, which also runs PipeWire's loop, until done() or the deadline.
bool runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
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

// A remote-desktop session of mutter with a screen cast of one monitor linked to it: the cast
// gives the pictures, and the session's pointer clicks in the stream's coordinates.
class MutterSession {
 public:
  ~MutterSession() { close(); }

  bool open(const std::string& connector) {
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus_) return dbusFail("no session bus", error);

    GVariant* reply = call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                           "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr, &error);
    if (!reply) return dbusFail("mutter's RemoteDesktop.CreateSession failed", error);
    remoteDesktop_ = takePath(reply);

    reply =
        call("org.gnome.Mutter.RemoteDesktop", remoteDesktop_.c_str(),
             "org.freedesktop.DBus.Properties", "Get",
             g_variant_new("(ss)", "org.gnome.Mutter.RemoteDesktop.Session", "SessionId"), &error);
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
    reply = call("org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast",
                 "org.gnome.Mutter.ScreenCast", "CreateSession",
                 g_variant_new("(a{sv})", &properties), &error);
    if (!reply) return dbusFail("mutter's ScreenCast.CreateSession failed", error);
    screenCast_ = takePath(reply);

    // No pointer in the pictures: our own clicks would then change the screen under us.
    GVariantBuilder record;
    g_variant_builder_init(&record, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&record, "{sv}", "cursor-mode", g_variant_new_uint32(0));
    reply = call("org.gnome.Mutter.ScreenCast", screenCast_.c_str(),
                 "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                 g_variant_new("(sa{sv})", connector.c_str(), &record), &error);
    if (!reply) return dbusFail("RecordMonitor(" + connector + ") failed", error);
    stream_ = takePath(reply);

    streamAdded_ = g_dbus_connection_signal_subscribe(
        bus_, "org.gnome.Mutter.ScreenCast", "org.gnome.Mutter.ScreenCast.Stream",
        "PipeWireStreamAdded", stream_.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* args,
           gpointer self) {
          g_variant_get(args, "(u)", &static_cast<MutterSession*>(self)->node_);
        },
        this, nullptr);

    reply = call("org.gnome.Mutter.RemoteDesktop", remoteDesktop_.c_str(),
                 "org.gnome.Mutter.RemoteDesktop.Session", "Start", nullptr, &error);
    if (!reply) return dbusFail("starting mutter's remote-desktop session failed", error);
    g_variant_unref(reply);
    started_ = true;
    return true;
  }

  // The PipeWire node of the cast, 0 until mutter has announced it.
  uint32_t node() const { return node_; }

  bool click(int x, int y) {
    GError* error = nullptr;
    GVariant* reply = call("org.gnome.Mutter.RemoteDesktop", remoteDesktop_.c_str(),
                           "org.gnome.Mutter.RemoteDesktop.Session", "NotifyPointerMotionAbsolute",
                           g_variant_new("(sdd)", stream_.c_str(), x + 0.5, y + 0.5), &error);
    if (!reply) return dbusFail("pointer motion failed", error);
    g_variant_unref(reply);
    // A moment between motion and press, as a hand gives: GTK picks the widget under the
    // pointer from the motion.
    pause(60ms);
    for (gboolean pressed : {gboolean(TRUE), gboolean(FALSE)}) {
      reply = call("org.gnome.Mutter.RemoteDesktop", remoteDesktop_.c_str(),
                   "org.gnome.Mutter.RemoteDesktop.Session", "NotifyPointerButton",
                   g_variant_new("(ib)", kLeftButton, pressed), &error);
      if (!reply) return dbusFail("pointer button failed", error);
      g_variant_unref(reply);
      pause(40ms);
    }
    return true;
  }

  void close() {
    if (streamAdded_) g_dbus_connection_signal_unsubscribe(bus_, streamAdded_);
    streamAdded_ = 0;
    if (started_) {
      // Stopping the remote-desktop session stops the screen cast linked to it.
      GVariant* reply = call("org.gnome.Mutter.RemoteDesktop", remoteDesktop_.c_str(),
                             "org.gnome.Mutter.RemoteDesktop.Session", "Stop", nullptr, nullptr);
      if (reply) g_variant_unref(reply);
      started_ = false;
    }
    if (bus_) g_object_unref(bus_);
    bus_ = nullptr;
  }

 private:
  GVariant* call(const char* name, const char* path, const char* iface, const char* method,
                 GVariant* args, GError** error) {
    return g_dbus_connection_call_sync(bus_, name, path, iface, method, args, nullptr,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, error);
  }
  static std::string takePath(GVariant* reply) {
    const char* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    std::string result = path;
    g_variant_unref(reply);
    return result;
  }
  static bool dbusFail(const std::string& what, GError* error) {
    std::string why = what + (error ? std::string(": ") + error->message : "");
    g_clear_error(&error);
    return fail(why);
  }

  GDBusConnection* bus_ = nullptr;
  std::string remoteDesktop_, screenCast_, stream_;
  guint streamAdded_ = 0;
  uint32_t node_ = 0;
  bool started_ = false;
};

// Reads the cast's frames on this thread: PipeWire's loop is run from the GLib main context.
class Frames {
 public:
  ~Frames() {
    if (stream_) pw_stream_destroy(stream_);
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (watch_) g_source_remove(watch_);
    if (loop_) {
      pw_loop_leave(loop_);
      pw_loop_destroy(loop_);
    }
  }

  bool connect(uint32_t node) {
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
    if (!core_) return fail("cannot connect to PipeWire");

    stream_ = pw_stream_new(core_, "consent-helper",
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
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)))};
    int result = pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    if (result < 0) return fail(std::string("cannot connect to the cast: ") + strerror(-result));
    return true;
  }

  // The newest picture and when it came; serial() counts the pictures.
  const consent::Picture& latest() const { return latest_; }
  uint64_t serial() const { return serial_; }
  Clock::time_point receivedAt() const { return receivedAt_; }
  const std::string& error() const { return error_; }

 private:
  static void onStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* why) {
    if (state == PW_STREAM_STATE_ERROR)
      static_cast<Frames*>(self)->error_ = std::string("PipeWire stream: ") + (why ? why : "error");
  }
  static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
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
  static void onProcess(void* data) {
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

  pw_loop* loop_ = nullptr;
  guint watch_ = 0;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  pw_stream_events events_{};
  spa_hook listener_{};
  int width_ = 0, height_ = 0;
  consent::Picture latest_;
  uint64_t serial_ = 0;
  Clock::time_point receivedAt_;
  std::string error_;
};

struct Options {
  int timeoutSeconds = 30;
  std::string saveDir;
  std::string connector = "Meta-0";
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    if (arg == "--timeout") {
      char* end = nullptr;
      long value = strtol(argv[++i], &end, 10);
      if (*end || value < 1 || value > 3600) return false;
      options.timeoutSeconds = static_cast<int>(value);
    } else if (arg == "--save-frames") {
      options.saveDir = argv[++i];
    } else if (arg == "--connector") {
      options.connector = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

class Helper {
 public:
  explicit Helper(Options options) : options_(std::move(options)) {}

  bool run() {
    const Clock::time_point began = Clock::now();
    deadline_ = began + std::chrono::seconds(options_.timeoutSeconds);
    if (!mutter_.open(options_.connector)) return false;
    if (!runUntil([&] { return mutter_.node() != 0; }, std::min(deadline_, Clock::now() + 5s)))
      return fail("mutter announced no PipeWire stream for " + options_.connector);
    if (!frames_.connect(mutter_.node())) return false;

    std::optional<consent::Dialog> dialog;
    if (!settle([](const auto& d) { return d.has_value(); }, dialog))
      return failWithFrame("the consent dialog did not show");
    const double shownAt = seconds(began);
    save("dialog", dialog);

    // As a person would: click, look, and click again only if the picture shows nothing happened.
    for (int clicks = 0; !dialog->toggleOn; ++clicks) {
      if (clicks == kTries) return failWithFrame("the switch did not turn on after 3 clicks");
      if (!mutter_.click(dialog->toggle.centreX(), dialog->toggle.centreY())) return false;
      std::optional<consent::Dialog> seen;
      if (settle([](const auto& d) { return d && d->toggleOn; }, seen, kLook)) {
        dialog = seen;
        break;
      }
      // A picture caught mid-animation shows no dialog: look again before clicking again.
      if (!seen && !settle([](const auto& d) { return d.has_value(); }, seen))
        return failWithFrame("the dialog went away before the switch turned on");
      dialog = seen;
    }
    save("switched", dialog);

    for (int presses = 0;; ++presses) {
      if (presses == kTries) return failWithFrame("the dialog stayed after 3 presses of Share");
      if (!mutter_.click(dialog->share.centreX(), dialog->share.centreY())) return false;
      const consent::Rect share = dialog->share;
      std::optional<consent::Dialog> seen;
      auto gone = [&](const auto& d) {
        return !d && consent::accentShare(frames_.latest(), share) < 0.2;
      };
      if (settle(gone, seen, kLook)) break;
      // Press again only on a settled picture that still shows the dialog.
      if (!seen && !settle([&](const auto& d) { return d.has_value() || gone(d); }, seen))
        return failWithFrame("the dialog stayed after Share");
      if (!seen) break;
      if (!seen->toggleOn) return failWithFrame("the switch went off before Share");
      dialog = seen;
    }
    save("shared", std::nullopt);
    mutter_.close();
    fprintf(stderr, "consent-helper: dialog seen after %.2f s, shared after %.2f s\n", shownAt,
            seconds(began));
    return true;
  }

 private:
  // Waits, at most within and never past the deadline, for a settled picture whose dialog, or
  // absence of one, satisfies wanted; found is what the last picture looked at showed.
  template <typename Wanted>
  bool settle(Wanted wanted, std::optional<consent::Dialog>& found,
              Clock::duration within = Clock::duration::max()) {
    const Clock::time_point until =
        within == Clock::duration::max() ? deadline_ : std::min(deadline_, Clock::now() + within);
    uint64_t looked = 0;
    bool matched = false;
    runUntil(
        [&] {
          if (!frames_.error().empty()) return true;
          if (frames_.serial() == 0 || Clock::now() - frames_.receivedAt() < kSettled) return false;
          if (frames_.serial() != looked) {
            looked = frames_.serial();
            found = consent::locateDialog(frames_.latest());
            matched = wanted(found);
          }
          return matched;
        },
        until);
    if (!frames_.error().empty()) return fail(frames_.error());
    if (!matched && Clock::now() >= deadline_) timedOut_ = true;
    return matched;
  }

  bool failWithFrame(const std::string& why) {
    if (frames_.serial() == 0) return fail("no picture came from mutter's screen cast");
    save("last", std::nullopt);
    return fail(timedOut_ ? why + " within " + std::to_string(options_.timeoutSeconds) + " s"
                          : why);
  }

  // The newest picture as it came, and with what was found in it outlined.
  void save(const char* name, const std::optional<consent::Dialog>& dialog) {
    if (options_.saveDir.empty() || frames_.serial() == 0) return;
    const std::string path = options_.saveDir + "/" + name;
    const consent::Picture& latest = frames_.latest();
    bool saved = consent::savePpm(latest, path + ".ppm");
    if (dialog)
      saved = consent::savePpm(consent::marked(latest, *dialog), path + "-marked.ppm") && saved;
    if (!saved)
      fprintf(stderr, "consent-helper: cannot write %s.ppm in %s\n", name,
              options_.saveDir.c_str());
  }

  static double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
  }

  Options options_;
  Clock::time_point deadline_;
  bool timedOut_ = false;
  MutterSession mutter_;
  Frames frames_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    fprintf(stderr, "usage: %s [--timeout S] [--save-frames DIR] [--connector NAME]\n", argv[0]);
    return 2;
  }
  pw_init(&argc, &argv);
  bool ok = Helper(options).run();
  if (!ok) fprintf(stderr, "consent-helper: %s\n", reason.empty() ? "failed" : reason.c_str());
  pw_deinit();
  return ok ? 0 : 1;
}
