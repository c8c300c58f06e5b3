#pragma once
// The upgrade the job benchmarks measure: 1 MiB of firmware with both backups and 1 MiB of
// fonts, on an emulated device at 400 us per command, and one application core per device.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/in_memory_profile_store.h"
#include "app/null_window.h"
#include "bench/bench_clock.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/sample_images.h"

namespace romsetter {

constexpr std::uint32_t kLatencyUs = 400;
constexpr std::size_t kFirmwarePages = 2048;  // 1 MiB
constexpr std::size_t kFontBytes = 1 << 20;

// Writes the images into a folder of the system's temporary one named `name` and makes it
// the current folder, as the selections name the files relative to it.
inline std::string PrepareWorkload(const std::string& name) {
  const std::string dir = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::create_directories(dir);
  auto save = [&](const char* file, const std::vector<std::uint8_t>& data) {
    std::ofstream(dir + "/" + file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  };
  save("fw.bin", BalancedImage(kFirmwarePages, 1));
  save("A.FNT", PatternBytes(kFontBytes, 2));
  save("fonts.tab", std::vector<std::uint8_t>{'A', '.', 'F', 'N', 'T', '\r', '\n'});
  std::filesystem::current_path(dir);
  return dir;
}

inline void SelectWorkload(Selections& s) {
  s.loadFirmware = s.loadFont = s.backupChecked = true;
  s.bigFirmwarePath = "fw.bin";  // relative to the bench folder, the current one
  s.smallFirmwarePath = s.bootPath = "NONE";
  s.fontListPath = "fonts.tab";
  s.reportPath = "FONTS.H";
}

inline EmulatedDeviceConfig WorkloadDevice() {
  EmulatedDeviceConfig c;
  c.firmware = {0x0900, 0x10000, 0x01000000};
  c.backupAddr1 = 0x11000;
  c.backupAddr2 = 0x12000;
  c.font = {0x0900, 0x20000, 0x21000};
  c.latencyUs = kLatencyUs;
  c.traceData = false;
  return c;
}

// One emulated device over pass-through and the core that upgrades it.
struct BenchJob {
  BenchJob(EmulatedDeviceConfig config, const FixedPaths& paths, const CheckedImages* checked = nullptr)
      : device(config), drive(device) {
    PopulateEmulatedRegistry(EmulatorConfig{}, registry);
    process.packageMode = PackageMode::Plain;
    AppPorts ports{window, profile, registry, clock, paths};
    ports.session = MakeDriveSession(drive);
    ports.checked = checked;
    ports.assumePresent = true;
    core = std::make_unique<AppCore>(ports, process);
    core->StartUp({}, false);
    SelectWorkload(core->model().selections);
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

}  // namespace romsetter
