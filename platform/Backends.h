// The backend loader: which backends this build has, and which one serves this session.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Backend.h"

namespace ostrane::platform {

// The backends compiled into this program, in the order the build lists them.
const std::vector<const BackendEntry*>& BuiltBackends();

// The backend named by `forced` when it is not empty, else the most preferred of those in
// `built` that suit this session; nullptr when none does, with the reasons in `why`. `why`
// also says why the chosen one was chosen.
const BackendEntry* ChooseBackend(const std::vector<const BackendEntry*>& built,
                                  const std::string& forced, std::string& why);

struct OpenedDesktop {
  const BackendEntry* Backend = nullptr;
  std::unique_ptr<platform::Desktop> Desktop;
};

// Chooses among the built backends (OSTRANE_BACKEND forces one by name) and opens it. Says on
// stderr, in one line, what it chose and why when OSTRANE_BACKEND_DEBUG is set, and why none
// can run when that is so; `error` then holds the reason and the desktop is empty.
OpenedDesktop LoadDesktop(std::string& error);

}  // namespace ostrane::platform
