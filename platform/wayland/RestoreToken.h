// The portal's restore token, the one thing the program keeps between runs: with it the next
// session starts without asking the user again. It is a key to the user's screen and input, so it
// lives in a folder only the user may enter, in a file only the user may read, and is replaced
// whole or not at all.
#pragma once

#include <string>

namespace ostrane::platform::wayland {

class RestoreTokens {
 public:
  // The token is kept in `dir`, which is made when missing; an empty `dir` keeps nothing.
  explicit RestoreTokens(std::string dir = {}) : dir_(std::move(dir)) {}

  // $XDG_STATE_HOME/ostrane, or ~/.local/state/ostrane where XDG_STATE_HOME is not an absolute
  // path; empty when neither is known.
  static std::string DefaultDir();

  bool Enabled() const { return !dir_.empty(); }
  // The kept token; empty when there is none or the file does not hold one.
  std::string Load() const;
  // Replaces the kept token. False, with the reason, when it cannot be written; the earlier
  // token is then gone too, since the portal accepts each token once.
  bool Save(const std::string& token, std::string& error);
  void Drop();
  std::string Path() const;

 private:
  std::string dir_;
};

}  // namespace ostrane::platform::wayland
