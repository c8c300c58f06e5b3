// Several devices at once: four emulated devices at 400 us per command, each getting 1 MiB
// of firmware with both backups and 1 MiB of fonts, each by a job on a thread of its own,
// measured side by side with one device alone in the same iteration.  ratio is the four
// devices' wall time over the one device's (goal: at most 1.1); cpu_us_per_page_N is the
// host's CPU time per page written with N devices, which should not grow with N.  The
// devices sleep out their latency here instead of busy-waiting, as a host waits on a real
// device, so the CPU time is the host's own and four waits fit on fewer cores.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>

#include "app/checked_images.h"
#include "app/cli/concurrency.h"
#include "bench/upgrade_workload.h"

namespace romsetter {
namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

EmulatedDeviceConfig DeviceConfig() {
  EmulatedDeviceConfig c = WorkloadDevice();
  c.latencySleeps = true;
  return c;
}

// One device and everything its job owns, with its own log.
struct Job : BenchJob {
  Job(const std::string& dir, int n, const CheckedImages& checked)
      : BenchJob(DeviceConfig(), Paths(dir, n), &checked) {}
  static FixedPaths Paths(const std::string& dir, int n) {
    FixedPaths paths = FixedPaths::UnderFolder(dir);
    paths.logFile = dir + "/Romsetter-" + std::to_string(n) + ".log";
    return paths;
  }
  std::size_t PagesWritten() const {
    return device.TraceOf("UPT_WRITE_PAGE").size() + device.TraceOf("FONT_WRITE_PAGE").size();
  }
};

struct Measured {
  double wall = 0;
  double cpuPerPage = 0;
  bool ok = true;
};

Measured RunDevices(const std::string& dir, std::size_t count, const CheckedImages& checked) {
  std::vector<std::unique_ptr<Job>> jobs;
  for (std::size_t i = 0; i < count; ++i) jobs.push_back(std::make_unique<Job>(dir, static_cast<int>(i), checked));
  std::vector<JobOutcome> outcomes(count, JobOutcome::NoDevice);
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  RunConcurrently(count, [&](std::size_t i) { outcomes[i] = jobs[i]->core->Run(JobMode::Upgrade); });
  Measured m;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuUsed = CpuSeconds() - cpu;
  std::size_t pages = 0;
  for (std::size_t i = 0; i < count; ++i) {
    m.ok = m.ok && outcomes[i] == JobOutcome::Success;
    pages += jobs[i]->PagesWritten();
  }
  m.cpuPerPage = pages == 0 ? 0 : cpuUsed / static_cast<double>(pages);
  return m;
}

void FourDevicesBesideOne(benchmark::State& state) {
  const std::string dir = PrepareWorkload("romsetter_several_bench");

  // The images are loaded and checked once, by a core whose device is never asked anything.
  EmulatedDeviceConfig absent;
  absent.attached = false;
  BenchJob preflight(absent, FixedPaths::UnderFolder(dir));
  CheckedImages checked;
  if (PreloadImages(*preflight.core, checked) != JobOutcome::Success) {
    state.SkipWithError("the images were refused");
    return;
  }

  Measured one, four;
  for (auto _ : state) {
    one = RunDevices(dir, 1, checked);
    four = RunDevices(dir, 4, checked);
    if (!one.ok || !four.ok) {
      state.SkipWithError("an upgrade failed");
      return;
    }
  }
  state.counters["one_s"] = one.wall;
  state.counters["four_s"] = four.wall;
  state.counters["ratio"] = four.wall / one.wall;
  state.counters["cpu_us_per_page_1"] = one.cpuPerPage * 1e6;
  state.counters["cpu_us_per_page_4"] = four.cpuPerPage * 1e6;
}
BENCHMARK(FourDevicesBesideOne)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
