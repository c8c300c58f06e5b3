#pragma once
// Re-probing the device when a volume arrives or leaves, and closing the system's removal
// warnings when the application is activated.
#include <cstdint>
#include <functional>

#include "app/main_window_model.h"
#include "app/window_port.h"
#include "base/clock.h"
#include "device/discovery.h"

namespace romsetter {

class DevicePresence {
 public:
  static constexpr std::uint32_t kArrivalSleepMs = 2000;
  static constexpr std::uint32_t kRemovalSleepMs = 1000;
  // Device-change notification codes and the volume device type.
  static constexpr std::uint32_t kDeviceArrival = 0x8000;
  static constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;
  static constexpr std::uint32_t kDeviceTypeVolume = 2;

  DevicePresence(WindowPort& window, DeviceDiscovery& discovery, MainWindowModel& model, Clock& clock,
                 std::function<void()> updateControls);

  // True when the notification was one of the two handled (the caller then still does the
  // default processing).
  bool OnDeviceChange(std::uint32_t event, std::uint32_t deviceType);
  void OnVolumeArrival();
  void OnVolumeRemoval();
  void OnActivate();

 private:
  WindowPort& window_;
  DeviceDiscovery& discovery_;
  MainWindowModel& model_;
  Clock& clock_;
  std::function<void()> updateControls_;
};

}  // namespace romsetter
