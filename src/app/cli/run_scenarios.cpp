#include "app/cli/run_scenarios.h"

#include "base/file_identity.h"
#include "base/format.h"
#include "device/identification_entries.h"

namespace romsetter {
namespace {

// An emulated device as discovery would take it: attached, and its INQUIRY text beginning
// with an identification entry's (the prefix rule of the ASPI scan and of sysfs discovery).
bool EmulatedMatches(const EmulatedDeviceConfig& device, ProfileStore& store, const ProcessState& process) {
  if (!device.attached) return false;
  auto begins = [&](const std::string& text) {
    return !text.empty() && device.inquiry.compare(0, text.size(), text) == 0;
  };
  if (process.InPackageMode()) return begins(process.presetInquiryText);
  const IdentificationEntries entries(store);
  for (int n = 0;; ++n) {
    const IdentificationEntry entry = entries.Entry(n);
    if (entry.identity.inquiryText.empty() && entry.hardwareValue.empty()) return false;
    if (begins(entry.identity.inquiryText)) return true;
  }
}

}  // namespace

// The scenario already read from this file in any spelling, so its devices are one set.
const std::string& RunScenarios::Key(const std::string& path) const {
  for (const auto& [key, scenario] : scenarios_) {
    if (!path.empty() && SameFile(key, path)) return key;
  }
  return path;
}

bool RunScenarios::Read(const std::string& path) {
  if (scenarios_.count(Key(path)) != 0) return true;
  Scenario& s = scenarios_[path];
  std::string error;
  if (!path.empty() && !LoadEmulatorConfig(path, s.config, error)) {
    window_.Error(error);
    return false;
  }
  return true;
}

EmulatorConfig& RunScenarios::Config(const std::string& path) { return scenarios_[Key(path)].config; }

RunScenarios::Scenario& RunScenarios::Made(const std::string& path) {
  Scenario& s = scenarios_[Key(path)];
  if (s.devices.empty()) {
    if (s.config.devices.empty()) s.config.devices.emplace_back();
    for (const EmulatedDeviceConfig& d : s.config.devices) s.devices.push_back(std::make_unique<EmulatedDevice>(d));
  }
  return s;
}

bool RunScenarios::Load(const std::string& path) {
  Scenario& s = Made(path);
  if (s.loaded) return true;
  s.loaded = true;
  std::string error;
  for (const auto& device : s.devices) {
    if (!device->LoadFlash(error)) {
      window_.Error(error);
      return false;
    }
  }
  return true;
}

std::vector<EmulatedDevice*> RunScenarios::Devices(const std::string& path) {
  std::vector<EmulatedDevice*> all;
  for (const auto& device : Made(path).devices) all.push_back(device.get());
  return all;
}

bool RunScenarios::Add(const DeviceTarget& t, int index, std::vector<JobDevice>& devices) {
  Scenario& s = Made(t.emulatorConfig);
  if (index > static_cast<int>(s.devices.size())) {
    window_.Error(Format("--device %s: the scenario has %d devices", t.text.c_str(), static_cast<int>(s.devices.size())));
    return false;
  }
  JobDevice job;
  job.name = Format("%s:%s#%d", t.sgIo ? "emulator-sgio" : "emulator", t.emulatorConfig.c_str(), index);
  job.tag = Format("%s-%d", FileStem(t.emulatorConfig).c_str(), index);
  job.emulated = s.devices[static_cast<std::size_t>(index - 1)].get();
  job.driveLetter = s.config.driveLetter;
  job.adapters = s.config.adapterCount;
  job.support = s.config.supportStatus;
  job.signalCompleted = s.config.signalCompleted;
  job.sgIo = t.sgIo;
  job.useAspi = t.aspi;
  for (const JobDevice& other : devices) {
    if (other.emulated == job.emulated) {
      window_.Error(Format("%s is named twice", job.name.c_str()));
      return false;
    }
  }
  devices.push_back(job);
  return true;
}

bool RunScenarios::AddMatching(const DeviceTarget& t, ProfileStore& store, const ProcessState& process,
                               std::vector<JobDevice>& devices) {
  const Scenario& s = scenarios_[Key(t.emulatorConfig)];
  for (std::size_t i = 0; i < s.devices.size(); ++i) {
    if (EmulatedMatches(s.config.devices[i], store, process) && !Add(t, static_cast<int>(i) + 1, devices)) return false;
  }
  return true;
}

void RunScenarios::AddOutputs(std::vector<NamedFile>& outputs) const {
  for (const auto& [path, scenario] : scenarios_) {
    for (const EmulatedDeviceConfig& d : scenario.config.devices) {
      outputs.push_back({Format("the flash_file of %s:", path.c_str()), d.flashFile});
    }
  }
}

int RunScenarios::Save(int status) {
  std::string error;
  for (auto& [path, scenario] : scenarios_) {
    for (const auto& device : scenario.devices) {
      if (!device->SaveFlash(error)) {
        window_.Error(error);
        if (status == kExitSuccess) status = kExitFileNotWritten;
      }
    }
  }
  return status;
}

}  // namespace romsetter
