#include "engine/PassRunner.h"

#include <utility>

namespace ostrane {

PassRunner::PassRunner(platform::Desktop* desktop, PassTimer& timer, RunSettings& settings,
                       platform::ScreenSize screen, search::SearchOptions search,
                       std::function<void()> processMessages)
    : desktop_(desktop),
      timer_(timer),
      settings_(settings),
      screen_(screen),
      search_(search),
      processMessages_(std::move(processMessages)) {}

PassRunner::~PassRunner() = default;

void PassRunner::Start() {
  CancelPass();
  settings_.ClickCount = 0;
  timer_.SetInterval(settings_.ClickIntervalMs);
  timer_.SetEnabled(true);
}

void PassRunner::Stop() {
  timer_.SetEnabled(false);
  CancelPass();
  // A pass under way still uses them: it lets them go when it ends.
  if (!cancel_) bitmaps_.reset();
}

void PassRunner::CancelPass() {
  if (cancel_) cancel_->Cancel();
}

std::optional<PassResult> PassRunner::Tick() {
  if (cancel_ || !desktop_) return std::nullopt;
  platform::CancelFlag cancel;
  cancel_ = &cancel;
  // Cleared however the pass ends, an exception included.
  struct Clear {
    platform::CancelFlag*& flag;
    ~Clear() { flag = nullptr; }
  } clear{cancel_};

  if (processMessages_) processMessages_();
  PassResult result;
  if (cancel.Cancelled()) {
    result.Outcome = PassOutcome::Cancelled;
  } else {
    // The settings as they stand now: a Start handled just above has replaced them.
    const PassInput input{settings_.FindScope, settings_.ClickScope, settings_.SimilarPercent,
                          screen_, search_};
    if (!bitmaps_) bitmaps_ = std::make_unique<PassBitmaps>();
    result = ClickPass(*desktop_, input, cancel, settings_.ClickCount, bitmaps_.get());
    if (result.Clicked()) lastClick_ = result.Target;
  }
  if (processMessages_) processMessages_();
  if (!Running()) bitmaps_.reset();
  return result;
}

void PassRunner::PointerMoved(int32_t x, int32_t y) {
  if (x != 0 || y != 0) {
    // The pointer has left the program's own click, if that was on the corner.
    lastClick_ = {};
    return;
  }
  if (Running() && lastClick_ != ScreenPoint{0, 0}) Stop();
}

}  // namespace ostrane
