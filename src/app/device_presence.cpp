#include "app/device_presence.h"

#include <utility>

#include "app/removal_warnings.h"

namespace romsetter {

DevicePresence::DevicePresence(DeviceLink& link, DeviceDiscovery& discovery, MainWindowModel& model, Clock& clock,
                               std::function<void()> updateControls)
    : link_(link), discovery_(discovery), model_(model), clock_(clock), updateControls_(std::move(updateControls)) {}

bool DevicePresence::OnDeviceChange(std::uint32_t event, std::uint32_t deviceType) {
  if (deviceType != kDeviceTypeVolume) return false;
  if (event == kDeviceArrival) {
    OnVolumeArrival();
    return true;
  }
  if (event == kDeviceRemoveComplete) {
    OnVolumeRemoval();
    return true;
  }
  return false;
}

void DevicePresence::OnVolumeArrival() {
  link_.window().SetWaitCursor();
  clock_.SleepMs(kArrivalSleepMs);  // let the system finish mounting the volume
  discovery_.ProbeDevice(model_.selections.checkProduct);
  if (updateControls_) updateControls_();
}

void DevicePresence::OnVolumeRemoval() {
  link_.window().SetWaitCursor();
  clock_.SleepMs(kRemovalSleepMs);
  discovery_.ProbeDevice(false);
  if (model_.selections.checkProduct) {
    link_.versionLabel.clear();
    model_.versionLabel.clear();
    link_.window().SetVersionLine("");
  }
  if (updateControls_) updateControls_();
}

void DevicePresence::OnActivate() { CloseRemovalWarnings(link_.window(), clock_); }

}  // namespace romsetter
