#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Backends.h"

namespace ostrane::platform {
namespace {

bool Yes(std::string& why) {
  why = "here";
  return true;
}
bool No(std::string& why) {
  why = "not here";
  return false;
}
std::unique_ptr<Desktop> Nothing(std::string& error) {
  error = "cannot open";
  return nullptr;
}

const BackendEntry kLow{"low", Yes, 10, Nothing, "low-ws", true};
const BackendEntry kHigh{"high", Yes, 20, Nothing, "high-ws", false};
const BackendEntry kAbsent{"absent", No, 30, Nothing, "absent-ws", false};

TEST(BackendLoader, ChoosesTheMostPreferredThatSuitsOrTheOneAskedFor) {
  struct Case {
    std::vector<const BackendEntry*> built;
    std::string forced;
    const BackendEntry* want;
    std::string why;
  };
  const Case cases[] = {
      {{&kLow, &kHigh, &kAbsent}, "", &kHigh, "high (here); not absent: not here"},
      {{&kHigh, &kLow}, "", &kHigh, "high (here)"},
      {{&kLow}, "", &kLow, "low (here)"},
      // Asked for by name, even one that does not suit the session: the user knows best.
      {{&kLow, &kHigh}, "low", &kLow, "low (asked for by OSTRANE_BACKEND)"},
      {{&kLow, &kAbsent}, "absent", &kAbsent, "absent (asked for by OSTRANE_BACKEND)"},
      {{&kLow},
       "high",
       nullptr,
       "OSTRANE_BACKEND asks for \"high\", which this build does not have (it has low)"},
      {{&kAbsent}, "", nullptr, "no backend suits this session (absent: not here)"},
      {{}, "", nullptr, "this build has no desktop backend"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(ChooseBackend(c.built, c.forced, why), c.want) << c.forced << " " << c.why;
    EXPECT_EQ(why, c.why);
  }
}

TEST(BackendLoader, ThisBuildHasABackend) {
  EXPECT_FALSE(BuiltBackends().empty());
  for (const BackendEntry* entry : BuiltBackends()) {
    EXPECT_NE(entry->Name, nullptr);
    EXPECT_NE(entry->WindowSystem, nullptr);
  }
}

}  // namespace
}  // namespace ostrane::platform
