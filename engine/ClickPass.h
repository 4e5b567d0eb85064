// One find-and-click pass: capture both scopes, look for the find scope's picture inside the
// click scope, and click the centre of the first match.
#pragma once

#include <cstdint>

#include "engine/Types.h"
#include "engine/search/Options.h"
#include "platform/Desktop.h"

namespace ostrane {

// Per-channel tolerance for a similarity percentage: ((100 - percent) * 255) / 100, the product
// in wrapping 32-bit arithmetic and the quotient truncated toward zero. Meaningless for 100,
// which compares exactly.
int32_t ToleranceForSimilarity(int32_t similarPercent);

// Everything a pass reads.
struct PassInput {
  ScreenRect FindScope;
  ScreenRect ClickScope;
  int32_t SimilarPercent = 100;
  // The screen size the scopes are clamped against (ScreenMetrics in the program).
  platform::ScreenSize Screen;
  search::SearchOptions Search;
};

struct PassResult {
  ScreenPoint Target;  // the centre of the first match, or (-1, -1)
  bool Clicked = false;
};

// Where the needle (find scope) lies in the haystack (click scope) on `desktop`.
ScreenPoint LocateTarget(platform::Desktop& desktop, const PassInput& input);

// Locates the target and, when found, moves the pointer there and clicks the left button. The
// caller counts the click and processes pending messages around the pass.
PassResult FindAndClick(platform::Desktop& desktop, const PassInput& input);

// The program's pass: the active desktop, ScreenMetrics and the default search options.
PassInput ProgramPassInput(const ScreenRect& findScope, const ScreenRect& clickScope,
                           int32_t similarPercent);
ScreenPoint LocateTarget(const ScreenRect& findScope, const ScreenRect& clickScope,
                         int32_t similarPercent);
// Adds one to `clickCount` for a click.
void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent,
               int32_t& clickCount);

}  // namespace ostrane
