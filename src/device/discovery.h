#pragma once
// Finding the device and learning what it is: presence, identity and the version line,
// over the session of the program's transport family.  The parts it runs on are the
// identification entries (identification_entries.h), the drive search (a DriveLocator: the
// NT registry's in nt_drive_search.h unless the session brings another) and the ASPI target
// scan (aspi_target_scan.h).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "base/user_ports.h"
#include "device/aspi_target_scan.h"
#include "device/device_link.h"
#include "device/device_registry.h"
#include "device/device_session.h"
#include "device/drive_locator.h"
#include "device/identification_entries.h"
#include "device/memory_query.h"
#include "device/nt_drive_search.h"

namespace romsetter {

struct DiscoveryPorts {
  DeviceLink& link;  // over the session's transport
  MemoryQuery& memory;
  DeviceSession& session;
  ProfileStore& store;
  const ProcessState& process;
  DeviceRegistry& registry;  // the NT search's, when the session brings no locator
  LogSink& log;
  MessagePort& messages;
  ProgressObserver& progress;
  // Told each new version line (the product query's result).
  std::function<void(const std::string&)> versionLineChanged;
};

class DeviceDiscovery {
 public:
  explicit DeviceDiscovery(DiscoveryPorts ports);
  DeviceDiscovery(const DeviceDiscovery&) = delete;
  DeviceDiscovery& operator=(const DeviceDiscovery&) = delete;

  bool WriteIdentificationDefaults() { return IdentificationEntries(p_.store).WriteDefaults(p_.process); }

  // ---- Pass-through ----
  // Finds the device's drive and opens it on the session's drive.  With `showMessage` a
  // failure is also shown to the user.  Any drive open before is closed.  False over ASPI.
  bool OpenDev(bool showMessage);
  // The NT search's drive letter of the device (checked to open), or none.
  std::optional<char> FindInDisk();

  // ---- ASPI ----
  // Within `job`: the job readied and the device found by the target scan.
  bool FindAspiDevice(AspiJob& job) { return job.Ready() && ScanAspiTargets(); }
  bool ScanAspiTargets();
  // Examines one INQUIRY outcome from `address`; on a match that becomes the device's address.
  bool MatchInquiry(const Reply<InquiryReply>& reply, ScsiTarget address);
  // A whole ASPI job: the device found, GetDeviceStatus and, with `flashType`, the
  // firmware-region query (sent even when the status test failed).  The result of
  // GetDeviceStatus; false when ASPI is unusable or no target matched.
  bool ProbeAspi(bool flashType, bool nor);

  // ---- Several devices at once ----
  // Every drive letter (over pass-through) or address (over ASPI, in a job of its own) the
  // search would take, silently; empty over the other family.
  std::vector<char> MatchingDrives();
  std::vector<ScsiTarget> MatchingTargets();
  // From now on only this drive (this target) can be the device, so the log is that of a
  // run with this device alone and no other device is disturbed.
  void RestrictToDrive(char letter) { ntSearch_.RestrictTo(letter); }
  void RestrictToTarget(ScsiTarget address) { scan_.RestrictTo(address); }

  // ---- Both families ----
  // Finds the device silently and lets it go again (the drive closed, the job ended).
  bool FindQuietly();
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
  // The version line from the device (pass-through: the version, then the product, on the
  // open drive; ASPI: a job of its own that asks for both), handed to `versionLineChanged`.
  // Only while present.  True only when both the version and the product came back.
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
  bool OpenDrive(DriveSession& session, bool showMessage);
  AspiProbe RunAspiProbe(AspiSession& session, bool flashType, bool nor);
  bool QueryAspiProduct(AspiSession& session, bool nor);
  bool QueryDriveProduct(DriveSession& session);
  void SetVersionLine(const std::string& line);
  LogSink& log() { return p_.log; }

  DiscoveryPorts p_;
  NtDriveSearch ntSearch_;
  AspiTargetScan scan_;
  DeviceIdentity identity_;
  std::string inDiskName_;
  bool present_ = false;
  std::string versionLine_ = "Ver:1.1.1.1 Product:???";
  bool accessDenied_ = false;
};

}  // namespace romsetter
