#pragma once
// Finding the device: the identification entries of the settings file, the NT search for
// the device's drive (set-up list, storage instance, mounted volume) and the ASPI target scan.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "app/profile_store.h"
#include "device/device_link.h"
#include "device/device_registry.h"

namespace romsetter {

class DeviceDiscovery {
 public:
  // Read limits for what the system hands back; anything larger is not looked at.
  static constexpr std::size_t kHardwareIdLimit = 1024;
  static constexpr std::size_t kParentIdPrefixLimit = 256;
  static constexpr std::size_t kMountedDeviceLimit = 1024;

  // Installs the target scan into the link for its ASPI product query, until destroyed.
  DeviceDiscovery(DeviceLink& link, ProfileStore& store, const ProcessState& process, DeviceRegistry& registry);
  ~DeviceDiscovery();
  DeviceDiscovery(const DeviceDiscovery&) = delete;
  DeviceDiscovery& operator=(const DeviceDiscovery&) = delete;

  // Rewrites the settings file with the version and the default entry 0 when its
  // "IniVersion" is missing or below 1.72.  True when it did.  Never in package mode.
  bool WriteIdentificationDefaults();

  // ---- NT (pass-through) ----
  // Finds the device's drive and opens it on the link's drive transport.  With
  // `showMessage` a failure is also shown to the user.  Any drive open before is closed.
  bool OpenDev(bool showMessage);
  // The drive letter of the device (checked to open), or none.
  std::optional<char> FindInDisk();
  // The drive letter mounted for a storage instance of `instanceKeyPath` that opens.
  std::optional<char> FindDriveLetter(const std::string& instanceKeyPath);

  // ---- ASPI (within a job: block, buffer and event ready) ----
  bool ScanAspiTargets();
  // Examines one INQUIRY outcome from `adapter`/`target`; on a match that becomes the
  // device's address.
  bool MatchInquiry(const InquiryReply& reply, const ScsiResult& result, std::uint8_t adapter,
                    std::uint8_t target);
  // A whole ASPI job: availability, event, scan, GetDeviceStatus and, with `flashType`,
  // the firmware-region query (sent even when the status test failed).  The result of
  // GetDeviceStatus; false when ASPI is unusable or no target matched.
  bool ProbeAspi(bool flashType);

  // ---- Both transports ----
  // Start-up and device-change probe: sets `devicePresent`; with `queryProduct` and the
  // device present, fills the version line.  The drive is closed again afterwards.
  bool ProbeDevice(bool queryProduct);
  // The Upgrade command's silent probe that learns the flash type.  Sets the big-block
  // image count to 1 first so the size comparison cannot refuse for want of an image.
  // True when the firmware-region query succeeded.
  bool ProbeFlashType();

 private:
  struct AspiProbe {
    bool status = false;
    bool flashQuery = false;
  };
  AspiProbe RunAspiProbe(bool flashType);
  // Package mode: the identity comes from the package, not the settings file.
  void ApplyPresets();
  // Walks the device list for the current hardwareId, logging each id it reads.
  bool WalkDevices(const std::vector<RegistryValue>& devices);
  std::string ReadEntry(const char* section, const std::string& key);
  ActivityLog& log() { return link_.log(); }

  DeviceLink& link_;
  ProfileStore& store_;
  const ProcessState& process_;
  DeviceRegistry& registry_;
};

}  // namespace romsetter
