// The job over ASPI: the device is found by a target scan, every region is queried just
// before it is written, the programmers erase their own regions, and the boot code goes
// through the boot upgrader.  Extraction comes after the boot or format step.
#include <optional>

#include "app/job_plan.h"
#include "flash/boot_upgrade.h"
#include "flash/flash_programmer.h"
#include "flash/font_programmer.h"

namespace romsetter {

namespace {

class AspiFamily final : public JobFamily {
 public:
  AspiFamily(JobServices& s, FlashContext& ctx, AspiSession& session) : s_(s), ctx_(ctx), session_(session) {}

  std::vector<PlannedStep> Plan(const Selections& sel, bool extract) const override {
    std::vector<PlannedStep> plan{{JobStep::Open, StepGate::Always}, {JobStep::Prepare, StepGate::Always}};
    if (sel.norSelected && sel.loadBootCode) {
      plan.push_back({JobStep::Boot, StepGate::Always});
    } else if (sel.formatChecked) {
      plan.push_back({JobStep::Format, StepGate::Always});
    }
    if (extract) {
      plan.push_back({JobStep::Extract, StepGate::Always});
      return plan;
    }
    if (sel.loadFirmware) plan.push_back({JobStep::Firmware, StepGate::WhileOk});
    if (!sel.norSelected && sel.backupChecked) plan.push_back({JobStep::Backup, StepGate::Always});
    if (sel.loadFont) plan.push_back({JobStep::Font, StepGate::WhileOk});
    return plan;
  }

  StepResult Open() override {
    job_.emplace(session_);
    s_.log.Log("Initiating InDisk...");
    if (!job_->Available()) {
      s_.window.ShowMessage("No ASPI for WIN32 support detected.", "F/W Upgrade", MessageIcon::Error);
      return StepResult::NoDevice;
    }
    if (!job_->CreateEvent() || !s_.discovery.ScanAspiTargets()) {
      DeviceMissing();
      return StepResult::NoDevice;
    }
    return StepResult::Done;
  }

  void DeviceMissing() override {
    MarkDeviceLost(s_);
    s_.log.Log("InDisk be removed. Device opened Failure!!");
    s_.window.ShowMessage("Device opened Failure!!, please check the connection!", "F/W Upgrade",
                          MessageIcon::Error);
  }

  StepResult Prepare() override {
    if (s_.memory.GetDeviceStatus(ctx_.selections.norSelected)) return StepResult::Done;
    s_.log.Log("Initialization GetDeviceStatus() Failed!!");
    return StepResult::DeviceFailure;
  }

  StepResult Boot() override {
    if (!Query(RegionQuery::Boot)) return StepResult::Failed;
    // Boot code was asked for, but the device allows no boot upgrade (the query said so).
    if (s_.memory.map().bootSize == 0) return StepResult::Failed;
    return Result(BootUpgrader(ctx_).UpgradeBootFromFile());
  }

  StepResult Firmware() override {
    return Result(Query(RegionQuery::Firmware) && FlashProgrammer(ctx_).ProgramImage(ImageKind::Firmware));
  }

  StepResult Backup() override {
    return Result(Query(RegionQuery::Backup) && FlashProgrammer(ctx_).ProgramImage(ImageKind::Backup));
  }

  StepResult Font(const std::vector<std::uint8_t>& fontData) override {
    const Selections& sel = ctx_.selections;
    // Without firmware or boot code no restart follows, so the font closes the update itself.
    return Result(Query(RegionQuery::Font) && FontProgrammer(ctx_).ProgramFont(fontData) &&
                  (sel.loadFirmware || sel.loadBootCode || s_.link.SendControl(ControlCommand::EndOfFontUpdate)));
  }

  void Close() override { job_.reset(); }

 private:
  static StepResult Result(bool ok) { return ok ? StepResult::Done : StepResult::Failed; }
  bool Query(RegionQuery query) {
    return s_.memory.GetMemInfo(query, s_.imagePages, ctx_.selections.norSelected);
  }

  JobServices& s_;
  FlashContext& ctx_;
  AspiSession& session_;
  std::optional<AspiJob> job_;  // from Open to Close
};

}  // namespace

std::unique_ptr<JobFamily> MakeAspiFamily(JobServices& services, FlashContext& ctx, AspiSession& session) {
  return std::make_unique<AspiFamily>(services, ctx, session);
}

}  // namespace romsetter
