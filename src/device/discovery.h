#pragma once
// Finding the device: the identification entries of the settings file, the NT search for
// the device's drive (set-up list, storage instance, mounted volume) and the ASPI target scan.
#include <cstddef>
#include <optional>
#include <string>
#include <functional>
#include <vector>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "base/user_ports.h"
#include "device/aspi_transport.h"
#include "device/device_link.h"
#include "device/device_registry.h"
#include "device/memory_query.h"

namespace romsetter {

struct DeviceIdentity {
  std::string hardwareId;       // "USBSTOR\%s"
  std::string instanceKeyPath;  // "SYSTEM\CurrentControlSet\Enum\USBSTOR\%s"
  std::string inquiryText;      // INQUIRY bytes 8-35
};

// A device's drive found by a search other than the NT registry's (Linux: sysfs).
struct LocatedDrive {
  std::string inDiskName;  // how the log names it
  std::string devicePath;  // what the drive transport opens
  DeviceIdentity identity;  // the identification entry it matched
};

// Where OpenDev finds the drive when a locator is given instead of the registry search.
// Locate runs the whole search with its own log lines, checks that the drive opens on
// `drive` (closing it again), and gives none when there is no device, more than one, or one
// that must not be written to; the reason is then logged.  It never throws.
class DriveLocator {
 public:
  virtual ~DriveLocator() = default;
  virtual std::optional<LocatedDrive> Locate(DriveTransport& drive, ProfileStore& store, const ProcessState& process,
                                             LogSink& log) = 0;
};

// What discovery works with; exactly one of `drive` and `aspi` is set, and it is the
// transport under `link`.
struct DiscoveryPorts {
  DeviceLink& link;
  MemoryQuery& memory;
  DriveTransport* drive;
  AspiTransport* aspi;
  ProfileStore& store;
  const ProcessState& process;
  DeviceRegistry& registry;
  LogSink& log;
  MessagePort& messages;
  ProgressObserver& progress;
  // Told each new version line (the product query's result).
  std::function<void(const std::string&)> versionLineChanged;
  // With `drive`: finds the drive instead of the NT registry search.
  DriveLocator* locator = nullptr;
};

class DeviceDiscovery {
 public:
  // Read limits for what the system hands back; anything larger is not looked at.
  static constexpr std::size_t kHardwareIdLimit = 1024;
  static constexpr std::size_t kParentIdPrefixLimit = 256;
  static constexpr std::size_t kMountedDeviceLimit = 1024;

  explicit DeviceDiscovery(DiscoveryPorts ports);
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
  bool MatchInquiry(const Reply<InquiryReply>& reply, ScsiTarget address);
  // A whole ASPI job: availability, event, scan, GetDeviceStatus and, with `flashType`,
  // the firmware-region query (sent even when the status test failed).  The result of
  // GetDeviceStatus; false when ASPI is unusable or no target matched.
  bool ProbeAspi(bool flashType, bool nor);

  // ---- Several devices at once ----
  // Every drive letter the NT search would take, in order and silently: the first
  // identification entry whose hardware id the device list holds, then each letter mounted
  // for one of its storage instances that opens (closed again).  Empty without a drive.
  std::vector<char> MatchingDrives();
  // Every address whose INQUIRY text matches, silently, in an ASPI job of its own.
  std::vector<ScsiTarget> MatchingTargets();
  // From now on only this drive (this target) can be the device: the search passes every
  // other letter over without opening it, and the scan sends no INQUIRY elsewhere, so the
  // log is that of a run with this device alone and no other device is disturbed.
  void RestrictToDrive(char letter) { onlyDrive_ = letter; }
  void RestrictToTarget(ScsiTarget address) { onlyTarget_ = address; }

  // ---- Both transports ----
  // Start-up and device-change probe: sets `devicePresent`; with `queryProduct` and the
  // device present, fills the version line.  The drive is closed again afterwards.
  bool ProbeDevice(bool queryProduct, bool nor);
  // The Upgrade command's silent probe that learns the flash type.  The size comparison is
  // made against one big-block page, so it cannot refuse for want of an image.
  enum class FlashTypeProbe {
    Queried,      // the firmware-region query succeeded
    NoDevice,     // the drive could not be opened, or no ASPI target answered as the device
    QueryFailed,  // the device was there but the query failed
  };
  FlashTypeProbe ProbeFlashType(bool nor);
  // The version line from the device (pass-through: the version, then the product; ASPI: a
  // job of its own that asks for both), handed to `versionLineChanged`.  Only while present.
  // True only when both the version and the product came back.
  bool QueryProduct(bool nor);

  // The box of an open refused for want of rights (Vista and later, without administrator).
  static constexpr const char* kAccessDeniedMessage =
      "Access to the device is denied.\nPlease run the program as administrator!";
  // The last OpenDev found the device's drive but was refused it for want of rights.
  bool accessDenied() const { return accessDenied_; }

  // ---- What discovery learnt ----
  bool present() const { return present_; }
  // The job clears it when the device cannot be opened or initialised.
  void SetPresent(bool present) { present_ = present; }
  const DeviceIdentity& identity() const { return identity_; }
  const std::string& inDiskName() const { return inDiskName_; }
  const std::string& versionLine() const { return versionLine_; }
  void ClearVersionLine() { versionLine_.clear(); }

 private:
  struct AspiProbe {
    bool found = false;
    bool status = false;
    bool flashQuery = false;
  };
  AspiProbe RunAspiProbe(bool flashType, bool nor);
  // Package mode: the identity comes from the package, not the settings file.
  void ApplyPresets();
  // Walks the device list for `hardwareId`; with `logIds` each id read is logged.
  bool WalkDevices(const std::vector<RegistryValue>& devices, const std::string& hardwareId, bool logIds);
  // The letters mounted for the storage instances of `instanceKeyPath` that open: the
  // first only, or with `every` all of them.
  std::vector<char> DriveLetters(const std::string& instanceKeyPath, bool every);
  // When no storage instance has a removable-media volume the XP way: the letters of the
  // instances as later Windows records them.  `take` opens a letter and says when to stop.
  void LaterWindowsLetters(const std::string& instanceKeyPath, const std::vector<std::string>& instances,
                           const std::function<bool(char)>& allowed, const std::function<bool(char)>& take);
  // Sends INQUIRY to every address the restriction allows until `answered` says stop.
  bool AskTargets(AspiTransport& aspi, const std::function<bool(ScsiTarget, const Reply<InquiryReply>&)>& answered);
  // Whether an INQUIRY text is the device's: the package's text, or the entries in order
  // (`identity` is left at the last entry tried).  With `quiet` nothing is logged.
  bool IdentifyText(const std::string& text, DeviceIdentity& identity, bool quiet);
  std::string ReadEntry(const char* section, const std::string& key);
  void SetVersionLine(const std::string& line);
  LogSink& log() { return p_.log; }

  DiscoveryPorts p_;
  DeviceIdentity identity_;
  std::string inDiskName_;
  bool present_ = false;
  std::string versionLine_ = "Ver:1.1.1.1 Product:???";
  std::optional<char> onlyDrive_;
  // The letter the last search matched but could not open for want of rights.
  std::optional<char> deniedDrive_;
  bool accessDenied_ = false;
  std::optional<ScsiTarget> onlyTarget_;
};

}  // namespace romsetter
