#include "concurrency/WorkShare.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace ostrane::concurrency {
namespace {

using Clock = std::chrono::steady_clock;

// How long the helper keeps polling for work after it was woken or finished a part. A pass
// converts its capture and searches within a few milliseconds; between passes it sleeps.
constexpr auto kAwake = std::chrono::milliseconds(3);

// Waiting gives the processor away at every turn: with two cores, a helper that merely spun could
// hold the core the X server needs for the copy that precedes the work.
void Pause() {
  std::this_thread::yield();
}

class Helper {
 public:
  static Helper& Instance() {
    static Helper helper;
    return helper;
  }

  bool Enabled() const { return enabled_.load() && cores_ >= 2 && !failed_.load(); }
  void SetEnabled(bool enabled) { enabled_.store(enabled); }

  void Run(int32_t parts, const std::function<void(int32_t)>& job) {
    std::lock_guard<std::mutex> one(runMutex_);  // one job at a time
    job_ = &job;
    parts_ = parts;
    next_.store(0);
    error_ = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (Start()) {
        // Open before the new generation shows, so a helper that sees it finds the job open.
        open_.store(true);
        generation_.store(generation_.load() + 1);
      }
    }
    wake_.notify_one();
    Claim();
    // Once closed, a helper that has not entered stays out; one that has is waited for.
    open_.store(false);
    while (active_.load() != 0)
      Pause();
    job_ = nullptr;
    if (error_) std::rethrow_exception(error_);
  }

  void Wake() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Start();
      wakeRequested_ = true;
    }
    wake_.notify_one();
  }

  ~Helper() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

 private:
  Helper() : cores_(std::thread::hardware_concurrency()) {}

  // Called with mutex_ held. A thread that cannot be created leaves the work to the caller.
  bool Start() {
    if (thread_.joinable()) return true;
    if (failed_.load()) return false;
    try {
      thread_ = std::thread([this] { Loop(); });
      return true;
    } catch (const std::system_error&) {
      failed_.store(true);
      return false;
    }
  }

  void Claim() {
    for (;;) {
      const int32_t i = next_.fetch_add(1);
      if (i >= parts_) return;
      try {
        (*job_)(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        if (!error_) error_ = std::current_exception();
      }
    }
  }

  void Loop() {
    uint64_t served = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || wakeRequested_ || generation_.load() != served; });
      if (stop_) return;
      wakeRequested_ = false;
      lock.unlock();
      auto until = Clock::now() + kAwake;
      for (uint32_t spins = 1;; ++spins) {
        const uint64_t generation = generation_.load();
        if (generation != served) {
          active_.fetch_add(1);
          if (open_.load() && generation_.load() == generation) Claim();
          active_.fetch_sub(1);
          served = generation;
          until = Clock::now() + kAwake;
        }
        if ((spins & 63) == 0 && Clock::now() > until) break;
        Pause();
      }
      lock.lock();
    }
  }

  const unsigned cores_;
  std::atomic<bool> enabled_{true};
  std::atomic<bool> failed_{false};

  std::mutex runMutex_;
  const std::function<void(int32_t)>* job_ = nullptr;
  int32_t parts_ = 0;
  std::atomic<int32_t> next_{0};
  std::atomic<bool> open_{false};
  std::atomic<int32_t> active_{0};
  std::atomic<uint64_t> generation_{0};
  std::mutex errorMutex_;
  std::exception_ptr error_;

  std::mutex mutex_;  // guards the sleep: stop_, wakeRequested_ and starting the thread
  std::condition_variable wake_;
  bool stop_ = false;
  bool wakeRequested_ = false;
  std::thread thread_;
};

}  // namespace

void ShareWork(int32_t parts, const std::function<void(int32_t)>& job) {
  if (parts <= 0) return;
  Helper& helper = Helper::Instance();
  if (parts == 1 || !helper.Enabled()) {
    for (int32_t i = 0; i < parts; ++i)
      job(i);
    return;
  }
  helper.Run(parts, job);
}

RowRange PartRows(int32_t rows, int32_t parts, int32_t part) {
  return {static_cast<int32_t>(int64_t{part} * rows / parts),
          static_cast<int32_t>(int64_t{part + 1} * rows / parts)};
}

void ShareRows(int32_t rows, int32_t parts,
               const std::function<void(int32_t part, int32_t begin, int32_t end)>& job) {
  ShareWork(parts, [&](int32_t i) {
    const RowRange r = PartRows(rows, parts, i);
    job(i, r.begin, r.end);
  });
}

void WakeHelper() {
  Helper& helper = Helper::Instance();
  if (helper.Enabled()) helper.Wake();
}

void SetHelperEnabled(bool enabled) {
  Helper::Instance().SetEnabled(enabled);
}

bool HelperEnabled() {
  return Helper::Instance().Enabled();
}

}  // namespace ostrane::concurrency
