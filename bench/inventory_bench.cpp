// The NT numbering of 4096 entries against the cell-by-cell grid walk it
// replaces, on the same input in the same run; prints their ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "device/host_numbering.h"
#include "tests/unit/device/grid_walk_reference.h"
#include "tests/unit/support/scsi_entry.h"

namespace {

using kst::ScsiInfo;

// 4096 entries over four adapter names, target ids spread up to 255, a few
// HBAs and paths per name so that every host number fits in a byte.
const std::vector<ScsiInfo>& SpreadEntries() {
  static const std::vector<ScsiInfo> entries = [] {
    std::mt19937 rng(4096);
    const std::vector<std::string> names = {"scsi0", "atapi", "ESDI_506", "aic78xx"};
    std::uniform_int_distribution<uint32_t> small(0, 3), target(0, 255), lun(0, 1);
    std::vector<ScsiInfo> out;
    for (int i = 0; i < 4096; ++i) {
      out.push_back(kst::test::Entry(small(rng), small(rng), target(rng), lun(rng), names[i % 4]));
    }
    for (auto& e : out) {
      if (e.targetId == 0) e.targetId = 255;  // the largest id occurs on every name
    }
    return out;
  }();
  return entries;
}

// 4096 entries whose HBA, path and target ids all reach 255: a grid of 2^24
// cells per name that only the builder can take on.
const std::vector<ScsiInfo>& WideEntries() {
  static const std::vector<ScsiInfo> entries = [] {
    std::mt19937 rng(255);
    std::uniform_int_distribution<uint32_t> id(0, 255);
    const std::vector<std::string> names = {"scsi0", "atapi", "ESDI_506", "aic78xx"};
    std::vector<ScsiInfo> out;
    for (int i = 0; i < 4096; ++i) {
      out.push_back(kst::test::Entry(id(rng), id(rng), id(rng), 0, names[i % 4]));
    }
    return out;
  }();
  return entries;
}

void BM_NumberDevicesNT(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kst::NumberDevicesNT(SpreadEntries()));
}
BENCHMARK(BM_NumberDevicesNT)->Unit(benchmark::kMicrosecond);

void BM_ReferenceGridWalk(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(kst::test::ReferenceGridWalk(SpreadEntries()));
  }
}
BENCHMARK(BM_ReferenceGridWalk)->Unit(benchmark::kMillisecond);

void BM_NumberDevicesNTWideIds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kst::NumberDevicesNT(WideEntries()));
}
BENCHMARK(BM_NumberDevicesNTWideIds)->Unit(benchmark::kMicrosecond);

// Passes every run on to the console and keeps its time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        seconds_[run.run_name.function_name] = run.GetAdjustedRealTime() /
                                               benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Seconds(const std::string& name) const {
    auto it = seconds_.find(name);
    return it == seconds_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double builder = reporter.Seconds("BM_NumberDevicesNT");
  double reference = reporter.Seconds("BM_ReferenceGridWalk");
  if (builder > 0 && reference > 0) {
    std::printf("reference grid walk / builder, 4096 entries: %.0fx (builder %.1f us, "
                "grid walk %.1f ms)\n",
                reference / builder, builder * 1e6, reference * 1e3);
  }
  benchmark::Shutdown();
  return 0;
}
