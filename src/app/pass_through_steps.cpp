// The job over the storage pass-through: each region is erased just before it is written, the
// device is set up once before anything else, and a failed font moves on to Font_2.
#include "app/job_plan.h"
#include "flash/flash_programmer.h"
#include "flash/font_programmer.h"

namespace romsetter {

namespace {

class PassThroughFamily final : public JobFamily {
 public:
  PassThroughFamily(JobServices& s, FlashContext& ctx, DriveSession& session) : s_(s), ctx_(ctx), session_(session) {}

  std::vector<PlannedStep> Plan(const Selections& sel, bool extract) const override {
    std::vector<PlannedStep> plan{{JobStep::Open, StepGate::Always}, {JobStep::Prepare, StepGate::Always}};
    if (extract) {
      plan.push_back({JobStep::Extract, StepGate::Always});
      return plan;
    }
    if (sel.norSelected && sel.loadBootCode) {
      plan.push_back({JobStep::Boot, StepGate::Always});
    } else if (sel.formatChecked) {
      plan.push_back({JobStep::Format, StepGate::Always});
    }
    if (sel.loadFirmware) plan.push_back({JobStep::Firmware, StepGate::WhileOk});
    if (!sel.norSelected && sel.backupChecked) plan.push_back({JobStep::Backup, StepGate::Always});
    if (sel.loadFont) plan.push_back({JobStep::Font, StepGate::WhileOk});
    return plan;
  }

  StepResult Open() override {
    if (!s_.discovery.OpenDev(true)) return StepResult::NoDevice;
    // The file system, Explorer or a scanner would send their own commands between ours and
    // could write cached data back after a format; without the lock the job goes on as it was.
    std::uint32_t error = 0;
    if (!session_.drive().LockVolume(error)) {
      s_.log.Logf("Can't lock the volume of %s (error %u), it stays mounted during the upgrade.",
                  s_.discovery.inDiskName().c_str(), error);
    }
    return StepResult::Done;
  }

  // As the open that failed would have said it.
  void DeviceMissing() override {
    if (s_.discovery.accessDenied()) {
      s_.window.ShowMessage(DeviceDiscovery::kAccessDeniedMessage, "F/W Upgrade", MessageIcon::Error);
      return;
    }
    s_.log.Log("The device opened failure!!");
    s_.window.ShowMessage("The device opened failure!!,please check the connection!", "F/W Upgrade",
                          MessageIcon::Error);
  }

  StepResult Prepare() override {
    const Selections& sel = ctx_.selections;
    const InitRequest init{sel.norSelected, sel.loadBootCode, sel.loadFirmware, sel.loadFont};
    if (s_.memory.InitDevice(init, s_.imagePages)) return StepResult::Done;
    MarkDeviceLost(s_);
    s_.log.Log("Initialization Failed!!");
    return StepResult::DeviceFailure;
  }

  StepResult Boot() override {
    // Boot code was asked for, but the device has no boot region to take it (its line was
    // logged when the regions were queried).
    if (s_.memory.map().bootSize == 0) return StepResult::Failed;
    return EraseAndProgram(EraseCommand::Boot, ImageKind::BootCode);
  }

  StepResult Firmware() override { return EraseAndProgram(EraseCommand::Firmware, ImageKind::Firmware); }

  // The region is queried before it is erased (as over ASPI), so every reason the copies
  // could not be written is known while the old ones are still there.
  StepResult Backup() override {
    if (!s_.memory.GetMemInfo(RegionQuery::Backup, s_.imagePages, ctx_.selections.norSelected)) {
      return StepResult::Failed;
    }
    return EraseAndProgram(EraseCommand::Backup, ImageKind::Backup);
  }

  StepResult Font(const std::vector<std::uint8_t>& fontData) override {
    FontProgrammer fonts(ctx_);
    // A font the region cannot hold with its flag page is refused before anything is erased.
    bool ok = fonts.FontImageFits(fontData);
    if (ok) {
      fonts.PrepareStart(EraseRegion(ctx_, EraseCommand::Font));
      ok = fonts.ProgramFont(fontData);
    }
    if (!ok) {
      s_.log.Log(fonts.location() == FontLocation::Font1 ? "Font_1 upgrade failure!!" : "Font_2 upgrade failure!!");
    }
    return Result(ok);
  }

  void Close() override {
    if (session_.drive().DriveOpen()) session_.drive().CloseDrive();
  }

 private:
  static StepResult Result(bool ok) { return ok ? StepResult::Done : StepResult::Failed; }
  // Nothing is erased that the write after it would refuse.
  StepResult EraseAndProgram(EraseCommand erase, ImageKind kind) {
    FlashProgrammer programmer(ctx_);
    return Result(programmer.ReadyToProgram(kind) && EraseRegion(ctx_, erase) && programmer.ProgramImage(kind));
  }

  JobServices& s_;
  FlashContext& ctx_;
  DriveSession& session_;
};

}  // namespace

std::unique_ptr<JobFamily> MakePassThroughFamily(JobServices& services, FlashContext& ctx, DriveSession& session) {
  return std::make_unique<PassThroughFamily>(services, ctx, session);
}

}  // namespace romsetter
