// mutter's own remote-desktop and screen-cast API, which asks no one, as the test tools use it:
// a remote-desktop session with a cast of one monitor linked to it. The cast gives the pictures,
// read on the calling thread from the GLib main context; the session's pointer and keyboard act
// in the stream's coordinates, as a person's hand would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <gio/gio.h>
#include <pipewire/pipewire.h>

#include "ConsentLocate.h"
#include "InputDevice.h"

namespace mutter {

using Clock = std::chrono::steady_clock;

// Runs the GLib main context, which also runs PipeWire's loop, until done() or the deadline;
// false when the deadline came first.
bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);
// Lets the context run for that long.
void pause(std::chrono::milliseconds span);

class RemoteSession : public InputDevice {
 public:
  RemoteSession() = default;
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;
  ~RemoteSession() override { close(); }

  // Creates and starts the session with a cast of `connector`; false with error() set.
  bool open(const std::string& connector);
  // The PipeWire node of the cast, 0 until mutter has announced it.
  uint32_t node() const { return node_; }

  // The pointer to (x, y) of the monitor, in its pixels; windows get the position as sent,
  // fractions included.
  bool move(double x, double y) override;
  // A motion by nothing: makes the session's pointer without moving it.
  bool nudge() override;
  bool button(bool pressed) override;
  // Move, a moment, press, a moment, release: a motion and a press sent in the same instant lose
  // the press, and GTK picks the widget under the pointer from the motion.
  bool click(double x, double y);
  // An X keysym (XK_Tab is 0xff09, printable ASCII is itself) down or up.
  bool key(uint32_t keysym, bool pressed) override;

  // Stopping the session stops the cast and removes its pointer and keyboard.
  void close();
  const std::string& error() const override { return error_; }

 private:
  GVariant* call(const char* name, const char* path, const char* iface, const char* method,
                 GVariant* args, GError** error);
  bool callSession(const char* method, GVariant* args, const char* what);
  bool dbusFail(const std::string& what, GError* error);

  GDBusConnection* bus_ = nullptr;
  std::string remoteDesktop_, screenCast_, stream_;
  guint streamAdded_ = 0;
  uint32_t node_ = 0;
  bool started_ = false;
  std::string error_;
};

// Reads the cast's frames on this thread: PipeWire's loop is run from the GLib main context.
// Frames come in BGRx memfd buffers; the newest whole picture is kept.
class Frames {
 public:
  Frames() = default;
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;
  ~Frames();

  bool connect(uint32_t node);

  // The newest picture and when it came; serial() counts the pictures.
  const consent::Picture& latest() const { return latest_; }
  uint64_t serial() const { return serial_; }
  Clock::time_point receivedAt() const { return receivedAt_; }
  // Set when the connection or the stream failed.
  const std::string& error() const { return error_; }

 private:
  static void onStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* why);
  static void onParamChanged(void* data, uint32_t id, const spa_pod* param);
  static void onProcess(void* data);

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

// mutter sends a frame only when the screen changes: a picture with no newer one for this long
// is the settled screen.
constexpr std::chrono::milliseconds kSettled{300};

// Opens a session and its cast and waits (up to 5 s, never past deadline) for the cast's node
// and the first picture to be on its way; false with `error` set.
bool openWithFrames(RemoteSession& session, Frames& frames, const std::string& connector,
                    Clock::time_point deadline, std::string& error);

// Lines of standard input as they come, read from the GLib main context so that the cast's
// frames keep flowing while a command is awaited.
class StdinLines {
 public:
  StdinLines();
  StdinLines(const StdinLines&) = delete;
  StdinLines& operator=(const StdinLines&) = delete;
  ~StdinLines();

  // The next line, without its end; false at the end of the input.
  bool next(std::string& line);

 private:
  guint watch_ = 0;
  std::string pending_;
  bool ended_ = false;
};

}  // namespace mutter
