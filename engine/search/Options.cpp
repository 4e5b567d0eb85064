#include "engine/search/Options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ostrane::search {

Level LevelNamed(const char* name, Level best) {
  if (!name) return best;
  Level wanted = best;
  if (std::strcmp(name, "scalar") == 0) wanted = Level::Scalar;
  if (std::strcmp(name, "sse2") == 0) wanted = Level::Sse2;
  if (std::strcmp(name, "avx2") == 0) wanted = Level::Avx2;
  return std::min(wanted, best);
}

Level LevelFromEnvironment() {
  return LevelNamed(std::getenv("OSTRANE_SEARCH_LEVEL"), simd::BestAvailableLevel());
}

Level UsableLevel(Level wanted) {
  return std::min(wanted, simd::BestAvailableLevel());
}

}  // namespace ostrane::search
