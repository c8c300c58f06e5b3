#include "app/upgrade_job.h"

#include <algorithm>

#include "base/text.h"
#include "flash/boot_upgrade.h"
#include "flash/firmware_extractor.h"
#include "flash/flash_programmer.h"
#include "flash/font_programmer.h"

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

JobOutcome UpgradeJob::Run(JobMode mode) {
  jobOk_ = false;
  doneKinds_ = 0;
  packageFont_.clear();
  s_.process.extractMode = mode == JobMode::Extract;
  window().SetWaitCursor();
  if (!CheckInputs()) {
    s_.process.extractMode = false;
    return JobOutcome::Refused;
  }

  FlashContext ctx{s_.link,    s_.log,        s_.window,         s_.window, s_.memory.map(), s_.images,
                   s_.imagePages, s_.clock,    s_.model.selections, s_.process, s_.paths};
  const JobOutcome outcome = s_.aspi != nullptr ? AspiPhase(ctx) : PassThroughPhase(ctx);
  Cleanup();
  s_.process.extractMode = false;
  return outcome;
}

bool UpgradeJob::CheckInputs() {
  if (sel().norSelected && sel().loadBootCode && !s_.checks.CheckBootFile()) return false;

  if (sel().loadFirmware) {
    s_.discovery.ProbeFlashType(sel().norSelected);
    s_.imagePages.bigImagePages = 0;
    s_.imagePages.smallImagePages = 0;
    const std::uint8_t flashType = s_.memory.map().flashType;
    int kind = 0;
    if (flashType == 0 || flashType == 1) {
      if (IsNoneName(sel().bigFirmwarePath)) {
        window().ShowMessage(Format("The BIG(default) block file is \"NONE\". (FlashType:%d)", flashType),
                             s_.process.applicationName, MessageIcon::Error);
        return false;
      }
      kind = ImageChecks::kBigBlock;
    } else if (flashType == kFlashTypeSmallBlock) {
      if (IsNoneName(sel().smallFirmwarePath)) {
        window().ShowMessage(Format("The SMALL block file is \"NONE\". (FlashType:%d)", flashType),
                             s_.process.applicationName, MessageIcon::Error);
        return false;
      }
      kind = ImageChecks::kSmallBlock;
    } else {
      window().ShowMessage(Format("FlashType 0x%2x.", flashType), s_.process.applicationName, MessageIcon::Error);
      return false;
    }
    if (!s_.checks.CheckFirmwareFile(kind)) return false;
  }

  if (sel().loadFont) {
    if (s_.process.InPackageMode()) {
      if (!TakePackageFont()) return false;
    } else if (!s_.fonts.FontListLoader()) {
      return false;
    }
  }
  if (!s_.process.InPackageMode()) s_.settings.WriteSetting("FW_Version", s_.process.fwVersion);
  return true;
}

bool UpgradeJob::TakePackageFont() {
  const std::vector<std::uint8_t>& data = s_.images.Slot(ImageSlot::FontData);
  const std::size_t pages = (data.size() + kPageSize - 1) / kPageSize;
  if (pages > 0xFFFF) {
    log().Log("Font file Size is larger then device memory.");
    return false;
  }
  // Whole pages; the tail of the last page reads as erased flash, as the font loader pads it.
  packageFont_.assign(pages * kPageSize, 0xFF);
  std::copy(data.begin(), data.end(), packageFont_.begin());
  s_.imagePages.fontImagePages = static_cast<std::uint32_t>(pages);
  return true;
}

void UpgradeJob::DeviceLost() {
  s_.discovery.SetPresent(false);
  if (s_.updateControls) s_.updateControls();
}

void UpgradeJob::FormatFailed() {
  log().Log("Device format Failure!!");
  window().ShowMessage("Device format Failure!!, please check the connection!", "F/W Upgrade", MessageIcon::Error);
  jobOk_ = false;
}

bool UpgradeJob::FirmwareStepPassThrough(FlashContext& ctx) {
  jobOk_ = false;
  FlashProgrammer programmer(ctx);
  if (EraseRegion(ctx, EraseCommand::Firmware) && programmer.ProgramImage(ImageKind::Firmware)) {
    doneKinds_ += KindBit(ImageKind::Firmware);
    jobOk_ = true;
  }
  return jobOk_;
}

bool UpgradeJob::ProgramFontData(FlashContext& ctx) {
  FontProgrammer fonts(ctx);
  return s_.process.InPackageMode() ? fonts.ProgramFont(packageFont_) : fonts.ProgramFont();
}

JobOutcome UpgradeJob::PassThroughPhase(FlashContext& ctx) {
  if (!s_.discovery.OpenDev(true)) return JobOutcome::NoDevice;
  const InitRequest init{sel().norSelected, sel().loadBootCode, sel().loadFirmware, sel().loadFont};
  if (!s_.memory.InitDevice(init, s_.imagePages)) {
    DeviceLost();
    log().Log("Initialization Failed!!");
    return JobOutcome::DeviceFailure;
  }
  if (s_.process.extractMode) {
    FirmwareExtractor extractor(ctx, s_.memory, s_.process);
    return extractor.ExtractFirmware() ? JobOutcome::Success : JobOutcome::DeviceFailure;
  }

  if (sel().norSelected && sel().loadBootCode && s_.memory.map().bootSize != 0) {
    FlashProgrammer programmer(ctx);
    if (EraseRegion(ctx, EraseCommand::Boot) && programmer.ProgramImage(ImageKind::BootCode)) {
      jobOk_ = true;
      doneKinds_ = KindBit(ImageKind::BootCode);
      if (sel().loadFirmware) FirmwareStepPassThrough(ctx);
    }
  } else if (sel().formatChecked && !FormatDevice(ctx)) {
    FormatFailed();
  } else {
    jobOk_ = true;
    if (sel().loadFirmware) FirmwareStepPassThrough(ctx);
  }

  if (!sel().norSelected && sel().backupChecked) {
    log().Log("___BackUp FW___");
    jobOk_ = false;
    FlashProgrammer programmer(ctx);
    if (EraseRegion(ctx, EraseCommand::Backup) && GetMemInfo(RegionQuery::Backup) &&
        programmer.ProgramImage(ImageKind::Backup)) {
      jobOk_ = true;
      doneKinds_ += KindBit(ImageKind::Backup);
    }
  }

  if (sel().loadFont && jobOk_) {
    jobOk_ = false;
    FontProgrammer fonts(ctx);
    const std::vector<std::uint8_t>& data =
        s_.process.InPackageMode() ? packageFont_ : s_.images.Slot(ImageSlot::FontData);
    // A font the region cannot hold with its flag page is refused before anything is erased.
    bool ok = fonts.FontImageFits(data);
    if (ok) {
      fonts.PrepareStart(EraseRegion(ctx, EraseCommand::Font));
      ok = s_.process.InPackageMode() ? fonts.ProgramFont(packageFont_) : fonts.ProgramFont();
    }
    if (ok) {
      if (!s_.process.InPackageMode()) s_.fonts.HeaderReport();
      doneKinds_ += KindBit(ImageKind::Font);
      jobOk_ = true;
    } else {
      log().Log(fonts.location() == FontLocation::Font1 ? "Font_1 upgrade failure!!" : "Font_2 upgrade failure!!");
    }
  }
  return Summary();
}

JobOutcome UpgradeJob::AspiPhase(FlashContext& ctx) {
  AspiTransport& aspi = *s_.aspi;
  aspi.BeginJob();
  log().Log("Initiating InDisk...");
  if (!aspi.Available()) {
    window().ShowMessage("No ASPI for WIN32 support detected.", "F/W Upgrade", MessageIcon::Error);
    return JobOutcome::NoDevice;
  }
  if (!aspi.CreateEvent() || !s_.discovery.ScanAspiTargets()) {
    DeviceLost();
    log().Log("InDisk be removed. Device opened Failure!!");
    window().ShowMessage("Device opened Failure!!, please check the connection!", "F/W Upgrade",
                         MessageIcon::Error);
    return JobOutcome::NoDevice;
  }
  if (!s_.memory.GetDeviceStatus(sel().norSelected)) {
    log().Log("Initialization GetDeviceStatus() Failed!!");
    return JobOutcome::DeviceFailure;
  }

  if (sel().norSelected && sel().loadBootCode) {
    if (!GetMemInfo(RegionQuery::Boot)) {
      jobOk_ = false;
    } else if (s_.memory.map().bootSize == 0) {
      // Counted as done although nothing was written: the device allows no boot upgrade.
      jobOk_ = true;
      doneKinds_ = KindBit(ImageKind::BootCode);
    } else {
      BootUpgrader boot(ctx);
      jobOk_ = boot.UpgradeBootFromFile();
      if (jobOk_) doneKinds_ = KindBit(ImageKind::BootCode);
    }
  } else {
    jobOk_ = true;
    if (sel().formatChecked && !FormatDevice(ctx)) FormatFailed();
  }

  if (s_.process.extractMode) {
    FirmwareExtractor extractor(ctx, s_.memory, s_.process);
    return extractor.ExtractFirmware() ? JobOutcome::Success : JobOutcome::DeviceFailure;
  }

  if (sel().loadFirmware && jobOk_) {
    jobOk_ = false;
    FlashProgrammer programmer(ctx);
    if (GetMemInfo(RegionQuery::Firmware) && programmer.ProgramImage(ImageKind::Firmware)) {
      doneKinds_ += KindBit(ImageKind::Firmware);
      jobOk_ = true;
    }
  }

  if (!sel().norSelected && sel().backupChecked) {
    log().Log("___BackUp FW___");
    jobOk_ = false;
    FlashProgrammer programmer(ctx);
    if (GetMemInfo(RegionQuery::Backup) && programmer.ProgramImage(ImageKind::Backup)) {
      doneKinds_ += KindBit(ImageKind::Backup);
      jobOk_ = true;
    }
  }

  if (sel().loadFont && jobOk_) {
    jobOk_ = false;
    if (GetMemInfo(RegionQuery::Font) && ProgramFontData(ctx) &&
        (sel().loadFirmware || sel().loadBootCode || s_.link.SendControl(ControlCommand::EndOfFontUpdate))) {
      if (!s_.process.InPackageMode()) s_.fonts.HeaderReport();
      doneKinds_ += KindBit(ImageKind::Font);
      jobOk_ = true;
    }
  }
  return Summary();
}

bool UpgradeJob::GetMemInfo(RegionQuery query) {
  return s_.memory.GetMemInfo(query, s_.imagePages, sel().norSelected);
}

JobOutcome UpgradeJob::Summary() {
  if (!jobOk_) return JobOutcome::DeviceFailure;
  if (s_.updateControls) s_.updateControls();
  if (doneKinds_ == KindBit(ImageKind::Font)) {
    log().Log(" ***** Font Upgrade successfully!!");
    window().ShowMessage("The font has been updated into the Device.", "Successful", MessageIcon::Information);
    return JobOutcome::Success;
  }
  if (!s_.link.SendControl(ControlCommand::Restart)) return JobOutcome::DeviceFailure;
  const char* line = SummaryLine(doneKinds_);
  if (*line != '\0') log().Log(line);
  window().ShowMessage("Please Unplug the Device first!", "Successful", MessageIcon::Information);
  return JobOutcome::Success;
}

void UpgradeJob::Cleanup() {
  if (AspiTransport* aspi = s_.aspi) aspi->EndJob();
  if (DriveTransport* drive = s_.drive) {
    if (drive->DriveOpen()) drive->CloseDrive();
  }
  std::vector<std::uint8_t>().swap(packageFont_);
}

}  // namespace romsetter
