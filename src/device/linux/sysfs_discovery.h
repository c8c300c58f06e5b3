#pragma once
// Finding the device on Linux: the SCSI generic devices sysfs lists, matched with the
// identification entries (the INQUIRY text by prefix, as the ASPI scan does, or the USB
// storage hardware id the NT family would give the device), with a check that its disk is
// not mounted and that its node opens.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "device/drive_locator.h"

namespace romsetter {

struct SysfsPaths {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string mountsFile = "/proc/self/mounts";  // empty: no mount check is made
};

// One SCSI generic device as sysfs describes it.  Every text is read bounded; vendor, model
// and revision are cut or padded with blanks to their INQUIRY widths (8, 16, 4).
struct SgDevice {
  std::string name;       // "sg2"
  std::string node;       // devRoot + "/sg2"
  std::string blockNode;  // devRoot + "/sdb"; empty when the device has no disk
  std::vector<std::string> partitionNodes;  // devRoot + "/sdb1", ... of that disk
  std::string inquiryText;  // vendor, model and revision: INQUIRY bytes 8-35
  std::string idVendor, idProduct, serial;  // of the nearest USB ancestor; empty without one
};

// The devices under sysfsRoot/class/scsi_generic, in the order of their numbers.
std::vector<SgDevice> ScanScsiGeneric(const SysfsPaths& paths);

// The hardware ids the NT family's USB storage driver would give the device: "USBSTOR\Disk"
// followed by the 28 INQUIRY characters, and "USBSTOR\Disk&Ven_%s&Prod_%s&Rev_%s" with and
// without its revision (blanks as '_', trailing blanks of each part dropped).
std::vector<std::string> UsbStorHardwareIds(const std::string& inquiryText);

// "SOURCE on TARGET" for each line of a mounts file (/proc/self/mounts) whose source is the
// disk `blockNode` or one of its partitions: by name (the disk's name followed by digits
// only), or by what the source is (the disk or one of `partitions` through any spelling).
std::vector<std::string> MountsOf(const std::string& blockNode, const std::string& mountsText,
                                  const std::vector<std::string>& partitions = {});

// True when two paths name one node: device files by type and device number, anything else
// (the scratch trees of the tests) by file identity.  Spelling does not count.
bool SameNode(const std::string& a, const std::string& b);

// The device whose generic node, disk or partition `node` names in any spelling; null when
// sysfs lists none.
const SgDevice* DeviceOfNode(const std::vector<SgDevice>& devices, const std::string& node);

// The one line that tells a user without permission on `node` what to do: the group that
// owns it and a udev rule (for the USB ids when they are known).
std::string PermissionAdvice(const std::string& node, const SgDevice* device);

class SysfsDriveLocator final : public DriveLocator {
 public:
  static constexpr std::size_t kTextLimit = 4096;       // one sysfs attribute
  static constexpr std::size_t kMountsLimit = 1 << 20;  // the mounts file

  // `explicitNode` empty: the device is discovered; otherwise that node is used as given
  // (identification is not asked of it).  With `force` a mounted disk is only reported.
  SysfsDriveLocator(SysfsPaths paths, std::string explicitNode = "", bool force = false);

  // Discovery takes only this node of the devices that match (several devices upgraded at
  // once, each by a job of its own); the log still lists every device looked at.
  void RestrictTo(std::string node) { onlyNode_ = std::move(node); }
  // The nodes of every device that matches an identification entry, without a line logged.
  std::vector<std::string> MatchingNodes(ProfileStore& store, const ProcessState& process) const;

  std::optional<LocatedDrive> Locate(DriveTransport& drive, ProfileStore& store, const ProcessState& process,
                                     LogSink& log) override;

 private:
  std::optional<LocatedDrive> Discover(const std::vector<SgDevice>& devices, ProfileStore& store,
                                       const ProcessState& process, LogSink& log, const SgDevice*& chosen);
  bool MountCheckPasses(const std::string& blockNode, const std::vector<std::string>& partitions, LogSink& log);
  SysfsPaths paths_;
  std::string explicitNode_;
  bool force_;
  std::string onlyNode_;
};

}  // namespace romsetter
