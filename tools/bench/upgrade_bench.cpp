// A whole emulated upgrade: 1 MiB of firmware with its two backups and 1 MiB of fonts, over
// pass-through, with 400 us per device command.  overhead_pct is the job's time beyond
// commands x latency; the goal is under 1 %.
#include <benchmark/benchmark.h>

#include "bench/bench_clock.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/app_core.h"
#include "app/in_memory_profile_store.h"
#include "app/null_window.h"
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

struct Upgrade {
  explicit Upgrade(const std::string& dir) : device(Config()), drive(device) {
    PopulateEmulatedRegistry(EmulatorConfig{}, registry);
    process.packageMode = PackageMode::Plain;
    AppPorts ports{window, profile, registry, clock, FixedPaths::UnderFolder(dir)};
    ports.drive = &drive;
    core = std::make_unique<AppCore>(ports, process);
    core->discovery.WriteIdentificationDefaults();
    Selections& s = core->model.selections;
    s.loadFirmware = s.loadFont = s.backupChecked = true;
    // Names relative to the bench folder, which is the current one.
    s.bigFirmwarePath = "fw.bin";
    s.smallFirmwarePath = s.bootPath = "NONE";
    s.fontListPath = "fonts.tab";
    s.reportPath = "FONTS.H";
    core->discovery.SetPresent(true);
  }
  static EmulatedDeviceConfig Config() {
    EmulatedDeviceConfig c;
    c.firmware = {0x0900, 0x10000, 0x01000000};
    c.backupAddr1 = 0x11000;
    c.backupAddr2 = 0x12000;
    c.font = {0x0900, 0x20000, 0x21000};
    c.latencyUs = kLatencyUs;
    c.traceData = false;
    return c;
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

void WholeUpgrade(benchmark::State& state) {
  const std::string dir = (std::filesystem::temp_directory_path() / "romsetter_upgrade_bench").string();
  std::filesystem::create_directories(dir);
  Save(dir + "/fw.bin", BalancedImage(kFirmwarePages, 1));
  Save(dir + "/A.FNT", PatternBytes(kFontBytes, 2));
  Save(dir + "/fonts.tab", std::vector<std::uint8_t>{'A', '.', 'F', 'N', 'T', '\r', '\n'});
  std::filesystem::current_path(dir);

  double measured = 0;
  double ideal = 0;
  std::size_t commands = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto upgrade = std::make_unique<Upgrade>(dir);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (upgrade->core->RunJob(JobMode::Upgrade) != JobOutcome::Success) {
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
