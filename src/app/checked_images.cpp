#include "app/checked_images.h"

#include "app/app_core.h"
#include "app/upgrade_job.h"

namespace romsetter {

namespace {

int Severity(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Success: return 0;
    case JobOutcome::FileFailed: return 1;
    case JobOutcome::Refused: return 2;
    case JobOutcome::NoDevice: return 3;
    case JobOutcome::DeviceFailure: return 4;
  }
  return 4;
}

// Runs one check with its lines kept in `lines`.
template <typename Check>
bool Tapped(AppCore& core, std::vector<std::string>& lines, bool& passed, Check check) {
  core.log.SetTap(&lines);
  passed = check();
  core.log.SetTap(nullptr);
  return passed;
}

}  // namespace

JobOutcome WorstOutcome(JobOutcome a, JobOutcome b) { return Severity(b) > Severity(a) ? b : a; }

JobOutcome PreloadImages(AppCore& core, CheckedImages& checked) {
  const Selections& s = core.model.selections;
  if (!core.process.InPackageMode()) {
    if (s.norSelected && s.loadBootCode &&
        !Tapped(core, checked.bootLines, checked.boot, [&] { return core.checks.CheckBootFile(); })) {
      return JobOutcome::Refused;
    }
    if (s.loadFirmware) {
      // The device decides which of the two it takes, so both are checked when both are named.
      if (!IsNoneName(s.bigFirmwarePath) &&
          !Tapped(core, checked.bigLines, checked.big, [&] { return core.checks.CheckFirmwareFile(ImageChecks::kBigBlock); })) {
        return JobOutcome::Refused;
      }
      if (!IsNoneName(s.smallFirmwarePath) &&
          !Tapped(core, checked.smallLines, checked.small, [&] { return core.checks.CheckFirmwareFile(ImageChecks::kSmallBlock); })) {
        return JobOutcome::Refused;
      }
    }
    if (s.loadFont) {
      if (!Tapped(core, checked.fontLines, checked.font, [&] { return core.fonts.FontListLoader(); })) return JobOutcome::Refused;
      // One header for all: the devices' jobs would otherwise write the same file at once.
      if (!core.fonts.HeaderReport()) return JobOutcome::FileFailed;
    }
    core.settings.WriteSetting("FW_Version", core.process.fwVersion);
  }
  checked.images = core.images;
  checked.pages = core.imagePages;
  return JobOutcome::Success;
}

}  // namespace romsetter
