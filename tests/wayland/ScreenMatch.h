// What wl_input's eyes look for in a screen picture: a known picture, the pixels that changed,
// the picker's crosshair. Pure functions, beside the consent dialog's search.
#pragma once

#include <istream>
#include <optional>
#include <utility>
#include <vector>

#include "ConsentLocate.h"

namespace screen {

// Where `wanted` shows first in `seen`, row by row from the top left, exactly.
std::optional<std::pair<int, int>> find(const consent::Picture& seen,
                                        const consent::Picture& wanted);
// How many of `wanted`'s pixels differ from `seen`'s with its corner at (x, y); those that fall
// off `seen` count as differing.
int differing(const consent::Picture& seen, const consent::Picture& wanted, int x, int y);

struct Changed {
  int count = 0;
  consent::Rect bounds;  // around the changed pixels; empty when none
};
// The pixels of `now` that differ from `before` (the same size) by more than `tolerance` in some
// channel, outside every rectangle of `ignored` (a window that changes with the focus, a panel's
// clock).
Changed changed(const consent::Picture& now, const consent::Picture& before, int tolerance,
                const std::vector<consent::Rect>& ignored);

// Rectangles as X Y W H groups of whole numbers up to the end of `in`: false on anything else.
bool readRects(std::istream& in, std::vector<consent::Rect>& rects);

// A crosshair exactly at (x, y): its column is the inverse of the columns two either side, and
// its row likewise. Sound on a plain background, which the test's target gives.
bool crosshairAt(const consent::Picture& picture, int x, int y);

}  // namespace screen
