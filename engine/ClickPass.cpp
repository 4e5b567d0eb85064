#include "engine/ClickPass.h"

#include "engine/BitmapData.h"

namespace ostrane {

int32_t ToleranceForSimilarity(int32_t similarPercent) {
  const int32_t product = WrapMul(WrapSub(100, similarPercent), 255);
  return static_cast<int32_t>(static_cast<double>(product) / 100.0);
}

namespace {

bool CopyScope(TBDBitmapData& bitmap, platform::Desktop& desktop,
               const platform::ScreenSize& screen, const ScreenRect& scope) {
  return bitmap.CopyFromScreen(desktop, screen, scope.Left, scope.Top,
                               WrapSub(scope.Right, scope.Left), WrapSub(scope.Bottom, scope.Top));
}

}  // namespace

ScreenPoint LocateTarget(platform::Desktop& desktop, const PassInput& input) {
  // Both bitmaps are fresh for every pass: what the find scope shows now is what is looked for.
  desktop.BeginPass();
  TBDBitmapData haystack;
  if (!CopyScope(haystack, desktop, input.Screen, input.ClickScope)) return {};
  TBDBitmapData needle;
  if (!CopyScope(needle, desktop, input.Screen, input.FindScope)) return {};

  int32_t x = -1;
  int32_t y = -1;
  bool found;
  if (input.SimilarPercent == 100) {
    found = haystack.FindImage(needle, input.Search, x, y);
  } else {
    const int32_t t = ToleranceForSimilarity(input.SimilarPercent);
    found = haystack.FindImageWithTolerance(needle, TColorTolerance{t, t, t}, input.Search, x, y);
  }
  if (!found) return {};

  // The scope's corner is added as entered, even where the capture was moved to column or row 0.
  return {WrapAdd(WrapAdd(x, needle.Width / 2), input.ClickScope.Left),
          WrapAdd(WrapAdd(y, needle.Height / 2), input.ClickScope.Top)};
}

PassResult FindAndClick(platform::Desktop& desktop, const PassInput& input) {
  PassResult result;
  result.Target = LocateTarget(desktop, input);
  if (result.Target.X == -1) return result;
  desktop.MovePointer(result.Target.X, result.Target.Y);
  desktop.LeftButtonDown();
  desktop.LeftButtonUp();
  result.Clicked = true;
  return result;
}

PassInput ProgramPassInput(const ScreenRect& findScope, const ScreenRect& clickScope,
                           int32_t similarPercent) {
  PassInput input;
  input.FindScope = findScope;
  input.ClickScope = clickScope;
  input.SimilarPercent = similarPercent;
  input.Screen = {ScreenMetrics.Width, ScreenMetrics.Height};
  return input;
}

ScreenPoint LocateTarget(const ScreenRect& findScope, const ScreenRect& clickScope,
                         int32_t similarPercent) {
  return LocateTarget(platform::ActiveDesktop(),
                      ProgramPassInput(findScope, clickScope, similarPercent));
}

void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent,
               int32_t& clickCount) {
  const PassResult result = FindAndClick(platform::ActiveDesktop(),
                                         ProgramPassInput(findScope, clickScope, similarPercent));
  if (result.Clicked) clickCount = WrapAdd(clickCount, 1);
}

}  // namespace ostrane
