#include "engine/ClickPass.h"

#include "engine/BitmapData.h"
#include "platform/Desktop.h"

namespace ostrane {

RunSettings& ProgramSettings() {
  static RunSettings settings;
  return settings;
}

int32_t ToleranceForSimilarity(int32_t similarPercent) {
  const int32_t product = WrapMul(WrapSub(100, similarPercent), 255);
  return static_cast<int32_t>(static_cast<double>(product) / 100.0);
}

ScreenPoint LocateTarget(const ScreenRect& findScope, const ScreenRect& clickScope,
                         int32_t similarPercent) {
  // Both bitmaps are fresh for every pass: what the find scope shows now is what is looked for.
  TBDBitmapData haystack;
  if (!haystack.CopyFromScreen(clickScope.Left, clickScope.Top,
                               WrapSub(clickScope.Right, clickScope.Left),
                               WrapSub(clickScope.Bottom, clickScope.Top))) {
    return {};
  }
  TBDBitmapData needle;
  if (!needle.CopyFromScreen(findScope.Left, findScope.Top,
                             WrapSub(findScope.Right, findScope.Left),
                             WrapSub(findScope.Bottom, findScope.Top))) {
    return {};
  }

  int32_t x = -1;
  int32_t y = -1;
  bool found;
  if (similarPercent == 100) {
    found = haystack.FindImage(needle, x, y);
  } else {
    const int32_t t = ToleranceForSimilarity(similarPercent);
    found = haystack.FindImageWithTolerance(needle, TColorTolerance{t, t, t}, x, y);
  }
  if (!found) return {};

  // The scope's corner is added as entered, even where the capture was moved to column or row 0.
  return {WrapAdd(WrapAdd(x, needle.Width / 2), clickScope.Left),
          WrapAdd(WrapAdd(y, needle.Height / 2), clickScope.Top)};
}

void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent,
               int32_t& clickCount) {
  platform::Desktop& desktop = platform::ActiveDesktop();
  desktop.ProcessPendingMessages();
  const ScreenPoint target = LocateTarget(findScope, clickScope, similarPercent);
  if (target.X != -1) {
    desktop.MovePointer(target.X, target.Y);
    desktop.LeftButtonDown(target.X, target.Y);
    desktop.LeftButtonUp(target.X, target.Y);
    clickCount = WrapAdd(clickCount, 1);
  }
  desktop.ProcessPendingMessages();
}

void ClickPass(const ScreenRect& findScope, const ScreenRect& clickScope, int32_t similarPercent) {
  ClickPass(findScope, clickScope, similarPercent, ProgramSettings().ClickCount);
}

}  // namespace ostrane
