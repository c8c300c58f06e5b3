#pragma once
// A whole application core over the emulated device, on either transport, with helpers that
// choose images, fonts and boot code: the upgrade job's tests, its fault property and soak.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/in_memory_profile_store.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/sample_images.h"
#include "support/link_rig.h"

namespace romsetter::test {

using Lines = std::vector<std::string>;

inline EmulatedDeviceConfig Device(bool nor = false) {
  EmulatedDeviceConfig d;
  if (!nor) d.firmware.addr2 = 0x01000000;  // NAND: flash type 1 in byte 6
  return d;
}

// A whole application core over the emulated device, on either transport.
struct JobRig {
  // `name`: the scratch folder, emptied first; by default one of its own per rig.  `checked`:
  // images checked once before the job, as for several devices.
  explicit JobRig(bool aspiTransport, EmulatedDeviceConfig config = Device(), const std::string& name = "",
                  const CheckedImages* checked = nullptr)
      : device(config), drive(device), library({&device}), aspi(library, 20) {
    static int counter = 0;
    dir = ScratchDir(name.empty() ? Format("job_%s_%d", aspiTransport ? "aspi" : "pt", ++counter) : name);
    PopulateEmulatedRegistry(EmulatorConfig{}, registry);
    process.packageMode = PackageMode::Plain;
    AppPorts ports{window, profile, registry, clock, FixedPaths::UnderFolder(dir)};
    ports.session = aspiTransport ? MakeAspiSession(aspi) : MakeDriveSession(drive);
    ports.checked = checked;
    ports.assumePresent = true;
    core = std::make_unique<AppCore>(ports, process);
    core->StartUp({}, false);
    sel().loadFirmware = false;
    sel().bootPath = sel().bigFirmwarePath = sel().smallFirmwarePath = sel().fontListPath = sel().reportPath = "NONE";
  }

  Selections& sel() { return core->model().selections; }
  void Fail(FaultKind kind, const char* command, long page = -1) {
    device.AddFault({kind, command, page < 0, static_cast<std::uint32_t>(std::max(page, 0L))});
  }
  std::string Save(const std::string& name, const std::vector<std::uint8_t>& data) {
    WriteFile(dir + "/" + name, std::string(data.begin(), data.end()));
    return dir + "/" + name;
  }
  void WithFirmware(std::size_t pages = 8) {
    sel().loadFirmware = true;
    sel().bigFirmwarePath = Save("fw.bin", BalancedImage(pages, 11));
  }
  void WithFonts() {
    sel().loadFont = true;
    Save("A.FNT", PatternBytes(1500, 12));
    WriteFile(sel().fontListPath = dir + "/fonts.tab", dir + "/A.FNT\r\n");
    sel().reportPath = dir + "/fonts.h";
  }
  void WithBoot() {
    sel().norSelected = sel().loadBootCode = true;
    sel().bootPath = Save("boot.bin", BalancedImage(4, 13));
  }

  JobOutcome Run(JobMode mode = JobMode::Upgrade) { return core->Run(mode); }
  int Done() const { return core->doneKinds(); }
  Lines Log() const { return StripNumbers(ReadLines(dir + "/Romsetter.log")); }
  Lines Messages() const {
    Lines out;
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
