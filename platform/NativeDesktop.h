// The desktop of the system the program was built for (X11 or Windows), so that the program
// body never names a backend: the build links the one that fits.
#pragma once

#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace ostrane::platform {

// The desktop of this session; nullptr and a one-line reason in `error` when there is none.
std::unique_ptr<Desktop> OpenNativeDesktop(std::string& error);

}  // namespace ostrane::platform
