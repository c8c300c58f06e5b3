#pragma once
// The upgrade job as a plan: the steps of one run, chosen once from the selections by the
// transport family, and the typed result each step hands back to the loop that runs them.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/activity_log.h"
#include "base/selections.h"
#include "app/settings_file.h"
#include "app/window_port.h"
#include "base/process_state.h"
#include "device/device_link.h"
#include "device/device_session.h"
#include "device/discovery.h"
#include "device/memory_query.h"
#include "flash/page_engine.h"
#include "package/font_list.h"
#include "package/image_checks.h"

namespace romsetter {

struct CheckedImages;

// Everything a job works with besides its request; all owned by the application core for the
// life of the process.
struct JobServices {
  ProcessState& process;
  WindowPort& window;
  ActivityLog& log;
  DeviceLink& link;
  MemoryQuery& memory;
  DeviceDiscovery& discovery;
  DeviceSession& session;  // the one under `link`
  ImageStore& images;
  ImagePageCounts& imagePages;
  ImageChecks& checks;
  FontList& fonts;
  SettingsFile& settings;
  Clock& clock;
  const FixedPaths& paths;
  std::function<void()> updateControls;
  // Set when the images were loaded and checked once for several devices: the job logs the
  // checks' lines instead of reading the files again, and leaves the font header alone.
  const CheckedImages* checked = nullptr;
};

enum class JobStep { Open, Prepare, Extract, Boot, Format, Firmware, Backup, Font };

// When a planned step runs.
enum class StepGate {
  Always,
  WhileOk,  // only while every step so far that decides success has succeeded
};

struct PlannedStep {
  JobStep step;
  StepGate gate;
};

enum class StepResult {
  Done,           // the region is in place; its image kind counts toward the closing line
  Failed,         // the run goes on, but steps gated on success are passed over and nothing restarts
  NoDevice,       // the run ends: the device could not be found or opened
  DeviceFailure,  // the run ends: the device failed a step it could not go on from
  Finished,       // the run ends successfully here (extraction)
  FileFailed,     // the run ends: the device work was done, but a file here could not be written
};

// What the two transport families do differently in a job: the order of the steps and how
// each device step talks to the device.  Steps both families share (format, extraction,
// the closing summary) are the job's own.
class JobFamily {
 public:
  virtual ~JobFamily() = default;
  virtual std::vector<PlannedStep> Plan(const Selections& selections, bool extract) const = 0;
  virtual StepResult Open() = 0;     // find and open the device
  // The family's lines and box for a device that could not be found before the run.
  virtual void DeviceMissing() = 0;
  virtual StepResult Prepare() = 0;  // first queries, before anything is erased
  virtual StepResult Boot() = 0;
  virtual StepResult Firmware() = 0;
  virtual StepResult Backup() = 0;   // after the job has logged the backup heading
  virtual StepResult Font(const std::vector<std::uint8_t>& fontData) = 0;
  virtual void Close() = 0;          // after every run, however it ended
};

// One per transport family; each keeps references to its arguments for the run.
std::unique_ptr<JobFamily> MakePassThroughFamily(JobServices& services, FlashContext& ctx, DriveSession& session);
std::unique_ptr<JobFamily> MakeAspiFamily(JobServices& services, FlashContext& ctx, AspiSession& session);

// Shared by both families: the device is gone, so the window's controls follow.
void MarkDeviceLost(JobServices& services);

}  // namespace romsetter
