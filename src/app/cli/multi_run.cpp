#include "app/cli/multi_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/checked_images.h"
#include "app/in_memory_profile_store.h"
#include "app/ini_profile_store.h"
#include "app/cli/concurrency.h"
#include "app/cli/private_folder.h"
#include "base/file_identity.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "package/unpack.h"

#ifdef _WIN32
#include "app/win32/system_error_text.h"
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

std::string DeviceLogName(const std::string& log, const std::string& tag) {
  const std::size_t slash = log.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = log.find_last_of('.');
  const std::size_t cut = dot == std::string::npos || dot <= nameStart ? log.size() : dot;
  return log.substr(0, cut) + "-" + tag + log.substr(cut);
}

#ifdef _WIN32
bool RealDeviceUsesAspi(bool aspi, char drive) {
  if (drive != 0) return false;  // a drive letter is reached through pass-through
  std::uint32_t platform = 0;
  return aspi || !SystemPlatformId(platform) || platform != kPlatformWin32Nt;
}
#endif

void RestrictToNamed(AppPorts& ports, const DeviceTarget& named) {
  if (named.drive != 0) ports.onlyDrive = named.drive;
  if (named.aspiTarget) ports.onlyTarget = ScsiTarget{named.adapter, named.target};
}

namespace {

std::string StemOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

struct Scenario {
  EmulatorConfig config;
  std::vector<std::unique_ptr<EmulatedDevice>> devices;
};

// One device of the run and everything its job owns: nothing here is shared with another
// job but the checked images the core points to.
struct DeviceJob {
  std::string name;  // as the list, the table and the JSON objects name it
  std::string tag;   // in its log file's name
  EmulatedDevice* emulated = nullptr;
  char driveLetter = 'E';
  std::uint8_t adapters = 1;  // the scenario's ASPI support information
  std::uint8_t support = 1;
  bool sgIo = false;
  bool useAspi = false;  // reached through ASPI
  bool signalCompleted = true;
  std::string node;
  DeviceTarget real;  // Windows: the drive or ASPI target discovery is restricted to

  InMemoryDeviceRegistry registry;
  InMemoryProfileStore profile;
  SystemClock clock;
  ProcessState process;
  std::unique_ptr<CliWindow> window;
  std::unique_ptr<EmulatedTransport> drive;
  std::unique_ptr<EmulatedAspiLibrary> library;
  std::unique_ptr<AspiTransport> aspi;
#ifdef _WIN32
  std::unique_ptr<PassThroughTransport> passThrough;
  std::unique_ptr<NtDeviceRegistry> ntRegistry;
#else
  std::unique_ptr<EmulatedSgIo> sgIoDevice;
  std::unique_ptr<SgIoTransport> sgDrive;
  std::unique_ptr<SysfsDriveLocator> locator;
#endif
  std::unique_ptr<AppCore> core;
  JobOutcome outcome = JobOutcome::NoDevice;
  double seconds = 0;
};

// Each job reads the identification entries from a copy of its own; what a job writes
// stays in its copy (the settings file itself was written once, before the devices).
void CopyIdentification(ProfileStore& from, InMemoryProfileStore& to) {
  to.Write("Environment", "IniVersion", from.Read("Environment", "IniVersion", ""));
  for (int n = 0;; ++n) {
    const std::string key = Format("DiskVen_%02d", n);
    bool any = false;
    for (const char* section : {"HardwareID", "USBSTOR_SUBKEY", "DiskVen_98"}) {
      const std::string value = from.Read(section, key, "");
      if (!value.empty()) {
        to.Write(section, key, value);
        any = true;
      }
    }
    if (!any) break;
  }
}

// An emulated device as discovery would take it: attached, and its INQUIRY text beginning
// with an identification entry's (the prefix rule of the ASPI scan and of sysfs discovery).
bool EmulatedMatches(const EmulatedDeviceConfig& device, ProfileStore& store, const ProcessState& process) {
  if (!device.attached) return false;
  auto begins = [&](const std::string& text) {
    return !text.empty() && device.inquiry.compare(0, text.size(), text) == 0;
  };
  if (process.InPackageMode()) return begins(process.presetInquiryText);
  for (int n = 0;; ++n) {
    const std::string key = Format("DiskVen_%02d", n);
    const std::string text = store.Read("DiskVen_98", key, "");
    if (text.empty() && store.Read("HardwareID", key, "").empty()) return false;
    if (begins(text)) return true;
  }
}

// The checks made once before the devices speak only when they refuse: otherwise each
// device's log, and what the run prints of it, repeats their lines.
class HeldWindow final : public NullWindow {
 public:
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    held_.push_back(Held{false, text, caption, icon, buttons});
    return MessageAnswer::Ok;
  }
  void StatusAppend(const std::string& line) override { held_.push_back(Held{true, line, "", {}, {}}); }
  void Release(WindowPort& to) {
    for (const Held& h : held_) {
      if (h.line) {
        to.StatusAppend(h.text);
      } else {
        to.ShowMessage(h.text, h.caption, h.icon, h.buttons);
      }
    }
    held_.clear();
  }

 private:
  struct Held {
    bool line;
    std::string text;
    std::string caption;
    MessageIcon icon;
    MessageButtons buttons;
  };
  std::vector<Held> held_;
};

class SeveralRun {
 public:
  SeveralRun(const CliOptions& o, CliWindow& window) : o_(o), window_(window) {}
  int Run(bool stdinTerminal, bool drawProgress);

 private:
  const std::string& ScenarioKey(const std::string& path) const;
  bool LoadScenario(const std::string& path);
  bool JobsApart();
  bool AddEmulated(const DeviceTarget& target, int index);
  bool ListDevices();
#ifdef _WIN32
  bool AspiLoaded();
  bool FindReal(const DeviceTarget& t);
  void AddReal(const DeviceTarget& t);
#endif
  bool Confirmed(bool stdinTerminal);
  void BuildJob(DeviceJob& job, std::size_t row, CliConsole& console, const CheckedImages& checked);
  void Summary(int& status);

  const CliOptions& o_;
  CliWindow& window_;
  std::map<std::string, Scenario> scenarios_;
  std::vector<std::unique_ptr<DeviceJob>> jobs_;
  std::unique_ptr<AppCore> preflight_;
  ProcessState process_;
  InMemoryProfileStore memoryStore_;
  std::unique_ptr<IniProfileStore> iniStore_;
  ProfileStore* store_ = nullptr;
  int listFailure_ = kExitRefused;
#ifdef _WIN32
  // ASPI for Win32 is one per process: every job's transport sends through this one.
  Win32AspiLibrary aspiLibrary_;
  bool aspiTried_ = false;
#endif
};

// The scenario already loaded from this file in any spelling, so its devices are one set.
const std::string& SeveralRun::ScenarioKey(const std::string& path) const {
  for (const auto& [key, scenario] : scenarios_) {
    if (SameFile(key, path)) return key;
  }
  return path;
}

bool SeveralRun::LoadScenario(const std::string& path) {
  if (scenarios_.count(ScenarioKey(path)) != 0) return true;
  Scenario& s = scenarios_[path];
  std::string error;
  if (!LoadEmulatorConfig(path, s.config, error)) {
    window_.Error(error);
    return false;
  }
  if (s.config.devices.empty()) s.config.devices.emplace_back();
  for (const EmulatedDeviceConfig& d : s.config.devices) {
    s.devices.push_back(std::make_unique<EmulatedDevice>(d));
    if (!s.devices.back()->LoadFlash(error)) {
      window_.Error(error);
      return false;
    }
  }
  return true;
}

bool SeveralRun::AddEmulated(const DeviceTarget& t, int index) {
  Scenario& s = scenarios_[ScenarioKey(t.emulatorConfig)];
  if (index > static_cast<int>(s.devices.size())) {
    window_.Error(Format("--device %s: the scenario has %d devices", t.text.c_str(), static_cast<int>(s.devices.size())));
    return false;
  }
  auto job = std::make_unique<DeviceJob>();
  job->name = Format("%s:%s#%d", t.sgIo ? "emulator-sgio" : "emulator", t.emulatorConfig.c_str(), index);
  job->tag = Format("%s-%d", StemOf(t.emulatorConfig).c_str(), index);
  job->emulated = s.devices[static_cast<std::size_t>(index - 1)].get();
  job->driveLetter = s.config.driveLetter;
  job->adapters = s.config.adapterCount;
  job->support = s.config.supportStatus;
  job->signalCompleted = s.config.signalCompleted;
  job->sgIo = t.sgIo;
  job->useAspi = t.aspi;
  for (const auto& other : jobs_) {
    if (other->emulated == job->emulated) {
      window_.Error(Format("%s is named twice", job->name.c_str()));
      return false;
    }
  }
  jobs_.push_back(std::move(job));
  return true;
}

bool SeveralRun::ListDevices() {
  for (const DeviceTarget& t : o_.targets) {
    if (!t.emulatorConfig.empty()) {
      if (!LoadScenario(t.emulatorConfig)) return false;
      if (!o_.all) {
        if (!AddEmulated(t, t.emulatorIndex == 0 ? 1 : t.emulatorIndex)) return false;
        continue;
      }
      const Scenario& s = scenarios_[ScenarioKey(t.emulatorConfig)];
      for (std::size_t i = 0; i < s.devices.size(); ++i) {
        if (EmulatedMatches(s.config.devices[i], *store_, process_) && !AddEmulated(t, static_cast<int>(i) + 1)) {
          return false;
        }
      }
      continue;
    }
#ifdef _WIN32
    if (o_.all) {
      if (!FindReal(t)) return false;
    } else {
      if (RealDeviceUsesAspi(t.aspi, t.drive) && !AspiLoaded()) return false;
      AddReal(t);
    }
#else
    std::vector<std::string> nodes;
    if (o_.all) {
      nodes = SysfsDriveLocator(SysfsPaths{}, "", o_.force).MatchingNodes(*store_, process_);
    } else {
      nodes.push_back(t.node);
    }
    const std::vector<SgDevice> known = ScanScsiGeneric(SysfsPaths{});
    for (const std::string& node : nodes) {
      // A disk and its generic node, or two spellings of one node, are one device.
      const SgDevice* device = DeviceOfNode(known, node);
      for (const auto& other : jobs_) {
        const SgDevice* otherDevice = DeviceOfNode(known, other->node);
        if (!other->node.empty() && (SameNode(other->node, node) || (device != nullptr && device == otherDevice))) {
          window_.Error(Format("--device %s and --device %s are one device%s", other->node.c_str(), node.c_str(),
                               device != nullptr ? Format(" (%s)", device->node.c_str()).c_str() : ""));
          return false;
        }
      }
      auto job = std::make_unique<DeviceJob>();
      job->name = node;
      job->tag = StemOf(node);
      job->node = node;
      jobs_.push_back(std::move(job));
    }
#endif
  }
  return true;
}

#ifdef _WIN32
bool SeveralRun::AspiLoaded() {
  if (!aspiTried_ && !LoadAspiLibrary(aspiLibrary_, window_)) listFailure_ = kExitNoDevice;
  aspiTried_ = true;
  return aspiLibrary_.Loaded();
}

// Every device discovery matches, found as a single run would find one but without a word in
// any log; each becomes a job restricted to it.
bool SeveralRun::FindReal(const DeviceTarget& t) {
  const bool aspi = RealDeviceUsesAspi(t.aspi, 0);
  if (aspi && !AspiLoaded()) return false;
  PassThroughTransport drive;
  NtDeviceRegistry registry;
  AspiTransport aspiTransport(aspiLibrary_);
  NullWindow quiet;
  SystemClock clock;
  AppPorts ports{quiet, *store_, registry, clock, FixedPaths::UnderFolder(".")};
  ports.paths.logFile = o_.log;
  if (aspi) {
    ports.aspi = &aspiTransport;
  } else {
    ports.drive = &drive;
  }
  AppCore finder(ports, process_);
  DeviceTarget found;
  found.realDevice = true;
  found.aspi = aspi;
  if (aspi) {
    found.aspiTarget = true;
    for (const ScsiTarget& address : finder.ListDevices().targets) {
      found.adapter = address.adapter;
      found.target = address.target;
      found.text = Format("aspi:%u:%u", static_cast<unsigned>(address.adapter), static_cast<unsigned>(address.target));
      AddReal(found);
    }
  } else {
    for (char letter : finder.ListDevices().drives) {
      found.drive = letter;
      found.text = Format("%c:", letter);
      AddReal(found);
    }
  }
  return true;
}

void SeveralRun::AddReal(const DeviceTarget& t) {
  auto job = std::make_unique<DeviceJob>();
  job->name = t.text;
  // A colon may not be part of a Windows file name: "E:" gives "E", "aspi:0:1" "aspi-0-1".
  job->tag = t.drive != 0 ? std::string(1, t.drive)
                          : Format("aspi-%u-%u", static_cast<unsigned>(t.adapter), static_cast<unsigned>(t.target));
  job->useAspi = RealDeviceUsesAspi(t.aspi, t.drive);
  job->real = t;
  jobs_.push_back(std::move(job));
}
#endif

// Each job writes its own log (and boot dumps): a tag two jobs share gets a number, so
// "a/nand.cfg" and "b/nand.cfg" log apart. No job's file, and no emulated flash file, may be
// a file the run reads or another it writes.
bool SeveralRun::JobsApart() {
  std::vector<std::string> tags;
  for (const auto& job : jobs_) {
    const std::string base = job->tag;
    for (int n = 2; std::any_of(tags.begin(), tags.end(), [&](const std::string& t) { return EqualsNoCase(t, job->tag); });
         ++n) {
      job->tag = Format("%s-%d", base.c_str(), n);
    }
    tags.push_back(job->tag);
  }
  std::vector<NamedFile> inputs, outputs;
  FilesOfRun(o_, inputs, outputs);
  const FixedPaths paths = FixedPaths::UnderFolder(".");
  for (const auto& job : jobs_) {
    outputs.push_back({Format("the log of %s", job->name.c_str()), DeviceLogName(o_.log, job->tag)});
    if (!o_.boot.empty()) {
      outputs.push_back({"a boot dump", DeviceLogName(paths.bootWriteDump, job->tag)});
      outputs.push_back({"a boot dump", DeviceLogName(paths.bootReadDump, job->tag)});
    }
  }
  for (const auto& [path, scenario] : scenarios_) {
    for (const EmulatedDeviceConfig& d : scenario.config.devices) {
      outputs.push_back({Format("the flash_file of %s:", path.c_str()), d.flashFile});
    }
  }
  std::string error;
  if (FilesApart(inputs, outputs, error)) return true;
  window_.Error(error);
  return false;
}

bool SeveralRun::Confirmed(bool stdinTerminal) {
  if (o_.yes) return true;
  if (!stdinTerminal) {
    window_.Error("--all writes to every device listed: give --yes to go on when standard input is not a terminal");
    return false;
  }
  std::fputs(Format("Upgrade these %d devices? [y/N] ", static_cast<int>(jobs_.size())).c_str(), stderr);
  std::fflush(stderr);
  char answer[16] = {0};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr || (answer[0] != 'y' && answer[0] != 'Y')) {
    window_.Error("not confirmed: nothing was written");
    return false;
  }
  return true;
}

void SeveralRun::BuildJob(DeviceJob& job, std::size_t row, CliConsole& console, const CheckedImages& checked) {
  job.window = std::make_unique<CliWindow>(stdout, stderr, o_.json ? CliOutput::Json : CliOutput::Plain, false);
  job.window->AttachTo(console, job.name, row);
  CopyIdentification(*store_, job.profile);
  job.process = process_;
  FixedPaths paths = FixedPaths::UnderFolder(".");
  paths.logFile = DeviceLogName(o_.log, job.tag);
  paths.bootWriteDump = DeviceLogName(paths.bootWriteDump, job.tag);
  paths.bootReadDump = DeviceLogName(paths.bootReadDump, job.tag);
  DeviceRegistry* registry = &job.registry;
#ifdef _WIN32
  if (job.emulated == nullptr && !job.useAspi) {
    job.ntRegistry = std::make_unique<NtDeviceRegistry>();
    registry = job.ntRegistry.get();
  }
#endif
  AppPorts ports{*job.window, job.profile, *registry, job.clock, paths};
  ports.checked = &checked;
  if (job.emulated != nullptr) {
    EmulatorConfig identity;
    identity.driveLetter = job.driveLetter;
    PopulateEmulatedRegistry(identity, job.registry);
    if (job.useAspi) {
      // Only this device answers the job's target scan.
      job.library = std::make_unique<EmulatedAspiLibrary>(std::vector<EmulatedDevice*>{job.emulated}, job.adapters,
                                                           job.support);
      job.library->SetSignalsCompletion(job.signalCompleted);
      job.aspi = std::make_unique<AspiTransport>(*job.library);
      ports.aspi = job.aspi.get();
    } else {
      job.drive = std::make_unique<EmulatedTransport>(*job.emulated, job.driveLetter);
      ports.drive = job.drive.get();
    }
#ifndef _WIN32
    if (job.sgIo) {
      job.sgIoDevice = std::make_unique<EmulatedSgIo>(*job.emulated, Format("\\\\.\\%c:", job.driveLetter));
      job.sgDrive = std::make_unique<SgIoTransport>(job.sgIoDevice->Calls());
      ports.drive = job.sgDrive.get();
    }
#endif
  } else {
#ifdef _WIN32
    ports.errorText = Win32SystemErrorText;
    if (job.useAspi) {
      job.aspi = std::make_unique<AspiTransport>(aspiLibrary_);
      ports.aspi = job.aspi.get();
    } else {
      job.passThrough = std::make_unique<PassThroughTransport>();
      ports.drive = job.passThrough.get();
    }
#else
    job.sgDrive = std::make_unique<SgIoTransport>();
    job.locator = std::make_unique<SysfsDriveLocator>(SysfsPaths{}, o_.all ? "" : job.node, o_.force);
    if (o_.all) job.locator->RestrictTo(job.node);
    ports.drive = job.sgDrive.get();
    ports.locator = job.locator.get();
#endif
  }
  RestrictToNamed(ports, job.real);
  ports.assumePresent = true;
  job.core = std::make_unique<AppCore>(ports, job.process);
}

void SeveralRun::Summary(int& status) {
  const bool plain = !o_.json;
  if (plain) {
    window_.Note("summary", Format("%-32s %-16s %8s %8s %8s %8s", "device", "outcome", "written", "verified",
                                   "remapped", "time"));
  }
  for (const auto& job : jobs_) {
    const int exit = ExitFor(job->outcome);
    const PageTally& t = job->window->tally();
    window_.AddTally(t);
    window_.DeviceResult(job->name, exit, t, job->seconds);
    if (plain) {
      window_.Note("summary", Format("%-32s %-16s %8u %8u %8u %7.1fs", job->name.c_str(), OutcomeName(exit),
                                     static_cast<unsigned>(t.written), static_cast<unsigned>(t.verified),
                                     static_cast<unsigned>(t.remapped), job->seconds));
    }
  }
  JobOutcome worst = JobOutcome::Success;
  for (const auto& job : jobs_) worst = WorstOutcome(worst, job->outcome);
  status = ExitFor(worst);
}

int SeveralRun::Run(bool stdinTerminal, bool drawProgress) {
  std::string error;
  if (!o_.settingsDir.empty()) {
    iniStore_ = std::make_unique<IniProfileStore>(o_.settingsDir);
    if (!iniStore_->Check(error)) {
      window_.Error(error);
      return kExitRefused;
    }
  }
  store_ = iniStore_ ? static_cast<ProfileStore*>(iniStore_.get()) : &memoryStore_;
  FixedPaths paths = FixedPaths::UnderFolder(".");
  paths.logFile = o_.log;
  process_.packageMode = PackageMode::Plain;
  process_.applicationName = "romsetter-cli";
  PrivateFolder work;
  if (!PlacePackageCopies(o_.package, work, paths, window_)) return kExitRefused;
  StdioPackageFiles packageFiles(o_.package);
  ImageStore packageImages;
  const UnpackResult unpacked = o_.package.empty() ? UnpackResult::Package
      : UnpackSelf(UnpackPorts{packageFiles, window_, paths, process_, packageImages}, false);
  if (unpacked != UnpackResult::Package) {
    // A damaged package or a copy that failed has said so.
    if (unpacked == UnpackResult::Plain) {
      window_.Error(Format("%s is a plain program: it carries no package", o_.package.c_str()));
    }
    return kExitRefused;
  }

  // The checks before the devices run over a core whose device is never asked anything.
  EmulatedDeviceConfig absent;
  absent.attached = false;
  EmulatedDevice idle(absent);
  EmulatedTransport idleDrive(idle);
  InMemoryDeviceRegistry noRegistry;
  SystemClock clock;
  HeldWindow held;
  AppPorts ports{held, *store_, noRegistry, clock, paths};
  ports.drive = &idleDrive;
  preflight_ = std::make_unique<AppCore>(ports, process_);
  AppCore& core = *preflight_;
  core.StartUp(std::move(packageImages), iniStore_ != nullptr);
  if (process_.InPackageMode()) ApplyPackageSelections(process_, core.model().selections);
  else ApplySelections(o_, core.model().selections);

  if (!ListDevices()) return listFailure_;
  if (!JobsApart()) return kExitRefused;
  if (o_.all) {
    window_.Note("devices", Format("romsetter-cli: %d devices match", static_cast<int>(jobs_.size())));
    for (const auto& job : jobs_) window_.Note("device", job->name);
    if (jobs_.empty()) return kExitNoDevice;
    if (!Confirmed(stdinTerminal)) return kExitRefused;
  }

  CheckedImages checked;
  const JobOutcome loaded = PreloadImages(core, checked);
  if (loaded != JobOutcome::Success) {
    held.Release(window_);
    return ExitFor(loaded);
  }

  CliConsole console(stderr, drawProgress && !o_.json, jobs_.size());
  for (std::size_t i = 0; i < jobs_.size(); ++i) BuildJob(*jobs_[i], i, console, checked);
  const Selections selections = core.model().selections;  // every device's job is asked the same
  RunConcurrently(jobs_.size(), [this, &selections](std::size_t i) {
    DeviceJob& job = *jobs_[i];
    const auto started = std::chrono::steady_clock::now();
    try {
      job.outcome = job.core->Run(JobRequest{o_.dryRun ? JobMode::DryRun : JobMode::Upgrade, selections});
      for (const PlanEntry& entry : job.core->plan()) job.window->PlanStep(entry);
    } catch (...) {
      // Nothing may end the other jobs: an unexpected failure is this device's alone.
      job.outcome = JobOutcome::DeviceFailure;
    }
    job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  });
  console.Leave();

  int status = kExitSuccess;
  Summary(status);
  // The emulated flash is kept whatever became of the run, as a real device keeps it.
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

}  // namespace

int RunSeveral(const CliOptions& o, CliWindow& window, bool stdinTerminal, bool drawProgress) {
  return SeveralRun(o, window).Run(stdinTerminal, drawProgress);
}

}  // namespace romsetter
