// A whole emulated upgrade: 1 MiB of firmware with its two backups and 1 MiB of fonts, over
// pass-through, with 400 us per device command.  overhead_pct is the job's time beyond
// commands x latency; the goal is under 1 %.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "bench/upgrade_workload.h"

namespace romsetter {
namespace {

void WholeUpgrade(benchmark::State& state) {
  const std::string dir = PrepareWorkload("romsetter_upgrade_bench");

  double measured = 0;
  double ideal = 0;
  std::size_t commands = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto upgrade = std::make_unique<BenchJob>(WorkloadDevice(), FixedPaths::UnderFolder(dir));
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (upgrade->core->Run(JobMode::Upgrade) != JobOutcome::Success) {
      state.SkipWithError("upgrade failed");
      break;
    }
    measured += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    commands = upgrade->device.trace().size();
    ideal += static_cast<double>(commands) * kLatencyUs * 1e-6;
    upgrade.reset();
    state.ResumeTiming();
  }
  state.counters["commands"] = static_cast<double>(commands);
  state.counters["ideal_s"] = ideal / static_cast<double>(state.iterations());
  state.counters["overhead_pct"] = ideal > 0 ? (measured - ideal) / ideal * 100.0 : 0.0;
}
BENCHMARK(WholeUpgrade)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
