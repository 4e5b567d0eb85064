// One find-and-click pass: capture both scopes, look for the find scope's picture inside the
// click scope, and click the centre of the first match.
#pragma once

#include <cstdint>

#include "engine/Types.h"

namespace ostrane {

// Per-channel tolerance for a similarity percentage: ((100 - percent) * 255) / 100, the product
// in wrapping 32-bit arithmetic and the quotient truncated toward zero. Meaningless for 100,
// which compares exactly.
int32_t ToleranceForSimilarity(int32_t similarPercent);

// Where the needle (find scope) lies in the haystack (click scope): the screen point at the
// centre of the first match, or (-1, -1).
ScreenPoint LocateTarget(const ScreenRect& findScope, const ScreenRect& clickScope,
                         int32_t similarPercent);

// Locates the target and, when found, moves the pointer there, clicks the left button and adds
// one to `clickCount`.
void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent,
               int32_t& clickCount);

// The same, counting in ProgramSettings().ClickCount.
void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent);

}  // namespace ostrane
