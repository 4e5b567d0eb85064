// The helper thread that takes a share of large conversions and searches: every part runs once,
// the call returns only when all have finished, and errors come back to the caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "concurrency/WorkShare.h"

namespace ostrane::concurrency {
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

// The parts cover the rows once, in order, and none is more than one row longer than another;
// ShareRows hands each part the range PartRows gives it.
TEST_F(WorkShare, RowsAreCutIntoConsecutiveRangesOfNearlyEqualSize) {
  for (const int32_t rows : {0, 1, 5, 64, 1081}) {
    for (int32_t parts = 1; parts <= 17; ++parts) {
      int32_t next = 0, shortest = INT32_MAX, longest = 0;
      for (int32_t part = 0; part < parts; ++part) {
        const RowRange r = PartRows(rows, parts, part);
        ASSERT_EQ(r.begin, next) << rows << " rows, part " << part << " of " << parts;
        ASSERT_GE(r.end, r.begin);
        shortest = std::min(shortest, r.end - r.begin);
        longest = std::max(longest, r.end - r.begin);
        next = r.end;
      }
      EXPECT_EQ(next, rows) << parts << " parts";
      EXPECT_LE(longest - shortest, 1) << rows << " rows in " << parts << " parts";
    }
  }
  std::vector<std::atomic<int32_t>> begins(7), ends(7);
  ShareRows(100, 7, [&](int32_t part, int32_t begin, int32_t end) {
    begins[static_cast<size_t>(part)].store(begin);
    ends[static_cast<size_t>(part)].store(end);
  });
  for (int32_t part = 0; part < 7; ++part) {
    const RowRange r = PartRows(100, 7, part);
    EXPECT_EQ(begins[static_cast<size_t>(part)].load(), r.begin) << part;
    EXPECT_EQ(ends[static_cast<size_t>(part)].load(), r.end) << part;
  }
}

}  // namespace
}  // namespace ostrane::concurrency
