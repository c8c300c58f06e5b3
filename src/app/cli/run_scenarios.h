#pragma once
// The emulated devices of a romsetter-cli run: every scenario file its --device options name,
// each read once in whatever spelling, and the devices' flash files.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "app/cli/device_wiring.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "emulator/emulated_device.h"

namespace romsetter {

class RunScenarios {
 public:
  explicit RunScenarios(CliWindow& window) : window_(window) {}

  // Reads the scenario `path` names (none: an empty path, one device of the defaults).  False
  // with the reason shown.
  bool Read(const std::string& path);
  // The scenario as read; replay may still point its drive elsewhere.
  EmulatorConfig& Config(const std::string& path);
  // Its devices' flash files read (once).  False with the reason shown.
  bool Load(const std::string& path);
  // Appends the `index`-th device (from 1; its scenario holding one when it names none) of `t`'s scenario; false with the refusal shown.
  bool Add(const DeviceTarget& t, int index, std::vector<JobDevice>& devices);
  // With --all: every attached device of `t`'s scenario that discovery would take.
  bool AddMatching(const DeviceTarget& t, ProfileStore& store, const ProcessState& process,
                   std::vector<JobDevice>& devices);
  // Every device of the scenario `path`, for an ASPI scan that finds them all.
  std::vector<EmulatedDevice*> Devices(const std::string& path);

  // The flash files, which the run writes at its end.
  void AddOutputs(std::vector<NamedFile>& outputs) const;
  // Keeps every emulated flash whatever became of the run, as a real device keeps it; a flash
  // not written makes a successful `status` a file failure.
  int Save(int status);

 private:
  struct Scenario {
    EmulatorConfig config;
    std::vector<std::unique_ptr<EmulatedDevice>> devices;
    bool loaded = false;
  };
  // The scenario with its devices made (one when it names none).
  Scenario& Made(const std::string& path);
  const std::string& Key(const std::string& path) const;

  CliWindow& window_;
  std::map<std::string, Scenario> scenarios_;
};

}  // namespace romsetter
