#pragma once
// One press of Upgrade (or Extract F/W): check the inputs, open the device, erase and program
// each selected region in a fixed order, restart the device and tell the user the outcome.
#include <cstdint>
#include <string>
#include <vector>

#include "app/dry_run.h"
#include "app/job_plan.h"

namespace romsetter {

// DryRun: everything up to the first write (inputs, discovery, the memory map, every image and
// region check) with read-only commands, and the plan of the real run instead of its writes.
enum class JobMode { Upgrade, Extract, DryRun };

// What one run is asked to do, taken by value: the window's selections may change while the
// run's boxes are up, the run goes on with those it was started with.
struct JobRequest {
  JobMode mode = JobMode::Upgrade;
  Selections selections;
};

// How a run ended, for front ends that report it (the window shows it through its boxes).
enum class JobOutcome {
  Success,        // the summary was reached (restart sent, or the font-only message)
  Refused,        // stopped before the device: a selection or an input file was refused
  NoDevice,       // the device could not be found or opened
  DeviceFailure,  // a step on the device failed (the steps after it may still have run)
  FileFailed,     // the device got everything, but a file on this computer could not be written
};

class UpgradeJob {
 public:
  explicit UpgradeJob(JobServices services) : s_(std::move(services)) {}

  JobOutcome Run(JobRequest request);

  // The sum of the image kinds whose step succeeded in the last run.
  int doneKinds() const { return doneKinds_; }
  // What the last dry run found the real run would write.
  const std::vector<PlanEntry>& plan() const { return plan_; }

 private:
  // Success when the run may go on to the device.
  JobOutcome CheckInputs(JobFamily& family);
  bool TakePackageFont();
  bool Replay(const std::vector<std::string>& lines, bool made);
  bool CheckBoot();
  bool CheckFirmware(int kind);
  bool LoadFontList();
  JobOutcome RunPlan(JobFamily& family, FlashContext& ctx);
  StepResult RunStep(JobFamily& family, FlashContext& ctx, JobStep step);
  StepResult FormatStep(FlashContext& ctx);
  StepResult ExtractStep(FlashContext& ctx);
  JobOutcome Summary(bool ok);
  StepResult DryRunStep(JobFamily& family, FlashContext& ctx, JobStep step);  // dry_run.cpp
  void EstimateDryRun();
  ActivityLog& log() { return s_.log; }
  WindowPort& window() { return s_.window; }
  const Selections& sel() const { return request_.selections; }

  JobServices s_;
  JobRequest request_;  // the run in progress
  int doneKinds_ = 0;
  bool headerFailed_ = false;  // this run's fonts are on the device, their header is not
  std::vector<std::uint8_t> packageFont_;  // the job's copy of a package's font data
  bool dryRun_ = false;
  std::vector<PlanEntry> plan_;
  double answerSeconds_ = 0;  // the dry run's region queries: their time and number
  int answers_ = 0;
};

// Whole-name "NONE" test of the job: letter case ignored.
bool IsNoneName(const std::string& name);

// The closing line for a sum of image kinds; empty when that sum has none.
const char* SummaryLine(int doneKinds);

}  // namespace romsetter
