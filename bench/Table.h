// Collects the median of every benchmark and prints one table of medians and ratios at the end.
// Benchmarks are named "<row>/<column>"; the ratio is the `reference` column over the first. A
// row whose name ends with the 4K suffix also gets its first column over the same row's at full
// HD (its name without the suffix), where both ran.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace ostrane::bench {

inline const std::string kSuffix4K = ", 3840x2160";

class TableReporter : public benchmark::ConsoleReporter {
 public:
  TableReporter(std::vector<std::string> columns, std::string reference)
      : columns_(std::move(columns)), reference_(std::move(reference)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      if (!median && !single) continue;
      const std::string name = r.run_name.function_name;
      const size_t slash = name.rfind('/');
      if (slash == std::string::npos || r.iterations == 0) continue;
      const std::string row = name.substr(0, slash), column = name.substr(slash + 1);
      if (!cells_.count(row)) order_.push_back(row);
      cells_[row][column] = r.real_accumulated_time / double(r.iterations) * 1e3;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() const {
    std::printf("\n| scene | ");
    for (const auto& c : columns_)
      std::printf("%s (ms) | ", c.c_str());
    std::printf("%s / %s | 4K / full HD |\n|---|", reference_.c_str(), columns_.front().c_str());
    for (size_t i = 0; i <= columns_.size() + 1; ++i)
      std::printf("---:|");
    std::printf("\n");
    for (const auto& row : order_) {
      const auto& cells = cells_.at(row);
      std::printf("| %s | ", row.c_str());
      for (const auto& c : columns_) {
        const auto it = cells.find(c);
        if (it == cells.end()) {
          std::printf("- | ");
        } else {
          std::printf("%.3f | ", it->second);
        }
      }
      const auto first = cells.find(columns_.front()), ref = cells.find(reference_);
      if (first != cells.end() && ref != cells.end() && first->second > 0) {
        const double ratio = ref->second / first->second;
        std::printf(ratio < 10 ? "%.1fx | " : "%.0fx | ", ratio);
      } else {
        std::printf("- | ");
      }
      const double scale = RatioToFullHd(row);
      if (scale > 0) {
        std::printf("%.2f |\n", scale);
      } else {
        std::printf("- |\n");
      }
    }
    std::fflush(stdout);
  }

  // The first column of a 4K row over its full-HD row's; 0 where either is missing.
  double RatioToFullHd(const std::string& row) const {
    const size_t n = kSuffix4K.size();
    if (row.size() <= n || row.compare(row.size() - n, n, kSuffix4K) != 0) return 0;
    const auto base = cells_.find(row.substr(0, row.size() - n));
    if (base == cells_.end()) return 0;
    const auto uhd = cells_.at(row).find(columns_.front());
    const auto hd = base->second.find(columns_.front());
    if (uhd == cells_.at(row).end() || hd == base->second.end() || hd->second <= 0) return 0;
    return uhd->second / hd->second;
  }

 private:
  std::vector<std::string> columns_;
  std::string reference_;
  std::vector<std::string> order_;
  std::map<std::string, std::map<std::string, double>> cells_;
};

}  // namespace ostrane::bench
