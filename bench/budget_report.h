#pragma once
// A console reporter that also keeps every case whose label names a budget ("budget N us ...") and,
// at the end, prints one line per budget, "within" or "over", and says whether any was over. A case
// that stopped with an error (SkipWithError) is listed as failed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

class BudgetReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        failures_.push_back(run.benchmark_name() + ": " + run.error_message);
        continue;
      }
      const size_t at = run.report_label.find("budget ");
      if (at == std::string::npos) continue;
      const double budget = std::strtod(run.report_label.c_str() + at + 7, nullptr);
      const double us = run.GetAdjustedRealTime() * multiplier(run.time_unit);
      lines_.push_back({run.benchmark_name(), us, budget, run.report_label});
    }
  }

  // The budget lines; true when every case stayed within its budget.
  bool summarise() const {
    bool within = true;
    std::printf("\nBudgets (real time per run against the budget):\n");
    for (const Line& l : lines_) {
      const bool over = l.us >= l.budget;
      within = within && !over;
      std::printf("%-6s %-36s %10.1f us, %s\n", over ? "over" : "within", l.name.c_str(), l.us, l.label.c_str());
    }
    std::printf(within ? "every case within its budget\n" : "some case is over its budget\n");
    for (const std::string& f : failures_) std::printf("failed %s\n", f.c_str());
    return within;
  }
  bool failed() const { return !failures_.empty(); }

 private:
  struct Line {
    std::string name;
    double us, budget;
    std::string label;
  };
  static double multiplier(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond: return 1e-3;
      case benchmark::kMicrosecond: return 1.0;
      case benchmark::kMillisecond: return 1e3;
      default: return 1e6;
    }
  }
  std::vector<Line> lines_;
  std::vector<std::string> failures_;
};

}  // namespace bench
