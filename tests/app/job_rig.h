#pragma once
// A whole application core over the emulated device, on either transport.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/in_memory_profile_store.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/sample_images.h"
#include "support/test_support.h"

namespace romsetter::test {

inline EmulatedDeviceConfig NandDevice() {
  EmulatedDeviceConfig d;
  d.firmware = {0x0100, 0x1000, 0x01000000};  // flash type 1 in byte 6
  d.backupAddr1 = 0x2000;
  d.backupAddr2 = 0x3000;
  d.font = {0x0040, 0x4000, 0x5000};
  d.boot = {0x0020, 0x0100, 0x0200};
  return d;
}

inline EmulatedDeviceConfig NorDevice() {
  EmulatedDeviceConfig d = NandDevice();
  d.firmware = {0x0100, 0x1000, 0};
  return d;
}

inline EmulatorFault Fault(FaultKind kind, const std::string& command, long page = -1) {
  EmulatorFault f;
  f.kind = kind;
  f.command = command;
  if (page >= 0) {
    f.anyPage = false;
    f.page = static_cast<std::uint32_t>(page);
  }
  return f;
}

struct JobRig {
  explicit JobRig(bool aspiTransport, EmulatedDeviceConfig config = NandDevice())
      : device(config), drive(device), library({&device}), aspi(library, 20) {
    dir = ScratchDir(Format("job_%s_%d", aspiTransport ? "aspi" : "pt", ++Counter()));
    EmulatorConfig scenario;
    PopulateEmulatedRegistry(scenario, registry);
    process.packageMode = PackageMode::Plain;
    AppPorts ports{window, profile, registry, clock, FixedPaths::UnderFolder(dir)};
    if (aspiTransport) ports.aspi = &aspi;
    else ports.drive = &drive;
    core = std::make_unique<AppCore>(ports, process);
    core->discovery.WriteIdentificationDefaults();
    Selections& s = sel();
    s.loadFirmware = false;
    s.bootPath = s.bigFirmwarePath = s.smallFirmwarePath = s.fontListPath = s.reportPath = "NONE";
    core->link->devicePresent = true;
  }
  static int& Counter() {
    static int n = 0;
    return n;
  }

  Selections& sel() { return core->model.selections; }
  std::string Save(const std::string& name, const std::vector<std::uint8_t>& data) {
    const std::string path = dir + "/" + name;
    WriteFile(path, std::string(data.begin(), data.end()));
    return path;
  }
  void WithFirmware(std::size_t pages = 8) {
    sel().loadFirmware = true;
    sel().bigFirmwarePath = Save("fw.bin", BalancedImage(pages, 11));
  }
  void WithFonts(std::size_t bytes = 1500) {
    sel().loadFont = true;
    Save("A.FNT", PatternBytes(bytes, 12));
    WriteFile(dir + "/fonts.tab", dir + "/A.FNT\r\n");
    sel().fontListPath = dir + "/fonts.tab";
    sel().reportPath = dir + "/fonts.h";
  }
  void WithBoot(std::size_t pages = 4) {
    sel().norSelected = true;
    sel().loadBootCode = true;
    sel().bootPath = Save("boot.bin", BalancedImage(pages, 13));
  }

  JobOutcome Run(JobMode mode = JobMode::Upgrade) { return core->RunJob(mode); }
  std::vector<std::string> Lines() const { return StripNumbers(ReadLines(dir + "/Romsetter.log")); }
  bool Logged(const std::string& text) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& m : window.messages) out.push_back(m.caption + ": " + m.text);
    return out;
  }
  std::size_t Count(const std::string& command) const { return device.TraceOf(command).size(); }

  EmulatedDevice device;
  EmulatedTransport drive;
  EmulatedAspiLibrary library;
  AspiTransport aspi;
  InMemoryDeviceRegistry registry;
  InMemoryProfileStore profile;
  RecordingWindow window;
  FakeClock clock;
  std::string dir;
  ProcessState process;
  std::unique_ptr<AppCore> core;
};

}  // namespace romsetter::test
