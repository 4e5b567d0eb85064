// One find-and-click pass: capture both scopes, look for the find scope's picture inside the
// click scope, and click the centre of the first match.
#pragma once

#include <cstdint>
#include <string>

#include "engine/BitmapData.h"
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

// What a pass did.
enum class PassOutcome {
  NotFound,       // both captures taken, no match (or a match whose X is -1)
  Found,          // Locate only: a match, where a click would go; nothing done
  Clicked,        // the pointer moved to the match and the system took the click
  CaptureFailed,  // a scope could not be captured; nothing was searched
  ClickRefused,   // a match, but the system did not take the move or a button event
  Cancelled,      // ended early, before acting: nothing moved, clicked or counted
};

struct PassResult {
  PassOutcome Outcome = PassOutcome::NotFound;
  ScreenPoint Target;  // the centre of the first match, or (-1, -1)
  // For CaptureFailed, the failing bitmap's LastError.
  std::string Error;
  bool Clicked() const { return Outcome == PassOutcome::Clicked; }
};

// The storage of a pass's two bitmaps, kept from one pass of a run to the next: the pixels are
// captured anew each time, but large scopes (a 4K screen holds 25 MB) would otherwise be given
// back to the system after every pass and faulted in again by the next, which costs more than
// the pass.
struct PassBitmaps {
  TBDBitmapData Haystack;
  TBDBitmapData Needle;
};

// Looks for the needle (find scope) in the haystack (click scope) on `desktop` and answers where
// a click would go, without acting. `cancel` ends it early where the desktop waits.
PassResult Locate(platform::Desktop& desktop, const PassInput& input,
                  const platform::CancelFlag& cancel);
// The centre of the first match, or (-1, -1).
ScreenPoint LocateTarget(platform::Desktop& desktop, const PassInput& input);

// Locates the target and, when found and not cancelled by then, moves the pointer there and
// clicks the left button.
// `keep`, when given, holds the bitmaps' storage for the next pass; without it the pass makes
// and frees its own.
PassResult FindAndClick(platform::Desktop& desktop, const PassInput& input,
                        const platform::CancelFlag& cancel, PassBitmaps* keep = nullptr);

// FindAndClick, adding one to `clickCount` for a click the system took.
PassResult ClickPass(platform::Desktop& desktop, const PassInput& input,
                     const platform::CancelFlag& cancel, int32_t& clickCount,
                     PassBitmaps* keep = nullptr);

}  // namespace ostrane
