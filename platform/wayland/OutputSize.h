// The size of the compositor's first output, asked of the compositor itself: what the screen
// measures before any screen-cast has started.
#pragma once

#include <string>

#include "platform/Desktop.h"

namespace ostrane::platform::wayland {

// The current mode of the first output in pixels; 0 x 0, with the reason in `error`, when the
// compositor cannot be reached or announces no output.
ScreenSize FirstOutputSize(std::string& error);

}  // namespace ostrane::platform::wayland
