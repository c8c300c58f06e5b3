// romsetter-cli: the upgrade job from a terminal, for scripted and headless use.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#define ROMSETTER_ISATTY(f) _isatty(_fileno(f))
#else
#include <sys/stat.h>

#include <csignal>
#include <unistd.h>
#define ROMSETTER_ISATTY(f) isatty(fileno(f))
#endif

#include "app/activity_log.h"
#include "app/app_core.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_recording.h"
#include "app/cli/cli_window.h"
#include "app/cli/multi_run.h"
#include "app/cli/private_folder.h"
#include "app/in_memory_profile_store.h"
#include "app/ini_profile_store.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/font_list.h"
#include "package/package_builder.h"
#include "package/unpack.h"

#ifdef _WIN32
#include "app/win32/instance_guard.h"
#include "app/win32/system_error_text.h"
#include "app/win32/tick_clock.h"
#include "device/win32/nt_device_registry.h"
#include "device/win32/pass_through_transport.h"
#include "device/win32/transport_choice.h"
#include "device/win32/win32_aspi_library.h"
#else
#include "device/linux/sg_io_transport.h"
#include "device/linux/sysfs_discovery.h"
#include "emulator/linux/emulated_sg_io.h"
#endif

namespace romsetter {
namespace {

const char* CommandName(CliCommand command) {
  switch (command) {
    case CliCommand::Upgrade: return "upgrade";
    case CliCommand::Extract: return "extract";
    case CliCommand::Header: return "header";
    case CliCommand::Info: return "info";
    case CliCommand::Pack: return "pack";
    case CliCommand::Unpack: return "unpack";
    case CliCommand::None: break;
  }
  return "";
}

// The memory map, version and product of the device.
int RunInfo(AppCore& core, CliWindow& window) {
  const JobOutcome outcome = core.ReadDeviceInfo();
  if (outcome == JobOutcome::NoDevice) return kExitNoDevice;
  window.Note("version", core.versionLine());
  return outcome == JobOutcome::Success ? kExitSuccess : kExitDeviceFailure;
}

int RunHeader(AppCore& core, const CliOptions& o, CliWindow& window) {
  const JobOutcome outcome = core.WriteFontHeader();
  if (outcome != JobOutcome::Success) return ExitFor(outcome);
  window.Note("written", Format("romsetter-cli: wrote %s and %s", FontDataFileName(o.report).c_str(), o.report.c_str()));
  return kExitSuccess;
}

// The identification a package carries: what discovery matched on the device when one is
// given, else entry 0 of the settings file.
PackageIdentity IdentityForPackage(AppCore& core, const AppPorts& ports, bool haveDevice) {
  if (haveDevice) {
    if (std::optional<PackageIdentity> found = core.IdentifyDevice()) return *found;
  }
  ProfileStore& store = ports.profile;
  return {Format("USBSTOR\\%s", store.Read("HardwareID", "DiskVen_00", "").c_str()),
          Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", store.Read("USBSTOR_SUBKEY", "DiskVen_00", "").c_str()),
          store.Read("DiskVen_98", "DiskVen_00", "")};
}

int RunPack(AppCore& core, const AppPorts& ports, const CliOptions& o, CliWindow& window) {
  StdioPackageFiles files(o.program);
  const PackageIdentity identity = IdentityForPackage(core, ports, !o.emulatorConfig.empty() || !o.replay.empty());
  if (!core.BuildPackage(files, identity)) return kExitRefused;
  window.Note("package", core.model().selections.packPath);
  return kExitSuccess;
}

// The folder unpack writes into, made when it does not exist yet (that folder only, as
// archive tools do); true when it was made here.
bool MakeOutputFolder(const std::string& folder, bool& made, CliWindow& window) {
#ifdef _WIN32
  made = _mkdir(folder.c_str()) == 0;
#else
  made = mkdir(folder.c_str(), 0777) == 0;
#endif
  if (made || errno == EEXIST) return true;
  window.Error(Format("--output-dir %s: the folder cannot be made: %s", folder.c_str(), std::strerror(errno)));
  return false;
}

int RunUnpack(const CliOptions& o, CliWindow& window) {
  bool made = false;
  if (!MakeOutputFolder(o.outputDir, made, window)) return kExitFileNotWritten;
  StdioPackageFiles files(o.package);
  ProcessState process;
  process.applicationName = "romsetter-cli";
  ImageStore images;
  const FixedPaths paths = FixedPaths::UnderFolder(o.outputDir);
  // The terminal only: unpack keeps no log file.
  ActivityLog log("", window);
  const UnpackResult result = UnpackSelf(UnpackPorts{files, window, paths, process, images, &log}, true);
  if (result != UnpackResult::Package && result != UnpackResult::Unwritten && made) {
    std::remove(o.outputDir.c_str());  // nothing was unpacked: the folder made for it goes again
  }
  switch (result) {
    case UnpackResult::Package:
    case UnpackResult::Unwritten: break;
    case UnpackResult::Plain:
      window.Error(Format("%s is a plain program: it carries no package", o.package.c_str()));
      return kExitRefused;
    case UnpackResult::Damaged:
    case UnpackResult::Failed:
      return kExitRefused;  // the reason was shown
  }
  const PackagePreset& p = process.package;
  window.Note("trailer", Format("P=0x%08X B=0x%08X F=0x%08X T=0x%08X S=0x%08X", static_cast<unsigned>(p.programLength),
                                static_cast<unsigned>(p.bigLength), static_cast<unsigned>(p.fontLength),
                                static_cast<unsigned>(p.bootLength), static_cast<unsigned>(p.smallLength)));
  window.Note("settings", Format("NT_DiskVen0=%s", process.presetHardwareId.c_str()));
  window.Note("settings", Format("NT_DiskVen1=%s", process.presetInstanceKeyPath.c_str()));
  window.Note("settings", Format("Win98_DiskVen=%s", process.presetInquiryText.c_str()));
  window.Note("settings", Format("Chk_Format=%d", p.format ? 1 : 0));
  window.Note("settings", Format("Chk_Backup=%d", p.backup ? 1 : 0));
  window.Note("settings", Format("FW_Version=%s", process.fwVersion.c_str()));
  window.Note("settings", Format("FlashType=%s", p.nor ? "NOR" : "NAND"));
  return result == UnpackResult::Unwritten ? kExitFileNotWritten : kExitSuccess;
}

struct Devices {
  std::vector<std::unique_ptr<EmulatedDevice>> all;
  std::vector<EmulatedDevice*> pointers;
};

int RunCommand(const CliOptions& o, CliWindow& window) {
  if (o.command == CliCommand::Unpack) return RunUnpack(o, window);
  std::string error;
  EmulatorConfig config;
  const bool device = !o.emulatorConfig.empty();
  if (device && !LoadEmulatorConfig(o.emulatorConfig, config, error)) {
    window.Error(error);
    return kExitRefused;
  }
  // The flash files are written at the end, and the recording is created next: none may be a
  // file the run reads or writes.
  std::vector<NamedFile> inputs, outputs;
  FilesOfRun(o, inputs, outputs);
  for (const EmulatedDeviceConfig& d : config.devices) {
    outputs.push_back({Format("the flash_file of %s:", o.emulatorConfig.c_str()), d.flashFile});
  }
  if (!FilesApart(inputs, outputs, error)) {
    window.Error(error);
    return kExitRefused;
  }
  CliDeviceTap tap(o, window);
  if (!tap.Load(config)) return kExitRefused;
  if (config.devices.empty()) config.devices.emplace_back();
  if (o.emulatorIndex > static_cast<int>(config.devices.size())) {
    window.Error(Format("--device %s: the scenario has %d devices", o.device.c_str(),
                        static_cast<int>(config.devices.size())));
    return kExitRefused;
  }
  Devices devices;
  for (const EmulatedDeviceConfig& d : config.devices) {
    devices.all.push_back(std::make_unique<EmulatedDevice>(d));
    devices.pointers.push_back(devices.all.back().get());
    if (!devices.all.back()->LoadFlash(error)) {
      window.Error(error);
      return kExitRefused;
    }
  }
  // "CONFIG#N": that device alone, behind the drive and as the only ASPI target.
  EmulatedDevice& chosen = *devices.all[o.emulatorIndex == 0 ? 0 : static_cast<std::size_t>(o.emulatorIndex - 1)];
  EmulatedTransport drive(chosen, config.driveLetter);
  EmulatedAspiLibrary library(o.emulatorIndex == 0 ? devices.pointers : std::vector<EmulatedDevice*>{&chosen},
                              config.adapterCount, config.supportStatus);
  library.SetSignalsCompletion(config.signalCompleted);
  AspiTransport aspi(tap.Library(library));
  InMemoryDeviceRegistry registry;
  PopulateEmulatedRegistry(config, registry);
  InMemoryProfileStore memoryStore;
  std::unique_ptr<IniProfileStore> iniStore;
  if (!o.settingsDir.empty()) {
    iniStore = std::make_unique<IniProfileStore>(o.settingsDir);
    if (!iniStore->Check(error)) {
      window.Error(error);
      return kExitRefused;
    }
  }
#ifdef _WIN32
  TickClock clock;
#else
  SystemClock clock;
#endif

  FixedPaths paths = FixedPaths::UnderFolder(".");
  paths.logFile = o.log;
  paths.extractDefault = o.output.empty() ? paths.extractDefault : o.output;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  process.applicationName = "romsetter-cli";
  process.extractOutputPath = paths.extractDefault;
  PrivateFolder work;
  if (!PlacePackageCopies(o.package, work, paths, window)) return kExitRefused;
  StdioPackageFiles packageFiles(o.package);
  ImageStore packageImages;
  if (!o.package.empty()) {
    // As the package itself starts: its images and settings, the settings file untouched.
    const UnpackResult unpacked = UnpackSelf(UnpackPorts{packageFiles, window, paths, process, packageImages}, false);
    if (unpacked != UnpackResult::Package) {
      // A damaged package or a copy that failed has said so.
      if (unpacked == UnpackResult::Plain) {
        window.Error(Format("%s is a plain program: it carries no package", o.package.c_str()));
      }
      return kExitRefused;
    }
  }

#ifdef _WIN32
  // The device the window would use: the transport follows the system, as the window's does.
  PassThroughTransport realDrive;
  NtDeviceRegistry realRegistry;
  Win32AspiLibrary realLibrary;
  AspiTransport realAspi(tap.Library(realLibrary));
  const bool realAspiChosen = o.realDevice && RealDeviceUsesAspi(o.aspi, o.drive);
  DeviceRegistry& chosenRegistry = o.realDevice ? static_cast<DeviceRegistry&>(realRegistry) : registry;
#else
  DeviceRegistry& chosenRegistry = registry;
  // The emulated device keeps its NT identity (registry entries, drive path), so the run
  // logs what it logs over the emulated pass-through; only the transport is SG_IO.
  EmulatedSgIo emulatedSgIo(chosen, Format("\\\\.\\%c:", config.driveLetter));
  SgIoTransport emulatedSgDrive(emulatedSgIo.Calls());
  SgIoTransport realDrive;
  SysfsDriveLocator locator(SysfsPaths{}, o.node, o.force);
#endif
  AppPorts ports{window, iniStore ? static_cast<ProfileStore&>(*iniStore) : memoryStore, chosenRegistry, clock, paths};
  if (o.aspi) ports.aspi = &aspi;
  else ports.drive = &drive;
#ifdef _WIN32
  if (o.realDevice) {
    ports.aspi = realAspiChosen ? &realAspi : nullptr;
    ports.drive = realAspiChosen ? nullptr : &realDrive;
    ports.errorText = Win32SystemErrorText;
  }
#else
  if (o.sgIo) ports.drive = &emulatedSgDrive;
  if (o.realDevice) {
    ports.drive = &realDrive;
    ports.locator = &locator;
  }
#endif
  if (!tap.Attach(ports, aspi)) return kExitRefused;
#ifdef _WIN32
  DeviceTarget named;
  named.drive = o.drive;
  named.aspiTarget = o.aspiTarget;
  named.adapter = o.adapter;
  named.target = o.target;
  if (o.realDevice) RestrictToNamed(ports, named);
#endif
  ports.assumePresent = true;  // a script asks for the run; the job itself finds out
  AppCore core(ports, process);
#ifdef _WIN32
  if (o.realDevice && realAspiChosen && !LoadAspiLibrary(realLibrary, window)) return kExitNoDevice;
#endif
  // As the Windows program starts: the identification defaults, then every key of the
  // file is read, so the run changes only the keys it is meant to.
  core.StartUp(std::move(packageImages), iniStore != nullptr);
  if (process.InPackageMode()) ApplyPackageSelections(process, core.model().selections);
  else ApplySelections(o, core.model().selections);
  window.SetFileDialogAnswer(o.output.empty() ? std::nullopt : std::optional<std::string>(o.output));

  int status = kExitSuccess;
  if (o.command == CliCommand::Header) return RunHeader(core, o, window);
  if (o.command == CliCommand::Pack) {
    if (o.fwVersionGiven) process.fwVersion = o.fwVersion;
    return tap.Finish(RunPack(core, ports, o, window));
  }
  if (o.command == CliCommand::Info) {
    status = RunInfo(core, window);
  } else {
    const JobMode mode = o.command == CliCommand::Extract ? JobMode::Extract
                         : o.dryRun                         ? JobMode::DryRun
                                                            : JobMode::Upgrade;
    status = ExitFor(core.Run(mode));
    for (const PlanEntry& entry : core.plan()) window.PlanStep(entry);
    if (o.dryRun && status == kExitSuccess) window.Note("dry-run", "dry run: the upgrade would start; nothing was written");
  }
  status = tap.Finish(status);
  // The emulated flash is kept whatever became of the run, as a real device keeps it.
  for (const auto& device : devices.all) {
    if (!device->SaveFlash(error)) {
      window.Error(error);
      if (status == kExitSuccess) status = kExitFileNotWritten;
    }
  }
  return status;
}

int Run(int argc, const char* const* argv) {
  const auto started = std::chrono::steady_clock::now();
#ifndef _WIN32
  // A reader that goes away (`| head`) must not end a job mid-upgrade: a write to the closed
  // pipe fails instead, the job goes on, and its log file and exit status stay complete.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Known before parsing, so even a refused command line answers in the form asked for.
  bool json = false;
  for (int i = 1; i < argc; ++i) json = json || std::strcmp(argv[i], "--json") == 0;
  CliWindow window(stdout, stderr, json ? CliOutput::Json : CliOutput::Plain, ROMSETTER_ISATTY(stderr) != 0);
  window.SetHelpHint(CliHelpHint(argc, argv));

  CliOptions o;
  std::string error;
  std::string printed;
  int status = kExitRefused;
  switch (ParseCliOptions(argc, argv, o, error, printed)) {
    case CliParse::Printed:
      std::fputs(printed.c_str(), stdout);
      return kExitSuccess;
    case CliParse::Refused:
      window.Error(error);
      status = o.refusalStatus;
      break;
    case CliParse::Run: {
#ifdef _WIN32
      // The window's guard: no two copies of either program drive real devices at once.
      std::unique_ptr<InstanceGuard> guard;
      if (std::any_of(o.targets.begin(), o.targets.end(), [](const DeviceTarget& t) { return t.realDevice; }) ||
          o.realDevice) {
        guard = std::make_unique<InstanceGuard>();
        if (!guard->held()) {
          window.Error(kAlreadyRunning);
          status = kExitNoDevice;
          break;
        }
      }
#endif
      status = o.Several() ? RunSeveral(o, window, ROMSETTER_ISATTY(stdin) != 0, ROMSETTER_ISATTY(stderr) != 0)
                           : RunCommand(o, window);
      break;
    }
  }
  window.Result(CommandName(o.command), status,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return status;
}

}  // namespace
}  // namespace romsetter

int main(int argc, char** argv) { return romsetter::Run(argc, argv); }
