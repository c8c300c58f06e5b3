#include "app/upgrade_job.h"

#include <algorithm>

#include "app/checked_images.h"
#include "base/text.h"
#include "flash/firmware_extractor.h"

namespace romsetter {

bool IsNoneName(const std::string& name) { return EqualsNoCase(name, "NONE"); }

const char* SummaryLine(int doneKinds) {
  switch (doneKinds) {
    case 1: return " ***** F/W Upgrade successfully!!";
    case 3: return " ***** F/W and Font Upgrade successfully!!";
    case 4: return " ***** Boot Upgrade successfully!!";
    case 5: return " ***** F/W and Boot Upgrade successfully!!";
    case 6: return " ***** Boot and Font Upgrade successfully!!";
    case 7: return " ***** Boot , F/W and Font Upgrade successfully!!";
    case 9: return " ***** F/W and BackUp F/W Upgrade successfully!!";
    case 11: return " ***** F/W, BackUp F/W and Font Upgrade successfully!!";
    default: return "";
  }
}

namespace {

// The image kind a step puts on the device, as counted for the closing line; 0 for none.
int KindBitOf(JobStep step) {
  switch (step) {
    case JobStep::Boot: return KindBit(ImageKind::BootCode);
    case JobStep::Firmware: return KindBit(ImageKind::Firmware);
    case JobStep::Backup: return KindBit(ImageKind::Backup);
    case JobStep::Font: return KindBit(ImageKind::Font);
    default: return 0;
  }
}

}  // namespace

JobOutcome UpgradeJob::Run(JobRequest request) {
  request_ = std::move(request);
  doneKinds_ = 0;
  packageFont_.clear();
  dryRun_ = request_.mode == JobMode::DryRun;
  plan_.clear();
  answerSeconds_ = 0;
  answers_ = 0;
  window().SetWaitCursor();
  FlashContext ctx{s_.link,       s_.log,   s_.window, s_.window, s_.memory.map(), s_.images,
                   s_.imagePages, s_.clock, sel(),    s_.process, s_.paths};
  const std::unique_ptr<JobFamily> family =
      s_.session.Visit([&](DriveSession& drive) { return MakePassThroughFamily(s_, ctx, drive); },
                       [&](AspiSession& aspi) { return MakeAspiFamily(s_, ctx, aspi); });
  const JobOutcome checked = CheckInputs(*family);
  if (checked != JobOutcome::Success) return checked;
  const JobOutcome outcome = RunPlan(*family, ctx);
  family->Close();
  std::vector<std::uint8_t>().swap(packageFont_);
  return outcome;
}

JobOutcome UpgradeJob::RunPlan(JobFamily& family, FlashContext& ctx) {
  bool ok = true;           // gates the steps that need every deciding step so far to succeed
  bool anyFailed = false;   // a later success (the backup) never hides an earlier failure
  headerFailed_ = false;
  for (const PlannedStep& planned : family.Plan(sel(), request_.mode == JobMode::Extract)) {
    if (planned.gate == StepGate::WhileOk && !ok) continue;
    const StepResult result = dryRun_ ? DryRunStep(family, ctx, planned.step) : RunStep(family, ctx, planned.step);
    switch (result) {
      case StepResult::Done:
        ok = true;
        doneKinds_ += KindBitOf(planned.step);
        break;
      case StepResult::Failed:
        ok = false;
        anyFailed = true;
        break;
      case StepResult::NoDevice: return JobOutcome::NoDevice;
      case StepResult::DeviceFailure: return JobOutcome::DeviceFailure;
      case StepResult::Finished: return JobOutcome::Success;
      case StepResult::FileFailed: return JobOutcome::FileFailed;
    }
  }
  if (dryRun_) {
    // No restart and no closing box: the run that would follow gives those.
    EstimateDryRun();
    return ok && !anyFailed ? JobOutcome::Success : JobOutcome::DeviceFailure;
  }
  return Summary(ok && !anyFailed);
}

StepResult UpgradeJob::RunStep(JobFamily& family, FlashContext& ctx, JobStep step) {
  switch (step) {
    case JobStep::Open: return family.Open();
    case JobStep::Prepare: return family.Prepare();
    case JobStep::Extract: return ExtractStep(ctx);
    case JobStep::Boot: return family.Boot();
    case JobStep::Format: return FormatStep(ctx);
    case JobStep::Firmware: return family.Firmware();
    case JobStep::Backup:
      log().Log("___BackUp FW___");
      return family.Backup();
    case JobStep::Font: {
      const StepResult result =
          family.Font(s_.process.InPackageMode() ? packageFont_ : s_.images.Slot(ImageSlot::FontData));
      // The fonts are on the device whatever becomes of the header; its failure is the run's.
      if (result == StepResult::Done && !s_.process.InPackageMode() && s_.checked == nullptr &&
          !s_.fonts.HeaderReport(sel())) {
        headerFailed_ = true;
      }
      return result;
    }
  }
  return StepResult::Failed;
}

StepResult UpgradeJob::FormatStep(FlashContext& ctx) {
  if (FormatDevice(ctx)) return StepResult::Done;
  log().Log("Device format Failure!!");
  window().ShowMessage("Device format Failure!!, please check the connection!", "F/W Upgrade", MessageIcon::Error);
  return StepResult::Failed;
}

StepResult UpgradeJob::ExtractStep(FlashContext& ctx) {
  switch (FirmwareExtractor(ctx, s_.memory, s_.process).ExtractFirmware()) {
    case FirmwareExtractor::Result::Done: return StepResult::Finished;
    case FirmwareExtractor::Result::FileFailed: return StepResult::FileFailed;
    case FirmwareExtractor::Result::DeviceFailed: break;
  }
  return StepResult::DeviceFailure;
}

void MarkDeviceLost(JobServices& services) {
  services.discovery.SetPresent(false);
  if (services.updateControls) services.updateControls();
}

JobOutcome UpgradeJob::CheckInputs(JobFamily& family) {
  constexpr JobOutcome kPass = JobOutcome::Success;
  constexpr JobOutcome kRefused = JobOutcome::Refused;
  if (sel().norSelected && sel().loadBootCode && !CheckBoot()) return kRefused;
  // The backup copies are the firmware image: without one their erase would leave them blank.
  if (!sel().norSelected && sel().backupChecked && !sel().loadFirmware) {
    const char* why = "BackupFW writes the F/W image: check Load F/W to write the backup copies.";
    log().Log(why);
    window().ShowMessage(why, "F/W Upgrade", MessageIcon::Error);
    return kRefused;
  }

  if (sel().loadFirmware) {
    // An absent device has no flash type to refuse: it is missing, not the input.
    if (s_.discovery.ProbeFlashType(sel().norSelected) == DeviceDiscovery::FlashTypeProbe::NoDevice) {
      family.DeviceMissing();
      return JobOutcome::NoDevice;
    }
    s_.imagePages.bigImagePages = 0;
    s_.imagePages.smallImagePages = 0;
    const std::uint8_t flashType = s_.memory.map().flashType;
    int kind = 0;
    if (IsBigBlockFlashType(flashType)) {
      if (IsNoneName(sel().bigFirmwarePath)) {
        window().ShowMessage(Format("The BIG(default) block file is \"NONE\". (FlashType:%d)", flashType),
                             s_.process.applicationName, MessageIcon::Error);
        return kRefused;
      }
      kind = ImageChecks::kBigBlock;
    } else if (flashType == kFlashTypeSmallBlock) {
      if (IsNoneName(sel().smallFirmwarePath)) {
        window().ShowMessage(Format("The SMALL block file is \"NONE\". (FlashType:%d)", flashType),
                             s_.process.applicationName, MessageIcon::Error);
        return kRefused;
      }
      kind = ImageChecks::kSmallBlock;
    } else {
      window().ShowMessage(Format("FlashType 0x%2x.", flashType), s_.process.applicationName, MessageIcon::Error);
      return kRefused;
    }
    if (!CheckFirmware(kind)) return kRefused;
  }

  if (sel().loadFont) {
    if (s_.process.InPackageMode()) {
      if (!TakePackageFont()) return kRefused;
    } else if (!LoadFontList()) {
      return kRefused;
    }
  }
  if (!s_.process.InPackageMode()) s_.settings.WriteSetting("FW_Version", s_.process.fwVersion);
  return kPass;
}

// With images checked once for several devices, each check is its lines again: a check
// that was made passed (a refusal ends the run before any device), so only its lines and
// its page count are left to take.
bool UpgradeJob::Replay(const std::vector<std::string>& lines, bool made) {
  for (const std::string& line : lines) log().Log(line);
  return made;
}

bool UpgradeJob::CheckBoot() {
  if (s_.checked == nullptr || s_.process.InPackageMode()) return s_.checks.CheckBootFile(sel());
  s_.imagePages.bootImagePages = s_.checked->pages.bootImagePages;
  return Replay(s_.checked->bootLines, s_.checked->boot);
}

bool UpgradeJob::CheckFirmware(int kind) {
  if (s_.checked == nullptr || s_.process.InPackageMode()) return s_.checks.CheckFirmwareFile(sel(), kind);
  const bool small = kind == ImageChecks::kSmallBlock;
  (small ? s_.imagePages.smallImagePages : s_.imagePages.bigImagePages) =
      s_.checked->pages.FirmwarePages(small);
  return small ? Replay(s_.checked->smallLines, s_.checked->small) : Replay(s_.checked->bigLines, s_.checked->big);
}

bool UpgradeJob::LoadFontList() {
  if (s_.checked == nullptr) return s_.fonts.FontListLoader(sel());
  s_.imagePages.fontImagePages = s_.checked->pages.fontImagePages;
  return Replay(s_.checked->fontLines, s_.checked->font);
}

bool UpgradeJob::TakePackageFont() {
  const std::vector<std::uint8_t>& data = s_.images.Slot(ImageSlot::FontData);
  const std::size_t pages = (data.size() + kPageSize - 1) / kPageSize;
  if (pages > kMaxImagePages) {
    log().Log("Font file Size is larger then device memory.");
    return false;
  }
  // Whole pages; the tail of the last page reads as erased flash, as the font loader pads it.
  packageFont_.assign(pages * kPageSize, 0xFF);
  std::copy(data.begin(), data.end(), packageFont_.begin());
  s_.imagePages.fontImagePages = static_cast<std::uint32_t>(pages);
  return true;
}

JobOutcome UpgradeJob::Summary(bool ok) {
  if (!ok) return JobOutcome::DeviceFailure;
  if (s_.updateControls) s_.updateControls();
  // A header that could not be written has had its own error box; a "Successful" box would
  // tell the user the opposite, so only the device's summary line follows.
  if (doneKinds_ == KindBit(ImageKind::Font)) {
    log().Log(" ***** Font Upgrade successfully!!");
    if (headerFailed_) return JobOutcome::FileFailed;
    window().ShowMessage("The font has been updated into the Device.", "Successful", MessageIcon::Information);
    return JobOutcome::Success;
  }
  if (!s_.link.SendControl(ControlCommand::Restart)) return JobOutcome::DeviceFailure;
  const char* line = SummaryLine(doneKinds_);
  if (*line != '\0') log().Log(line);
  if (headerFailed_) return JobOutcome::FileFailed;
  window().ShowMessage("Please Unplug the Device first!", "Successful", MessageIcon::Information);
  return JobOutcome::Success;
}

}  // namespace romsetter
