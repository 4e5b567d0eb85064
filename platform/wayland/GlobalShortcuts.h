// Keys that work from anywhere on a Wayland desktop, through the desktop portal's
// GlobalShortcuts interface where the desktop offers it: one session, the shortcuts bound to it,
// and their activations.
//
// The desktops differ in what they answer, so a binding is judged by the keys the portal says it
// gave, not by its response code: GNOME answers 2 with the keys bound and refuses a second
// binding on a session; KDE answers 0 but gives no key to a shortcut whose key another session
// token holds. The session's token is therefore the same on every run, so that KDE finds the
// binding it kept for us.
//
// Use it from one thread. Its D-Bus traffic is dispatched on a private GLib context, by Bind and
// by Dispatch, so activations reach the callback on the caller's thread; WakeFd becomes readable
// whenever something waits there, so an event loop that watches it need not poll.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ostrane::platform::wayland {

class GlobalShortcuts {
 public:
  // The portal may be started by the bus on the first call.
  static constexpr std::chrono::milliseconds kProbeTimeout{3000};
  // The desktop may ask the user to confirm or change the keys.
  static constexpr std::chrono::milliseconds kBindTimeout{60000};
  // The last part of the session's handle, the same on every run.
  static constexpr const char* kSessionToken = "ostrane_keys";

  GlobalShortcuts();
  ~GlobalShortcuts();
  GlobalShortcuts(const GlobalShortcuts&) = delete;
  GlobalShortcuts& operator=(const GlobalShortcuts&) = delete;

  // Whether the portal offers the interface; asked once, the answer is kept.
  bool Available();

  // Binds the shortcuts (id, preferred trigger such as "F9") in one request, on a new session
  // (any earlier one is closed). Waits for the portal's answer, calling `idle` every few
  // milliseconds meanwhile. True when every shortcut got a key; otherwise `error` says why the
  // others did not, and IsBound tells which did. A call from within `idle` fails.
  bool Bind(const std::vector<std::pair<std::string, std::string>>& shortcuts, std::string& error,
            const std::function<void()>& idle = {},
            std::chrono::milliseconds timeout = kBindTimeout);
  // Whether any shortcut, or the one named, is bound now.
  bool Bound() const;
  bool IsBound(const std::string& id) const;
  // Ends the session; the portal has no way to unbind single shortcuts.
  void Close();
  // Why the portal may not know the program (its app id was not taken); empty when it was.
  std::string RegistryError() const;

  // Called with the id of a bound shortcut when the user presses it.
  void SetActivated(std::function<void(const std::string& id)> activated);
  // Delivers what has arrived, without waiting.
  void Dispatch();
  // Readable while Dispatch has something to do; -1 when there is no such descriptor.
  int WakeFd() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrane::platform::wayland
