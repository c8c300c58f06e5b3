#pragma once
// The NT family's search for the device's drive: the identification entry whose hardware id
// the USB storage device list holds, then the drive letter mounted for one of its storage
// instances (ParentIdPrefix and MountedDevices, or the later Windows ways) that opens.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/device_registry.h"
#include "device/drive_locator.h"

namespace romsetter {

class NtDriveSearch final : public DriveLocator {
 public:
  // Read limits for what the system hands back; anything larger is not looked at.
  static constexpr std::size_t kHardwareIdLimit = 1024;
  static constexpr std::size_t kParentIdPrefixLimit = 256;
  static constexpr std::size_t kMountedDeviceLimit = 1024;

  explicit NtDriveSearch(DeviceRegistry& registry) : registry_(registry) {}

  // The drive "\\.\E:" of the device, named "E:", found with the search's lines.
  std::optional<LocatedDrive> Locate(DriveTransport& drive, ProfileStore& store, const ProcessState& process,
                                     LogSink& log) override;
  std::optional<std::string> DeniedPath() const override;
  const DeviceIdentity* SearchedIdentity() const override { return &identity_; }

  // The drive letter of the device (checked to open on `drive`), or none; the identity is
  // left at the entry tried last.
  std::optional<char> FindInDisk(DriveTransport& drive, ProfileStore& store, const ProcessState& process, LogSink& log);
  // Every drive letter the search would take, in order and silently: the first entry whose
  // hardware id the device list holds, then each letter mounted for one of its storage
  // instances that opens (closed again).
  std::vector<char> MatchingDrives(DriveTransport& drive, ProfileStore& store, const ProcessState& process);
  // From now on only this letter can be the device: every other is passed over unopened, so
  // another job's drive is not disturbed.
  void RestrictTo(char letter) { onlyDrive_ = letter; }
  const DeviceIdentity& identity() const { return identity_; }

 private:
  // Walks the device list for `hardwareId`; with `log` each id read is logged.
  static bool WalkDevices(const std::vector<RegistryValue>& devices, const std::string& hardwareId, LogSink* log);
  // The letters mounted for the storage instances of `instanceKeyPath` that open: the first
  // only, or with `every` all of them.
  std::vector<char> DriveLetters(DriveTransport& drive, const std::string& instanceKeyPath, bool every);
  // When no storage instance has a removable-media volume the XP way: the letters of the
  // instances as later Windows records them.  `take` opens a letter and says when to stop.
  void LaterWindowsLetters(const std::string& instanceKeyPath, const std::vector<std::string>& instances,
                           const std::function<bool(char)>& allowed, const std::function<bool(char)>& take);

  DeviceRegistry& registry_;
  std::optional<char> onlyDrive_;
  // The letter the last search matched but could not open for want of rights.
  std::optional<char> deniedDrive_;
  DeviceIdentity identity_;
};

}  // namespace romsetter
