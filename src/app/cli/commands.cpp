#include "app/cli/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

#include "app/activity_log.h"
#include "device/identification_entries.h"
#include "package/font_list.h"
#include "package/package_builder.h"
#include "package/unpack.h"

namespace romsetter {

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

namespace {

// The identification a package carries: what discovery matched on the device when one is
// given, else entry 0 of the settings file.
PackageIdentity IdentityForPackage(AppCore& core, const AppPorts& ports, bool haveDevice) {
  if (haveDevice) {
    if (std::optional<PackageIdentity> found = core.IdentifyDevice()) return *found;
  }
  const DeviceIdentity id = IdentificationEntries(ports.profile).Entry(0).identity;
  return {id.hardwareId, id.instanceKeyPath, id.inquiryText};
}

}  // namespace

int RunPack(AppCore& core, const AppPorts& ports, const CliOptions& o, CliWindow& window) {
  StdioPackageFiles files(o.program);
  const PackageIdentity identity = IdentityForPackage(core, ports, !o.emulatorConfig.empty() || !o.replay.empty());
  if (!core.BuildPackage(files, identity)) return kExitRefused;
  window.Note("package", core.model().selections.packPath);
  return kExitSuccess;
}

namespace {

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

}  // namespace

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

int RunJobCommand(AppCore& core, const CliOptions& o, CliWindow& window) {
  const JobMode mode = o.command == CliCommand::Extract ? JobMode::Extract
                       : o.dryRun                         ? JobMode::DryRun
                                                          : JobMode::Upgrade;
  const int status = ExitFor(core.Run(mode));
  for (const PlanEntry& entry : core.plan()) window.PlanStep(entry);
  if (o.dryRun && status == kExitSuccess) window.Note("dry-run", "dry run: the upgrade would start; nothing was written");
  return status;
}

}  // namespace romsetter
