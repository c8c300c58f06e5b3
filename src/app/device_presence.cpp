#include "app/device_presence.h"

#include <utility>

#include "app/removal_warnings.h"

namespace romsetter {

DevicePresence::DevicePresence(WindowPort& window, DeviceDiscovery& discovery, MainWindowModel& model, Clock& clock,
                               std::function<void()> updateControls)
    : window_(window), discovery_(discovery), model_(model), clock_(clock), updateControls_(std::move(updateControls)) {}

bool DevicePresence::OnDeviceChange(std::uint32_t event, std::uint32_t deviceType) {
  if (deviceType != kDeviceTypeVolume || !CarriesDeviceHeader(event)) return false;
  if (work_ > 0) {
    pending_ = event;  // the probe afterwards sees the device as it is then
    return true;
  }
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

void DevicePresence::EndWork() {
  if (work_ > 0) --work_;
  if (work_ > 0 || pending_ == 0) return;
  const std::uint32_t event = std::exchange(pending_, 0);
  OnDeviceChange(event, kDeviceTypeVolume);
}

void DevicePresence::OnVolumeArrival() {
  window_.SetWaitCursor();
  clock_.SleepMs(kArrivalSleepMs);  // let the system finish mounting the volume
  discovery_.ProbeDevice(model_.selections.checkProduct, model_.selections.norSelected);
  if (updateControls_) updateControls_();
}

void DevicePresence::OnVolumeRemoval() {
  window_.SetWaitCursor();
  clock_.SleepMs(kRemovalSleepMs);
  discovery_.ProbeDevice(false, model_.selections.norSelected);
  if (model_.selections.checkProduct) {
    discovery_.ClearVersionLine();
    model_.versionLabel.clear();
    window_.SetVersionLine("");
  }
  if (updateControls_) updateControls_();
}

void DevicePresence::OnActivate() { CloseRemovalWarnings(window_, clock_); }

}  // namespace romsetter
