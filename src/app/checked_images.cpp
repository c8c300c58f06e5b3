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
bool Tapped(ActivityLog& log, std::vector<std::string>& lines, bool& passed, Check check) {
  log.SetTap(&lines);
  passed = check();
  log.SetTap(nullptr);
  return passed;
}

}  // namespace

JobOutcome WorstOutcome(JobOutcome a, JobOutcome b) { return Severity(b) > Severity(a) ? b : a; }

JobOutcome PreloadImages(AppCore& core, CheckedImages& checked) {
  const Selections& s = core.model_.selections;
  if (!core.process_.InPackageMode()) {
    if (s.norSelected && s.loadBootCode &&
        !Tapped(core.log_, checked.bootLines, checked.boot, [&] { return core.checks_.CheckBootFile(s); })) {
      return JobOutcome::Refused;
    }
    if (s.loadFirmware) {
      // The device decides which of the two it takes, so both are checked when both are named.
      if (!IsNoneName(s.bigFirmwarePath) && !Tapped(core.log_, checked.bigLines, checked.big, [&] {
            return core.checks_.CheckFirmwareFile(s, ImageChecks::kBigBlock);
          })) {
        return JobOutcome::Refused;
      }
      if (!IsNoneName(s.smallFirmwarePath) && !Tapped(core.log_, checked.smallLines, checked.small, [&] {
            return core.checks_.CheckFirmwareFile(s, ImageChecks::kSmallBlock);
          })) {
        return JobOutcome::Refused;
      }
    }
    if (s.loadFont) {
      if (!Tapped(core.log_, checked.fontLines, checked.font, [&] { return core.fonts_.FontListLoader(s); })) {
        return JobOutcome::Refused;
      }
      // One header for all: the devices' jobs would otherwise write the same file at once.
      if (!core.fonts_.HeaderReport(s)) return JobOutcome::FileFailed;
    }
    core.settings_.WriteSetting("FW_Version", core.process_.fwVersion);
  }
  checked.images = core.images_;
  checked.pages = core.imagePages_;
  return JobOutcome::Success;
}

}  // namespace romsetter
