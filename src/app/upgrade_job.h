#pragma once
// One press of Upgrade (or Extract F/W): check the inputs, open the device, erase and program
// each selected region in a fixed order, restart the device and tell the user the outcome.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/main_window_model.h"
#include "base/process_state.h"
#include "app/settings_file.h"
#include "device/device_link.h"
#include "device/discovery.h"
#include "device/memory_query.h"
#include "flash/page_engine.h"
#include "package/font_list.h"
#include "package/image_checks.h"

namespace romsetter {

enum class JobMode { Upgrade, Extract };

// How a run ended, for front ends that report it (the window shows it through its boxes).
enum class JobOutcome {
  Success,        // the summary was reached (restart sent, or the font-only message)
  Refused,        // stopped before the device: a selection or an input file was refused
  NoDevice,       // the device could not be found or opened
  DeviceFailure,  // a step on the device failed
};

// Everything a job works with; all owned by the window (or the command line) for the life
// of the process.
struct JobServices {
  MainWindowModel& model;
  ProcessState& process;
  WindowPort& window;
  ActivityLog& log;
  DeviceLink& link;
  MemoryQuery& memory;
  DeviceDiscovery& discovery;
  DriveTransport* drive;  // the transport under `link`: exactly one of the two
  AspiTransport* aspi;
  ImageStore& images;
  ImagePageCounts& imagePages;
  ImageChecks& checks;
  FontList& fonts;
  SettingsFile& settings;
  Clock& clock;
  const FixedPaths& paths;
  std::function<void()> updateControls;
};

class UpgradeJob {
 public:
  explicit UpgradeJob(JobServices services) : s_(std::move(services)) {}

  JobOutcome Run(JobMode mode);

  // The sum of the image kinds whose step succeeded in the last run.
  int doneKinds() const { return doneKinds_; }
  bool jobOk() const { return jobOk_; }

 private:
  bool CheckInputs();
  bool TakePackageFont();
  JobOutcome PassThroughPhase(FlashContext& ctx);
  JobOutcome AspiPhase(FlashContext& ctx);
  bool FirmwareStepPassThrough(FlashContext& ctx);
  void FormatFailed();
  bool ProgramFontData(FlashContext& ctx);
  bool GetMemInfo(RegionQuery query);
  JobOutcome Summary();
  void Cleanup();
  void DeviceLost();
  ActivityLog& log() { return s_.log; }
  WindowPort& window() { return s_.window; }
  FlashContext Context(const std::vector<std::uint8_t>* fontData = nullptr);
  const Selections& sel() const { return s_.model.selections; }

  JobServices s_;
  bool jobOk_ = false;
  int doneKinds_ = 0;
  std::vector<std::uint8_t> packageFont_;  // the job's copy of a package's font data
};

// Whole-name "NONE" test of the job: letter case ignored.
bool IsNoneName(const std::string& name);

// The closing line for a sum of image kinds; empty when that sum has none.
const char* SummaryLine(int doneKinds);

}  // namespace romsetter
