#include "app/cli/device_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/checked_images.h"
#include "app/cli/cli_recording.h"
#include "app/cli/commands.h"
#include "app/cli/concurrency.h"
#include "app/cli/device_wiring.h"
#include "app/cli/private_folder.h"
#include "app/cli/run_scenarios.h"
#include "app/in_memory_profile_store.h"
#include "app/ini_profile_store.h"
#include "device/identification_entries.h"
#include "package/unpack.h"

namespace romsetter {

std::string DeviceLogName(const std::string& log, const std::string& tag) {
  const std::size_t slash = log.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = log.find_last_of('.');
  const std::size_t cut = dot == std::string::npos || dot <= nameStart ? log.size() : dot;
  return log.substr(0, cut) + "-" + tag + log.substr(cut);
}

namespace {

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

// One device of the run and everything its job owns: nothing here is shared with another
// job but the checked images the core points to.  A lone device's job uses the run's own
// window, settings and process state instead of copies.
struct DeviceJob {
  JobDevice device;
  std::unique_ptr<CliWindow> window;
  InMemoryProfileStore profile;
  ProcessState process;
  DeviceWiring::OwnedParts parts;
  std::unique_ptr<AppPorts> ports;
  std::unique_ptr<AppCore> core;
  JobOutcome outcome = JobOutcome::NoDevice;
  double seconds = 0;
};

// Each job reads the identification entries from a copy of its own; what a job writes
// stays in its copy (the settings file itself was written once, before the devices).
void CopyIdentification(ProfileStore& from, InMemoryProfileStore& to) { IdentificationEntries(from).CopyTo(to); }

// The checks made once before several devices speak only when they refuse: otherwise each
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

// The same steps for one device and for several, in two orders: one device is named and its
// scenario read before the settings file and a package are (so its refusals come first), while
// several are listed after them, since --all matches on the identification they hold.
class DeviceRun {
 public:
  DeviceRun(const CliOptions& o, CliWindow& window) : o_(o), window_(window), scenarios_(window), wiring_(o, window) {}
  int RunOne();
  int RunSeveral(bool stdinTerminal, bool drawProgress);

 private:
  bool Setup(FixedPaths& paths, ImageStore& packageImages);
  void Prepare(AppCore& core, ImageStore& packageImages);
  bool ListDevices();
  bool JobsApart();
  bool Confirmed(bool stdinTerminal);
  bool StartCore(DeviceJob& job, WindowPort& window, ProfileStore& profile, ProcessState& process,
                 const FixedPaths& paths, CliDeviceTap* tap, const CheckedImages* checked);
  void Summary(int& status);

  const CliOptions& o_;
  CliWindow& window_;
  RunScenarios scenarios_;
  DeviceWiring wiring_;
  std::vector<JobDevice> devices_;
  ProcessState process_;
  InMemoryProfileStore memoryStore_;
  std::unique_ptr<IniProfileStore> iniStore_;
  ProfileStore* store_ = &memoryStore_;
  std::unique_ptr<CliDeviceTap> tap_;
  std::unique_ptr<PrivateFolder> work_;
  // Last, so each job ends before anything it uses.
  std::vector<std::unique_ptr<DeviceJob>> jobs_;
};

// The settings file, and a package run as it starts itself: its images and settings, the
// settings file untouched.  False with the reason shown (refused).
bool DeviceRun::Setup(FixedPaths& paths, ImageStore& packageImages) {
  std::string error;
  if (!o_.settingsDir.empty()) {
    iniStore_ = std::make_unique<IniProfileStore>(o_.settingsDir);
    if (!iniStore_->Check(error)) {
      window_.Error(error);
      return false;
    }
    store_ = iniStore_.get();
  }
  paths = FixedPaths::UnderFolder(".");
  paths.logFile = o_.log;
  paths.extractDefault = o_.output.empty() ? paths.extractDefault : o_.output;
  process_.packageMode = PackageMode::Plain;
  process_.applicationName = "romsetter-cli";
  process_.extractOutputPath = paths.extractDefault;
  work_ = std::make_unique<PrivateFolder>();
  if (!PlacePackageCopies(o_.package, *work_, paths, window_)) return false;
  if (o_.package.empty()) return true;
  StdioPackageFiles packageFiles(o_.package);
  const UnpackResult unpacked = UnpackSelf(UnpackPorts{packageFiles, window_, paths, process_, packageImages}, false);
  // A damaged package or a copy that failed has said so.
  if (unpacked == UnpackResult::Plain) {
    window_.Error(Format("%s is a plain program: it carries no package", o_.package.c_str()));
  }
  return unpacked == UnpackResult::Package;
}

// The selections of the run: a package's own, or as the Windows program starts (the
// identification defaults, then every key of the file is read, so the run changes only the
// keys it is meant to) with the command line's.
void DeviceRun::Prepare(AppCore& core, ImageStore& packageImages) {
  core.StartUp(std::move(packageImages), iniStore_ != nullptr);
  if (process_.InPackageMode()) ApplyPackageSelections(process_, core.model().selections);
  else ApplySelections(o_, core.model().selections);
}

// The job's transports and its core; false with the reason shown when the recording cannot
// be opened.
bool DeviceRun::StartCore(DeviceJob& job, WindowPort& window, ProfileStore& profile, ProcessState& process,
                          const FixedPaths& paths, CliDeviceTap* tap, const CheckedImages* checked) {
  AspiLibraryWrap wrap;
  if (tap != nullptr) wrap = [tap](AspiLibrary& library) -> AspiLibrary& { return tap->Library(library); };
  job.ports = std::make_unique<AppPorts>(wiring_.Wire(job.device, job.parts, window, profile, paths, wrap));
  job.ports->checked = checked;
  if (tap != nullptr && !tap->Attach(*job.ports, DeviceWiring::Emulated(*job.parts).aspi.get())) return false;
  RestrictToNamed(*job.ports, job.device.real);
  job.ports->assumePresent = true;  // a script asks for the run; the job itself finds out
  job.core = std::make_unique<AppCore>(*job.ports, process);
  return true;
}

int DeviceRun::RunOne() {
  const DeviceTarget t{o_.device, o_.emulatorConfig, o_.emulatorIndex, o_.sgIo, o_.realDevice, o_.node,
                       o_.drive,  o_.aspiTarget,     o_.adapter,       o_.target, o_.aspi};
  if (!scenarios_.Read(t.emulatorConfig)) return kExitRefused;
  // The flash files are written at the end, and the recording is created next: none may be a
  // file the run reads or writes.
  if (!JobsApart()) return kExitRefused;
  tap_ = std::make_unique<CliDeviceTap>(o_, window_);
  CliDeviceTap& tap = *tap_;
  if (!tap.Load(scenarios_.Config(t.emulatorConfig))) return kExitRefused;
  if (t.realDevice) {
    if (!wiring_.ListReal(t, *store_, process_, devices_)) return wiring_.ListFailure();
  } else {
    // "CONFIG#N": that device alone, behind the drive and as the only ASPI target.
    if (!scenarios_.Add(t, std::max(t.emulatorIndex, 1), devices_)) return kExitRefused;
    if (t.emulatorIndex == 0) devices_.front().aspiTargets = scenarios_.Devices(t.emulatorConfig);
  }
  if (!scenarios_.Load(t.emulatorConfig)) return kExitRefused;
  FixedPaths paths;
  ImageStore packageImages;
  if (!Setup(paths, packageImages)) return kExitRefused;
  jobs_.push_back(std::make_unique<DeviceJob>());
  DeviceJob& job = *jobs_.front();
  job.device = devices_.front();
  if (!StartCore(job, window_, *store_, process_, paths, &tap, nullptr)) return kExitRefused;
  AppCore& core = *job.core;
  if (!wiring_.Ready(job.device)) return kExitNoDevice;
  Prepare(core, packageImages);
  window_.SetFileDialogAnswer(o_.output.empty() ? std::nullopt : std::optional<std::string>(o_.output));

  if (o_.command == CliCommand::Header) return RunHeader(core, o_, window_);
  if (o_.command == CliCommand::Pack) {
    if (o_.fwVersionGiven) process_.fwVersion = o_.fwVersion;
    return tap.Finish(RunPack(core, *job.ports, o_, window_));
  }
  const int status = o_.command == CliCommand::Info ? RunInfo(core, window_) : RunJobCommand(core, o_, window_);
  return scenarios_.Save(tap.Finish(status));
}

bool DeviceRun::ListDevices() {
  for (const DeviceTarget& t : o_.targets) {
    if (t.emulatorConfig.empty()) {
      if (!wiring_.ListReal(t, *store_, process_, devices_)) return false;
    } else if (!scenarios_.Read(t.emulatorConfig) || !scenarios_.Load(t.emulatorConfig)) {
      return false;
    } else if (o_.all ? !scenarios_.AddMatching(t, *store_, process_, devices_)
                      : !scenarios_.Add(t, std::max(t.emulatorIndex, 1), devices_)) {
      return false;
    }
  }
  return true;
}

// Each job writes its own log (and boot dumps): a tag two jobs share gets a number, so
// "a/nand.cfg" and "b/nand.cfg" log apart. No job's file, and no emulated flash file, may be
// a file the run reads or another it writes.
bool DeviceRun::JobsApart() {
  std::vector<std::string> tags;
  for (JobDevice& job : devices_) {
    const std::string base = job.tag;
    for (int n = 2; std::any_of(tags.begin(), tags.end(), [&](const std::string& t) { return EqualsNoCase(t, job.tag); });
         ++n) {
      job.tag = Format("%s-%d", base.c_str(), n);
    }
    tags.push_back(job.tag);
  }
  std::vector<NamedFile> inputs, outputs;
  FilesOfRun(o_, inputs, outputs);
  const FixedPaths paths = FixedPaths::UnderFolder(".");
  for (const JobDevice& job : devices_) {
    outputs.push_back({Format("the log of %s", job.name.c_str()), DeviceLogName(o_.log, job.tag)});
    if (!o_.boot.empty()) {
      outputs.push_back({"a boot dump", DeviceLogName(paths.bootWriteDump, job.tag)});
      outputs.push_back({"a boot dump", DeviceLogName(paths.bootReadDump, job.tag)});
    }
  }
  scenarios_.AddOutputs(outputs);
  std::string error;
  if (FilesApart(inputs, outputs, error)) return true;
  window_.Error(error);
  return false;
}

bool DeviceRun::Confirmed(bool stdinTerminal) {
  if (o_.yes) return true;
  if (!stdinTerminal) {
    window_.Error("--all writes to every device listed: give --yes to go on when standard input is not a terminal");
    return false;
  }
  std::fputs(Format("Upgrade these %d devices? [y/N] ", static_cast<int>(devices_.size())).c_str(), stderr);
  std::fflush(stderr);
  char answer[16] = {0};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr || (answer[0] != 'y' && answer[0] != 'Y')) {
    window_.Error("not confirmed: nothing was written");
    return false;
  }
  return true;
}

void DeviceRun::Summary(int& status) {
  const bool plain = !o_.json;
  if (plain) {
    window_.Note("summary", Format("%-32s %-16s %8s %8s %8s %8s", "device", "outcome", "written", "verified",
                                   "remapped", "time"));
  }
  for (const auto& job : jobs_) {
    const int exit = ExitFor(job->outcome);
    const PageTally& t = job->window->tally();
    window_.AddTally(t);
    window_.DeviceResult(job->device.name, exit, t, job->seconds);
    if (plain) {
      window_.Note("summary", Format("%-32s %-16s %8u %8u %8u %7.1fs", job->device.name.c_str(), OutcomeName(exit),
                                     static_cast<unsigned>(t.written), static_cast<unsigned>(t.verified),
                                     static_cast<unsigned>(t.remapped), job->seconds));
    }
  }
  JobOutcome worst = JobOutcome::Success;
  for (const auto& job : jobs_) worst = WorstOutcome(worst, job->outcome);
  status = ExitFor(worst);
}

int DeviceRun::RunSeveral(bool stdinTerminal, bool drawProgress) {
  FixedPaths paths;
  ImageStore packageImages;
  if (!Setup(paths, packageImages)) return kExitRefused;

  // The checks before the devices run over a core whose device is never asked anything.
  IdleDevice idle;
  InMemoryDeviceRegistry noRegistry;
  SystemClock clock;
  HeldWindow held;
  AppPorts ports{held, *store_, noRegistry, clock, paths};
  ports.session = idle.Session();
  AppCore preflight(ports, process_);
  Prepare(preflight, packageImages);

  if (!ListDevices()) return wiring_.ListFailure();
  if (!JobsApart()) return kExitRefused;
  if (o_.all) {
    window_.Note("devices", Format("romsetter-cli: %d devices match", static_cast<int>(devices_.size())));
    for (const JobDevice& device : devices_) window_.Note("device", device.name);
    if (devices_.empty()) return kExitNoDevice;
    if (!Confirmed(stdinTerminal)) return kExitRefused;
  }

  CheckedImages checked;
  const JobOutcome loaded = PreloadImages(preflight, checked);
  if (loaded != JobOutcome::Success) {
    held.Release(window_);
    return ExitFor(loaded);
  }

  CliConsole console(stderr, drawProgress && !o_.json, devices_.size());
  for (std::size_t row = 0; row < devices_.size(); ++row) {
    jobs_.push_back(std::make_unique<DeviceJob>());
    DeviceJob& job = *jobs_.back();
    job.device = devices_[row];
    job.window = std::make_unique<CliWindow>(stdout, stderr, o_.json ? CliOutput::Json : CliOutput::Plain, false);
    job.window->AttachTo(console, job.device.name, row);
    CopyIdentification(*store_, job.profile);
    job.process = process_;
    FixedPaths own = FixedPaths::UnderFolder(".");
    own.logFile = DeviceLogName(o_.log, job.device.tag);
    own.bootWriteDump = DeviceLogName(own.bootWriteDump, job.device.tag);
    own.bootReadDump = DeviceLogName(own.bootReadDump, job.device.tag);
    StartCore(job, *job.window, job.profile, job.process, own, nullptr, &checked);
  }
  const Selections selections = preflight.model().selections;  // every device's job is asked the same
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
  return scenarios_.Save(status);
}

}  // namespace

int RunDevices(const CliOptions& o, CliWindow& window, bool stdinTerminal, bool drawProgress) {
  DeviceRun run(o, window);
  return o.Several() ? run.RunSeveral(stdinTerminal, drawProgress) : run.RunOne();
}

}  // namespace romsetter
