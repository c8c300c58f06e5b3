#pragma once
// The long-lived objects of one run of the program, wired together once: what the main
// window owns, minus the window itself.  The Windows dialog and the command line both
// build one over their own ports and speak to it only through the verbs below.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/activity_log.h"
#include "app/device_presence.h"
#include "app/main_window_model.h"
#include "base/process_state.h"
#include "app/settings_file.h"
#include "app/upgrade_job.h"
#include "base/clock.h"
#include "base/fixed_paths.h"
#include "device/device_link.h"
#include "device/device_registry.h"
#include "device/device_session.h"
#include "device/discovery.h"
#include "device/memory_query.h"
#include "package/font_list.h"
#include "package/image_checks.h"
#include "package/image_store.h"
#include "package/package_builder.h"

namespace romsetter {

struct AppPorts {
  WindowPort& window;
  ProfileStore& profile;
  DeviceRegistry& registry;
  Clock& clock;
  FixedPaths paths;
  SystemErrorText errorText = CRuntimeErrorText;
  // The device's session, of the family the front end chose (device/device_session.h).
  std::shared_ptr<DeviceSession> session = nullptr;
  // Images loaded and checked once for several devices (app/checked_images.h); shared, read only.
  const CheckedImages* checked = nullptr;
  // Only this drive letter (this ASPI target) can be the device; the others are left alone.
  std::optional<char> onlyDrive{};
  std::optional<ScsiTarget> onlyTarget{};
  // A script asks for a run without a probe first: the device counts as present until a run
  // finds otherwise.  The window probes instead.
  bool assumePresent = false;
};

// Every device discovery would take, found silently: drive letters on the pass-through
// transport, ASPI addresses on the other.
struct DeviceList {
  std::vector<char> drives;
  std::vector<ScsiTarget> targets;
};

class AppCore {
 public:
  AppCore(AppPorts ports, ProcessState& process);
  AppCore(const AppCore&) = delete;
  AppCore& operator=(const AppCore&) = delete;

  // Start-up: a package's images in package mode; otherwise the identification defaults
  // and, with `readSettings`, every key of the settings file into the window's model.
  void StartUp(ImageStore packageImages, bool readSettings);
  // Finds the device and sets its presence; with the window's "check product" the version
  // line too.  The drive is closed again afterwards.
  bool ProbeDevice();
  // The window's device-change and application-activation notifications (DevicePresence).
  bool OnDeviceChange(std::uint32_t event, std::uint32_t deviceType);
  void OnActivate();
  // One run of the upgrade job; presence and the window's controls follow its end.
  JobOutcome Run(JobRequest request);
  JobOutcome Run(JobMode mode) { return Run(JobRequest{mode, model_.selections}); }
  // The memory map, version and product of the device, as a run of its own.
  JobOutcome ReadDeviceInfo();
  // The identification of the device that is there now, or none.
  std::optional<PackageIdentity> IdentifyDevice();
  // Every matching device, for a run over several (nothing is logged).
  DeviceList ListDevices();
  // The package builder over the window's selections; without `identity` the one discovery
  // last matched.  Device changes wait until it is done.
  bool BuildPackage(PackageFiles& files, std::optional<PackageIdentity> identity = std::nullopt);
  // The font list's data file, then its header: Refused, FileFailed or Success.
  JobOutcome WriteFontHeader();
  // The package's files written out again on the extract key (package mode).
  void ExtractPackageFiles(PackageFiles& files);
  // Recomputes which of the window's controls are enabled.
  void UpdateControls();

  // What the front ends read, and the window's own state and settings handlers.
  MainWindowModel& model() { return model_; }
  SettingsFile& settings() { return settings_; }
  LogSink& log() { return log_; }
  bool devicePresent() const { return discovery_.present(); }
  const std::string& versionLine() const { return discovery_.versionLine(); }
  const DeviceIdentity& identity() const { return discovery_.identity(); }
  const ImageStore& images() const { return images_; }
  const std::vector<PlanEntry>& plan() const { return job_.plan(); }
  int doneKinds() const { return job_.doneKinds(); }

 private:
  friend JobOutcome PreloadImages(AppCore& core, CheckedImages& checked);

  AppPorts ports_;
  ProcessState& process_;
  MainWindowModel model_;
  ActivityLog log_;
  ImageStore images_;
  ImagePageCounts imagePages_;
  DeviceLink link_;
  MemoryMap memoryMap_;
  MemoryQuery memory_;
  DeviceDiscovery discovery_;
  SettingsFile settings_;
  ImageChecks checks_;
  FontList fonts_;
  DevicePresence presence_;
  UpgradeJob job_;
};

}  // namespace romsetter
