// Cost of the verified page loop: the firmware and its two backups (three copies of a
// 4096-page image) written over pass-through to the emulated device.
//   ProgramNoLatency    host time per verified page, the device answering at once
//   ProgramWithLatency  the same with 400 us per command; overhead_pct is the time spent
//                       beyond commands x latency, the goal being under 1 %
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "app/activity_log.h"
#include "app/null_window.h"
#include "emulator/emulated_transport.h"
#include "flash/flash_programmer.h"

namespace romsetter {
namespace {

constexpr std::uint32_t kImagePages = 4096;
constexpr std::uint32_t kCopies = 3;
constexpr std::uint32_t kLatencyUs = 400;

class QuietClock final : public Clock {
 public:
  std::uint32_t NowSeconds() override { return 0; }
  void SleepMs(std::uint32_t) override {}
};

// One fresh device and everything the programmer needs.
struct Bench {
  explicit Bench(std::uint32_t latencyUs) : device(Config(latencyUs)), drive(device) {
    std::vector<std::uint8_t> image(std::size_t{kImagePages} * kPageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / kPageSize);
    images.Replace(ImageSlot::BigFirmware, std::move(image));
    std::uint32_t error = 0;
    drive.OpenDrive("\\\\.\\E:", error);
    link.imagePages.bigImagePages = kImagePages;
    MemoryMap& map = link.memoryMap;
    map.flashType = 1;
    map.fwSize = 0x1000;
    map.fwAddr1 = 0x10000;
    map.backupAddr1 = 0x11000;
    map.backupAddr2 = 0x12000;
  }

  static EmulatedDeviceConfig Config(std::uint32_t latencyUs) {
    EmulatedDeviceConfig c;
    c.firmware = {0x1000, 0x10000, 0};
    c.backupAddr1 = 0x11000;
    c.backupAddr2 = 0x12000;
    c.latencyUs = latencyUs;
    c.traceData = false;
    return c;
  }

  bool Run() {
    FlashProgrammer programmer(context);
    return programmer.ProgramImage(kImageFirmware) && programmer.ProgramImage(kImageBackup);
  }

  EmulatedDevice device;
  EmulatedTransport drive;
  NullWindow window;
  ActivityLog log{(std::filesystem::temp_directory_path() / "romsetter_bench.log").string(), window};
  Selections selections;
  DeviceLink link{drive, log, window, selections};
  ImageStore images;
  QuietClock clock;
  ProcessState process;
  FixedPaths paths;
  FlashContext context{link, images, clock, process, paths};
};

// Wall time of one run of the three copies; set-up and tear-down are left out.
double TimedRun(benchmark::State& state, std::uint32_t latencyUs, std::size_t& commands) {
  state.PauseTiming();
  auto bench = std::make_unique<Bench>(latencyUs);
  state.ResumeTiming();
  const auto start = std::chrono::steady_clock::now();
  if (!bench->Run()) state.SkipWithError("programming failed");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.PauseTiming();
  commands = bench->device.trace().size();
  bench.reset();
  state.ResumeTiming();
  return seconds;
}

void ProgramNoLatency(benchmark::State& state) {
  double measured = 0;
  std::size_t commands = 0;
  for (auto _ : state) measured += TimedRun(state, 0, commands);
  const double pages = double{kImagePages} * kCopies * static_cast<double>(state.iterations());
  state.counters["commands"] = static_cast<double>(commands);
  state.counters["us_per_page"] = measured / pages * 1e6;
}
BENCHMARK(ProgramNoLatency)->Unit(benchmark::kMillisecond)->UseRealTime();

void ProgramWithLatency(benchmark::State& state) {
  double measured = 0;
  double ideal = 0;
  std::size_t commands = 0;
  for (auto _ : state) {
    measured += TimedRun(state, kLatencyUs, commands);
    ideal += static_cast<double>(commands) * kLatencyUs * 1e-6;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["commands"] = static_cast<double>(commands);
  state.counters["ideal_s"] = ideal / runs;
  state.counters["host_us_per_command"] = commands > 0 ? (measured - ideal) / runs / static_cast<double>(commands) * 1e6 : 0;
  state.counters["overhead_pct"] = ideal > 0 ? (measured - ideal) / ideal * 100.0 : 0.0;
}
BENCHMARK(ProgramWithLatency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
