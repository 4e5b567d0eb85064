#include "engine/search/ParallelFind.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "concurrency/WorkShare.h"

namespace ostrane::search {

namespace {

// The candidate work an exact search may spend on `partRows` of its `rows` offset rows before it
// changes to the rolling hash: the options' share per haystack pixel, divided among the parts by
// their rows. A tolerant search has no hash to change to.
int64_t PartBudget(const SearchInput& in, const SearchOptions& options, int32_t partRows,
                   int32_t rows) {
  if (in.tolerance) return INT64_MAX;
  const double budget = options.hashSwitchWork * double(in.hay.Width) * in.hay.Height;
  return static_cast<int64_t>(partRows == rows ? budget : budget * partRows / rows);
}

void AddPartTrace(Trace& total, const Trace& part) {
  total.candidates += part.candidates;
  total.learned += part.learned;
  if (part.method == Method::Hash) {
    total.method = Method::Hash;
    if (total.hashFromRow < 0) total.hashFromRow = part.hashFromRow;
  }
}

}  // namespace

int32_t PartsFor(const TBDBitmapData& hay, const TBDBitmapData& needle, int32_t rows,
                 const SearchOptions& options) {
  if (int64_t{hay.Width} * hay.Height < options.splitMinPixels) return 1;
  const int32_t partRows = std::max(options.splitMinRows, 2 * needle.Height);
  return std::clamp(rows / std::max(partRows, 1), 1, kMaxParts);
}

bool ParallelFind(const SearchInput& in, const Plan& plan, const SearchOptions& options,
                  Trace& trace, int32_t& x, int32_t& y) {
  const int32_t rows = in.hay.Height - in.needle.Height + 1;
  const int32_t parts = PartsFor(in.hay, in.needle, rows, options);
  if (parts <= 1) {
    return AnchorScan(in, PartBudget(in, options, rows, rows), trace)
        .Run(plan, 0, rows, EarlierPartFound(), x, y);
  }

  // The first match overall is the first one in the lowest part that has one; parts below it
  // always run to the end, parts above it stop as soon as they see it.
  struct Answer {
    bool found = false;
    int32_t x = -1, y = -1;
    Trace trace;
  };
  std::vector<Answer> answers(static_cast<size_t>(parts));
  std::atomic<int32_t> firstFound{parts};
  auto searchPart = [&](int32_t part, int32_t y0, int32_t y1) {
    if (part > firstFound.load(std::memory_order_relaxed)) return;
    Answer& a = answers[static_cast<size_t>(part)];
    a.found = AnchorScan(in, PartBudget(in, options, y1 - y0, rows), a.trace)
                  .Run(plan, y0, y1, EarlierPartFound(firstFound, part), a.x, a.y);
    if (!a.found) return;
    int32_t seen = firstFound.load();
    while (part < seen && !firstFound.compare_exchange_weak(seen, part)) {
    }
  };
  if (options.useHelper) {
    concurrency::ShareRows(rows, parts, searchPart);
  } else {
    for (int32_t part = 0; part < parts; ++part) {
      const concurrency::RowRange r = concurrency::PartRows(rows, parts, part);
      searchPart(part, r.begin, r.end);
    }
  }

  for (const Answer& a : answers)
    AddPartTrace(trace, a.trace);
  const int32_t first = firstFound.load();
  if (first >= parts) return false;
  x = answers[static_cast<size_t>(first)].x;
  y = answers[static_cast<size_t>(first)].y;
  return true;
}

}  // namespace ostrane::search
