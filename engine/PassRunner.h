// The run without the window: Start and Stop, one pass a tick, the count, and cancelling a pass
// that is under way. The main window's handlers call it; tests drive it against the in-memory
// desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/ClickPass.h"
#include "engine/Types.h"
#include "platform/Desktop.h"

namespace ostrane {

// The repeating timer that drives the passes. Setting the interval it already has, or enabling
// it while enabled, leaves its countdown alone.
class PassTimer {
 public:
  virtual ~PassTimer() = default;
  virtual void SetInterval(int32_t ms) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

class PassRunner {
 public:
  // `desktop` may be null (no desktop: ticks do nothing). `processMessages` lets the program's
  // pending events through; a pass calls it before and after its work, so that Stop and the
  // hot keys are handled while the pass runs. Everything must outlive the runner.
  PassRunner(platform::Desktop* desktop, PassTimer& timer, RunSettings& settings,
             platform::ScreenSize screen, search::SearchOptions search,
             std::function<void()> processMessages);
  ~PassRunner();
  PassRunner(const PassRunner&) = delete;
  PassRunner& operator=(const PassRunner&) = delete;

  // With the settings as stored: the count back to 0 and the timer armed with the interval. A
  // pass under way ends without acting; the next one reads the new settings.
  void Start();
  // The timer stops and a pass under way ends without acting; the count stays. The passes'
  // bitmaps are given back.
  void Stop();
  // A pass under way ends without acting; the run goes on (a scope being picked, say).
  void CancelPass();

  // One tick's pass, counted when the system took its click. Empty when skipped: a tick that
  // arrives while a pass lets events through is dropped, so that passes never nest.
  std::optional<PassResult> Tick();

  // The user's pointer: pushed into the top-left corner pixel it stops the run, a stop that
  // needs no keys (the program's own click on that pixel does not count).
  void PointerMoved(int32_t x, int32_t y);

  bool Running() const { return timer_.Enabled(); }
  bool PassUnderWay() const { return cancel_ != nullptr; }
  // Whether the passes' bitmaps are being kept (between the passes of a run).
  bool KeepsBitmaps() const { return bitmaps_ != nullptr; }

 private:
  platform::Desktop* desktop_;
  PassTimer& timer_;
  RunSettings& settings_;
  platform::ScreenSize screen_;
  search::SearchOptions search_;
  std::function<void()> processMessages_;
  platform::CancelFlag* cancel_ = nullptr;  // the pass under way
  ScreenPoint lastClick_;
  // Kept from one pass of a run to the next; none while stopped.
  std::unique_ptr<PassBitmaps> bitmaps_;
};

}  // namespace ostrane
