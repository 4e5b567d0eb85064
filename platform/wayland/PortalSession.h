// One remote-desktop session of the desktop portal: the user's consent, then a screen-cast of a
// monitor and a virtual pointer on it. Where the portal can keep the consent, the session asks
// for that, and the token the portal returns lets the next session start without asking.
//
// Use it from one thread. Its D-Bus traffic is dispatched on a private GLib context, by Start and
// by each call below, so it does not matter whether the caller's event loop runs GLib's default
// context (Qt's usually does) or not.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ostrane::platform::wayland {

enum class StartResult {
  Started,
  Refused,   // the user said no, or did not share the pointer
  NoPortal,  // no session bus, no portal, or a portal without the interface named in the error
  Failed,    // anything else, with the reason in the error
};

// The monitor stream of the session. Its position and size are in the compositor's logical
// coordinates; at scale 1 they are the monitor's pixels, and so the frames' size.
struct PortalStream {
  uint32_t NodeId = 0;
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

class PortalSession {
 public:
  // The user may take a while over the consent dialog.
  static constexpr std::chrono::seconds kConsentTimeout{120};
  // Each input call waits at most this long for the portal's answer.
  static constexpr std::chrono::milliseconds kInputTimeout{2000};

  // The restore token is kept in `stateDir` (see RestoreTokens); empty keeps none, and every
  // session asks the user.
  explicit PortalSession(std::string stateDir = {});
  ~PortalSession();
  PortalSession(const PortalSession&) = delete;
  PortalSession& operator=(const PortalSession&) = delete;

  // Asks for a session and waits for the portal, which shows the consent dialog; `idle` is called
  // every few milliseconds meanwhile, so that the caller can run its own events. Returns at once
  // with Started while a session is active. A call from within `idle` fails; Close from within
  // `idle` ends the wait with Failed.
  StartResult Start(std::string& error, const std::function<void()>& idle = {},
                    std::chrono::milliseconds timeout = kConsentTimeout);

  // True while the session lasts; false once the portal or the user closed it, after which Start
  // asks again.
  bool Active();
  void Close();

  PortalStream Stream() const;
  // Whether the stream's buffers carry the pointer's position (the portal's cursor metadata);
  // the pixels never show the pointer.
  bool CursorMetadata() const;
  // Whether the portal can give a stream the pointer's position, asked without the user and
  // without a session; the answer is kept.
  bool OffersCursorMetadata();
  // A new connection to PipeWire on which the stream's node is visible; the caller owns the fd.
  // -1, with the reason in `error`, when there is none.
  int OpenPipeWireRemote(std::string& error);

  // Moves the pointer to (x, y) of the stream, clamped to it. Returns once the portal has taken
  // the motion, so that input sent next reaches the compositor after it (the portal handles calls
  // on a pool of threads and would otherwise forward them in any order).
  bool MovePointer(double x, double y, std::string* error = nullptr);
  // The left button (BTN_LEFT) down or up, with the same ordering guarantee.
  bool Button(bool press, std::string* error = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ostrane::platform::wayland
