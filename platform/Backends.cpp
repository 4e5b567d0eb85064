#include "platform/Backends.h"

#include <cstdio>
#include <cstdlib>

#include "platform/BuiltBackends.h"

namespace ostrane::platform {

const std::vector<const BackendEntry*>& BuiltBackends() {
  static const std::vector<const BackendEntry*> built = {OSTRANE_BUILT_BACKENDS};
  return built;
}

const BackendEntry* ChooseBackend(const std::vector<const BackendEntry*>& built,
                                  const std::string& forced, std::string& why) {
  why.clear();
  if (!forced.empty()) {
    for (const BackendEntry* entry : built) {
      if (forced == entry->Name) {
        why = std::string(entry->Name) + " (asked for by OSTRANE_BACKEND)";
        return entry;
      }
    }
    why = "OSTRANE_BACKEND asks for \"" + forced + "\", which this build does not have (it has";
    for (const BackendEntry* entry : built)
      why += std::string(" ") + entry->Name;
    why += ")";
    return nullptr;
  }
  const BackendEntry* best = nullptr;
  std::string bestReason;
  std::string refusals;
  for (const BackendEntry* entry : built) {
    std::string reason;
    if (entry->Suits(reason)) {
      if (!best || entry->Preference > best->Preference) {
        best = entry;
        bestReason = reason;
      }
    } else {
      refusals += std::string(refusals.empty() ? "" : "; ") + entry->Name + ": " + reason;
    }
  }
  if (!best) {
    why = built.empty() ? "this build has no desktop backend"
                        : "no backend suits this session (" + refusals + ")";
    return nullptr;
  }
  why = std::string(best->Name) + " (" + bestReason + ")";
  if (!refusals.empty()) why += "; not " + refusals;
  return best;
}

OpenedDesktop LoadDesktop(std::string& error) {
  const char* forced = std::getenv("OSTRANE_BACKEND");
  const bool tell = std::getenv("OSTRANE_BACKEND_DEBUG") != nullptr;
  std::string why;
  OpenedDesktop opened;
  opened.Backend = ChooseBackend(BuiltBackends(), forced ? forced : "", why);
  if (!opened.Backend) {
    error = why;
    return opened;
  }
  if (tell) std::fprintf(stderr, "ostrane: backend %s\n", why.c_str());
  opened.Desktop = opened.Backend->Open(error);
  if (!opened.Desktop) opened.Backend = nullptr;
  return opened;
}

}  // namespace ostrane::platform
