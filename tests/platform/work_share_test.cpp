// The helper thread that takes a share of large conversions and searches: every part runs once,
// the call returns only when all have finished, and errors come back to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/WorkShare.h"

namespace ostrane::platform {
namespace {

class WorkShare : public ::testing::Test {
 protected:
  void TearDown() override { SetHelperEnabled(true); }
};

// Many rounds of varied sizes, some with the helper woken ahead and some after it fell asleep:
// a part run twice, skipped or still running after the return shows up in the counts.
TEST_F(WorkShare, EveryPartRunsOnceAndHasFinishedOnReturn) {
  for (const bool enabled : {true, false}) {
    SetHelperEnabled(enabled);
    std::vector<std::atomic<int>> runs(40);
    for (int round = 0; round < 400; ++round) {
      const int parts = round % 41;
      if (round % 7 == 0) WakeHelper();
      if (round % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (auto& r : runs)
        r.store(0);
      ShareWork(parts, [&](int32_t i) {
        volatile int spin = 0;
        for (int k = 0; k < (i % 5) * 200; ++k)
          spin = spin + 1;
        runs[static_cast<size_t>(i)].fetch_add(1);
      });
      for (int i = 0; i < 40; ++i)
        ASSERT_EQ(runs[static_cast<size_t>(i)].load(), i < parts ? 1 : 0)
            << "round " << round << " part " << i << " helper " << enabled;
    }
  }
}

TEST_F(WorkShare, DisabledRunsEveryPartOnTheCallingThreadInOrder) {
  SetHelperEnabled(false);
  EXPECT_FALSE(HelperEnabled());
  const std::thread::id self = std::this_thread::get_id();
  std::vector<int> order;
  ShareWork(5, [&](int32_t i) {
    EXPECT_EQ(std::this_thread::get_id(), self);
    order.push_back(i);
  });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(WorkShare, AnExceptionReachesTheCallerAndTheNextJobStillRuns) {
  for (const bool enabled : {true, false}) {
    SetHelperEnabled(enabled);
    EXPECT_THROW(ShareWork(8,
                           [](int32_t i) {
                             if (i == 3) throw std::runtime_error("part 3");
                           }),
                 std::runtime_error);
    std::atomic<int> sum{0};
    ShareWork(8, [&](int32_t i) { sum.fetch_add(i); });
    EXPECT_EQ(sum.load(), 28) << "helper " << enabled;
  }
}

}  // namespace
}  // namespace ostrane::platform
