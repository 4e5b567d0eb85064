#include "InputDevice.h"

#include <cstdlib>
#include <map>

std::optional<uint32_t> keysymNamed(const std::string& name) {
  static const std::map<std::string, uint32_t> named = {
      {"Tab", 0xff09},       {"Return", 0xff0d}, {"Escape", 0xff1b},
      {"BackSpace", 0xff08}, {"space", 0x20},    {"alt", 0xffe9},
      {"ctrl", 0xffe3},      {"shift", 0xffe1},  {"super", 0xffeb},
  };
  if (auto found = named.find(name); found != named.end()) return found->second;
  if (name.size() == 1 && name[0] > 0x20 && name[0] < 0x7f) return uint32_t(name[0]);
  if (name.size() >= 2 && name[0] == 'F') {
    char* end = nullptr;
    const long n = strtol(name.c_str() + 1, &end, 10);
    if (!*end && n >= 1 && n <= 12) return uint32_t(0xffbe + n - 1);  // XK_F1 onwards
  }
  return std::nullopt;
}
