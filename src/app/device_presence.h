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

  // Only these two events carry a device header; every other event's parameter is something
  // else (a drive number, a screen size), so it is read only after this said yes.
  static bool CarriesDeviceHeader(std::uint32_t event) {
    return event == kDeviceArrival || event == kDeviceRemoveComplete;
  }

  // True when the notification was one of the two handled (the caller then still does the
  // default processing).  While work is under way it is only remembered.
  bool OnDeviceChange(std::uint32_t event, std::uint32_t deviceType);
  // A job or the package builder runs between these: its boxes still dispatch messages, and
  // a probe then would close the job's drive handle or free its ASPI request.  The last
  // volume event meanwhile is handled at the end of the outermost work.
  void BeginWork() { ++work_; }
  void EndWork();
  void OnVolumeArrival();
  void OnVolumeRemoval();
  void OnActivate();

 private:
  WindowPort& window_;
  DeviceDiscovery& discovery_;
  MainWindowModel& model_;
  Clock& clock_;
  std::function<void()> updateControls_;
  int work_ = 0;
  std::uint32_t pending_ = 0;  // the event remembered during work; 0: none
};

}  // namespace romsetter
