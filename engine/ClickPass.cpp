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

// The desktop's pass lasts exactly as long as this object, however the pass ends.
class PassScope {
 public:
  PassScope(platform::Desktop& desktop, const platform::CancelFlag& cancel) : desktop_(desktop) {
    desktop_.BeginPass(cancel);
  }
  ~PassScope() { desktop_.EndPass(); }
  PassScope(const PassScope&) = delete;
  PassScope& operator=(const PassScope&) = delete;

 private:
  platform::Desktop& desktop_;
};

PassResult Failed(const TBDBitmapData& bitmap, const platform::CancelFlag& cancel) {
  PassResult result;
  if (cancel.Cancelled()) {
    result.Outcome = PassOutcome::Cancelled;
  } else {
    result.Outcome = PassOutcome::CaptureFailed;
    result.Error = bitmap.LastError;
  }
  return result;
}

// Both bitmaps are captured afresh for every pass: what the find scope shows now is what is
// looked for.
PassResult LocateInPass(platform::Desktop& desktop, const PassInput& input,
                        const platform::CancelFlag& cancel, PassBitmaps& bitmaps) {
  TBDBitmapData& haystack = bitmaps.Haystack;
  if (!CopyScope(haystack, desktop, input.Screen, input.ClickScope)) {
    return Failed(haystack, cancel);
  }
  TBDBitmapData& needle = bitmaps.Needle;
  if (!CopyScope(needle, desktop, input.Screen, input.FindScope)) return Failed(needle, cancel);

  int32_t x = -1;
  int32_t y = -1;
  bool found;
  if (input.SimilarPercent == 100) {
    found = haystack.FindImage(needle, input.Search, x, y);
  } else {
    const int32_t t = ToleranceForSimilarity(input.SimilarPercent);
    found = haystack.FindImageWithTolerance(needle, TColorTolerance{t, t, t}, input.Search, x, y);
  }
  PassResult result;
  if (!found) return result;
  // The scope's corner is added as entered, even where the capture was moved to column or row 0.
  result.Target = {WrapAdd(WrapAdd(x, needle.Width / 2), input.ClickScope.Left),
                   WrapAdd(WrapAdd(y, needle.Height / 2), input.ClickScope.Top)};
  // Only X is tested: a match whose X is exactly -1 counts as not found.
  if (result.Target.X != -1) result.Outcome = PassOutcome::Found;
  return result;
}

}  // namespace

PassResult Locate(platform::Desktop& desktop, const PassInput& input,
                  const platform::CancelFlag& cancel) {
  const PassScope scope(desktop, cancel);
  PassBitmaps bitmaps;
  return LocateInPass(desktop, input, cancel, bitmaps);
}

ScreenPoint LocateTarget(platform::Desktop& desktop, const PassInput& input) {
  return Locate(desktop, input, platform::CancelFlag{}).Target;
}

PassResult FindAndClick(platform::Desktop& desktop, const PassInput& input,
                        const platform::CancelFlag& cancel, PassBitmaps* keep) {
  const PassScope scope(desktop, cancel);
  PassBitmaps own;
  PassResult result = LocateInPass(desktop, input, cancel, keep ? *keep : own);
  if (result.Outcome != PassOutcome::Found) return result;
  if (cancel.Cancelled()) {
    result.Outcome = PassOutcome::Cancelled;
    return result;
  }
  // A button press without its release would leave the button held: the release is sent
  // whenever the press was taken.
  const bool moved = desktop.MovePointer(result.Target.X, result.Target.Y);
  const bool pressed = moved && desktop.LeftButtonDown();
  const bool released = pressed && desktop.LeftButtonUp();
  result.Outcome = released ? PassOutcome::Clicked : PassOutcome::ClickRefused;
  return result;
}

PassResult ClickPass(platform::Desktop& desktop, const PassInput& input,
                     const platform::CancelFlag& cancel, int32_t& clickCount, PassBitmaps* keep) {
  PassResult result = FindAndClick(desktop, input, cancel, keep);
  if (result.Clicked()) clickCount = WrapAdd(clickCount, 1);
  return result;
}

}  // namespace ostrane
