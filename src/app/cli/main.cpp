// romsetter-cli: the upgrade job from a terminal, for scripted and headless use.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define ROMSETTER_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define ROMSETTER_ISATTY(f) isatty(fileno(f))
#endif

#include "app/app_core.h"
#include "app/cli/cli_options.h"
#include "app/console_window.h"
#include "app/in_memory_profile_store.h"
#include "app/ini_profile_store.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"

namespace romsetter {
namespace {

int Refuse(const std::string& error) {
  std::fprintf(stderr, "romsetter-cli: %s\n%s", error.c_str(), CliUsage());
  return kExitRefused;
}

int ExitFor(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Success: return kExitSuccess;
    case JobOutcome::Refused: return kExitRefused;
    case JobOutcome::NoDevice: return kExitNoDevice;
    case JobOutcome::DeviceFailure: return kExitDeviceFailure;
    case JobOutcome::FileFailed: return kExitFileNotWritten;
  }
  return kExitDeviceFailure;
}

void ApplySelections(const CliOptions& o, Selections& s) {
  auto nameOr = [](const std::string& path) { return path.empty() ? std::string("NONE") : path; };
  s.norSelected = o.nor;
  s.formatChecked = o.format;
  s.backupChecked = o.backup;
  s.loadBootCode = !o.boot.empty();
  s.loadFirmware = !o.firmware.empty() || !o.smallFirmware.empty();
  s.loadFont = !o.fontList.empty();
  s.bootPath = nameOr(o.boot);
  s.bigFirmwarePath = nameOr(o.firmware);
  s.smallFirmwarePath = nameOr(o.smallFirmware);
  s.fontListPath = nameOr(o.fontList);
  s.reportPath = nameOr(o.report);
}

// The memory map, version and product of the device.
int RunInfo(AppCore& core, const AppPorts& ports) {
  const ImagePageCounts all{1, 1, 1, 1};  // so no query refuses for want of an image
  const bool nor = core.model.selections.norSelected;
  bool ok = true;
  auto queryAll = [&] {
    for (RegionQuery q : {RegionQuery::Firmware, RegionQuery::Boot, RegionQuery::Font, RegionQuery::Backup}) {
      ok = core.memory.GetMemInfo(q, all, nor) && ok;
    }
  };
  if (AspiTransport* aspi = ports.aspi) {
    aspi->BeginJob();
    const bool found = aspi->Available() && aspi->CreateEvent() && core.discovery.ScanAspiTargets();
    if (!found) {
      aspi->EndJob();
      return kExitNoDevice;
    }
    core.discovery.SetPresent(true);
    queryAll();
    aspi->EndJob();
    core.discovery.QueryProduct(nor);
  } else {
    if (!core.discovery.OpenDev(true)) return kExitNoDevice;
    core.discovery.SetPresent(true);
    queryAll();
    core.discovery.QueryProduct(nor);
    ports.drive->CloseDrive();
  }
  std::printf("%s\n", core.discovery.versionLine().c_str());
  return ok ? kExitSuccess : kExitDeviceFailure;
}

int Run(int argc, const char* const* argv) {
  CliOptions o;
  std::string error;
  if (!ParseCliOptions(argc, argv, o, error)) return Refuse(error);

  ConsoleWindow window(stdout, stderr, ROMSETTER_ISATTY(stderr) != 0);
  EmulatorConfig config;
  if (o.command != CliCommand::Header && !LoadEmulatorConfig(o.emulatorConfig, config, error)) return Refuse(error);
  if (config.devices.empty()) config.devices.emplace_back();

  std::vector<std::unique_ptr<EmulatedDevice>> devices;
  std::vector<EmulatedDevice*> aspiDevices;
  for (const EmulatedDeviceConfig& d : config.devices) {
    devices.push_back(std::make_unique<EmulatedDevice>(d));
    aspiDevices.push_back(devices.back().get());
  }
  EmulatedTransport drive(*devices.front(), config.driveLetter);
  EmulatedAspiLibrary library(aspiDevices, config.adapterCount, config.supportStatus);
  AspiTransport aspi(library);
  InMemoryDeviceRegistry registry;
  PopulateEmulatedRegistry(config, registry);
  InMemoryProfileStore memoryStore;
  std::unique_ptr<IniProfileStore> iniStore;
  if (!o.settingsDir.empty()) iniStore = std::make_unique<IniProfileStore>(o.settingsDir);
  SystemClock clock;

  FixedPaths paths = FixedPaths::UnderFolder(".");
  paths.logFile = o.log;
  paths.extractDefault = o.output.empty() ? paths.extractDefault : o.output;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  process.applicationName = "romsetter-cli";
  process.extractOutputPath = paths.extractDefault;

  AppPorts ports{window, iniStore ? static_cast<ProfileStore&>(*iniStore) : memoryStore, registry, clock, paths};
  if (o.aspi) ports.aspi = &aspi;
  else ports.drive = &drive;
  AppCore core(ports, process);
  ApplySelections(o, core.model.selections);
  window.SetFileDialogAnswer(o.output.empty() ? std::nullopt : std::optional<std::string>(o.output));

  if (o.command == CliCommand::Header) {
    return core.fonts.FontListLoader() && core.fonts.HeaderReport() ? kExitSuccess : kExitRefused;
  }
  core.discovery.WriteIdentificationDefaults();
  if (o.command == CliCommand::Info) return RunInfo(core, ports);
  core.discovery.SetPresent(true);  // a script asks for the run; the job itself finds out
  return ExitFor(core.RunJob(o.command == CliCommand::Extract ? JobMode::Extract : JobMode::Upgrade));
}

}  // namespace
}  // namespace romsetter

int main(int argc, char** argv) { return romsetter::Run(argc, argv); }
