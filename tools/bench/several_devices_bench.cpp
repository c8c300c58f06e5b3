// Several devices at once: four emulated devices at 400 us per command, each getting 1 MiB
// of firmware with both backups and 1 MiB of fonts, each by a job on a thread of its own,
// measured side by side with one device alone in the same iteration.  ratio is the four
// devices' wall time over the one device's (goal: at most 1.1); cpu_us_per_page_N is the
// host's CPU time per page written with N devices, which should not grow with N.  The
// devices sleep out their latency here instead of busy-waiting, as a host waits on a real
// device, so the CPU time is the host's own and four waits fit on fewer cores.
#include <benchmark/benchmark.h>

#include "bench/bench_clock.h"

#include <time.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/app_core.h"
#include "app/checked_images.h"
#include "app/in_memory_profile_store.h"
#include "app/null_window.h"
#include "app/cli/concurrency.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/sample_images.h"

namespace romsetter {
namespace {

constexpr std::uint32_t kLatencyUs = 400;
constexpr std::size_t kFirmwarePages = 2048;  // 1 MiB
constexpr std::size_t kFontBytes = 1 << 20;

void Save(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                               static_cast<std::streamsize>(data.size()));
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Select(Selections& s) {
  s.loadFirmware = s.loadFont = s.backupChecked = true;
  s.bigFirmwarePath = "fw.bin";  // relative to the bench folder, the current one
  s.smallFirmwarePath = s.bootPath = "NONE";
  s.fontListPath = "fonts.tab";
  s.reportPath = "FONTS.H";
}

EmulatedDeviceConfig DeviceConfig() {
  EmulatedDeviceConfig c;
  c.firmware = {0x0900, 0x10000, 0x01000000};
  c.backupAddr1 = 0x11000;
  c.backupAddr2 = 0x12000;
  c.font = {0x0900, 0x20000, 0x21000};
  c.latencyUs = kLatencyUs;
  c.latencySleeps = true;
  c.traceData = false;
  return c;
}

// One device and everything its job owns.
struct Job {
  Job(const std::string& dir, int n, const CheckedImages& checked) : device(DeviceConfig()), drive(device) {
    PopulateEmulatedRegistry(EmulatorConfig{}, registry);
    process.packageMode = PackageMode::Plain;
    FixedPaths paths = FixedPaths::UnderFolder(dir);
    paths.logFile = dir + "/Romsetter-" + std::to_string(n) + ".log";
    AppPorts ports{window, profile, registry, clock, paths};
    ports.drive = &drive;
    ports.checked = &checked;
    core = std::make_unique<AppCore>(ports, process);
    core->discovery.WriteIdentificationDefaults();
    Select(core->model.selections);
    core->discovery.SetPresent(true);
  }
  std::size_t PagesWritten() const {
    return device.TraceOf("UPT_WRITE_PAGE").size() + device.TraceOf("FONT_WRITE_PAGE").size();
  }
  EmulatedDevice device;
  EmulatedTransport drive;
  InMemoryDeviceRegistry registry;
  InMemoryProfileStore profile;
  NullWindow window;
  QuietClock clock;
  ProcessState process;
  std::unique_ptr<AppCore> core;
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
  RunConcurrently(count, [&](std::size_t i) { outcomes[i] = jobs[i]->core->RunJob(JobMode::Upgrade); });
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
  const std::string dir = (std::filesystem::temp_directory_path() / "romsetter_several_bench").string();
  std::filesystem::create_directories(dir);
  Save(dir + "/fw.bin", BalancedImage(kFirmwarePages, 1));
  Save(dir + "/A.FNT", PatternBytes(kFontBytes, 2));
  Save(dir + "/fonts.tab", std::vector<std::uint8_t>{'A', '.', 'F', 'N', 'T', '\r', '\n'});
  std::filesystem::current_path(dir);

  // The images are loaded and checked once, by a core whose device is never asked anything.
  EmulatedDeviceConfig absent;
  absent.attached = false;
  EmulatedDevice idle(absent);
  EmulatedTransport idleDrive(idle);
  InMemoryDeviceRegistry registry;
  InMemoryProfileStore profile;
  NullWindow window;
  QuietClock clock;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  AppPorts ports{window, profile, registry, clock, FixedPaths::UnderFolder(dir)};
  ports.drive = &idleDrive;
  AppCore preflight(ports, process);
  Select(preflight.model.selections);
  CheckedImages checked;
  if (PreloadImages(preflight, checked) != JobOutcome::Success) {
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
