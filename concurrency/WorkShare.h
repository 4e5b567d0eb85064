// A second core for the work of one pass: the conversion of a large capture and the search over a
// large haystack are split into parts that the calling thread and one helper thread take in turn.
#pragma once

#include <cstdint>
#include <functional>

namespace ostrane::concurrency {

// Runs job(0) ... job(parts - 1), each exactly once, and returns when all have finished. Parts are
// claimed in increasing order by the calling thread and by the helper, which joins in as soon as
// it is awake, so a late helper costs nothing but its share. Without a second core, or with the
// helper disabled, every part runs on the calling thread. An exception from a part is rethrown
// here once no part is running any more. A part must not call ShareWork itself.
void ShareWork(int32_t parts, const std::function<void(int32_t)>& job);

// Rows [begin, end) of one part when `rows` rows are cut into `parts` consecutive ranges that
// differ by at most one row.
struct RowRange {
  int32_t begin;
  int32_t end;
};
RowRange PartRows(int32_t rows, int32_t parts, int32_t part);

// ShareWork over rows [0, rows) cut as PartRows cuts them: job(part, begin, end).
void ShareRows(int32_t rows, int32_t parts,
               const std::function<void(int32_t part, int32_t begin, int32_t end)>& job);

// Wakes the helper ahead of work that follows shortly (a capture about to be converted), because
// waking a sleeping thread takes tens of microseconds on some machines. It stays awake briefly.
void WakeHelper();

// For tests and benchmarks; the helper is enabled by default where there is a second core.
void SetHelperEnabled(bool enabled);
bool HelperEnabled();

}  // namespace ostrane::concurrency
