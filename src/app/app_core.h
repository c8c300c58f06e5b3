#pragma once
// The long-lived objects of one run of the program, wired together once: what the main
// window owns, minus the window itself.  The Windows dialog and the command line both
// build one over their own ports.
#include <memory>

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
};

class AppCore {
 public:
  AppCore(AppPorts ports, ProcessState& process);
  AppCore(const AppCore&) = delete;
  AppCore& operator=(const AppCore&) = delete;

  void UpdateControls();
  JobOutcome RunJob(JobMode mode);

  AppPorts ports;
  ProcessState& process;
  MainWindowModel model;
  ActivityLog log;
  ImageStore images;
  ImagePageCounts imagePages;
  DeviceLink link;
  MemoryMap memoryMap;
  MemoryQuery memory;
  DeviceDiscovery discovery;
  SettingsFile settings;
  ImageChecks checks;
  FontList fonts;
  DevicePresence presence;
  UpgradeJob job;
};

}  // namespace romsetter
