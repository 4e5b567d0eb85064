// What a backend tells the loader about itself. Each backend folder defines one entry, named
// after the folder (Backend_x11 in x11/, ...); the build lists those it compiled.
#pragma once

#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace ostrane::platform {

struct BackendEntry {
  const char* Name;
  // Whether the backend can serve this session; `why` says why or why not, in a few words.
  bool (*Suits)(std::string& why);
  // Among the backends that suit the session the highest preference wins.
  int Preference;
  // The desktop, or nullptr and a one-line reason in `error`.
  std::unique_ptr<Desktop> (*Open)(std::string& error);
  // The window system the program's windows must use to live on the same desktop, by the
  // toolkit's name for it ("xcb", "windows", "wayland").
  const char* WindowSystem;
  // Whether window coordinates must be screen pixels, so the toolkit's own scaling stays off.
  bool UnscaledWindows;
};

}  // namespace ostrane::platform
