// The desktop's opener for web and mail addresses, for the backends of POSIX systems.
#pragma once

#include <string>
#include <vector>

namespace ostrane::platform::posix {

// Runs `argv` (a program, found on PATH as execvp would, and its arguments) with the environment
// `env` in a detached grandchild: never a zombie, never waited for. True once the program has
// been started.
bool SpawnDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// Hands `target` as one argument, without a shell, to `opener` (the program and its leading
// arguments; empty: the program named by OSTRANE_OPENER, else "xdg-open"). The opener gets this
// process's environment with the "NAME=value" entries of `setEnv` put in place. False for an
// empty target, one an opener would read as an option, or one holding a NUL.
bool OpenWithDesktopOpener(const std::string& target, std::vector<std::string> opener,
                           const std::vector<std::string>& setEnv);

}  // namespace ostrane::platform::posix
