#pragma once
// Where OpenDev finds the device's drive: the NT registry search (nt_drive_search.h) or
// another system's (Linux: sysfs_discovery.h).
#include <optional>
#include <string>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "device/identification_entries.h"
#include "device/scsi_transport.h"

namespace romsetter {

struct LocatedDrive {
  std::string inDiskName;   // how the log names it
  std::string devicePath;   // what the drive transport opens
  DeviceIdentity identity;  // the identification entry it matched
};

// Locate runs the whole search with its own log lines, checks that the drive opens on
// `drive` (closing it again), and gives none when there is no device, more than one, or one
// that must not be written to; the reason is then logged.  It never throws.
class DriveLocator {
 public:
  virtual ~DriveLocator() = default;
  virtual std::optional<LocatedDrive> Locate(DriveTransport& drive, ProfileStore& store, const ProcessState& process,
                                             LogSink& log) = 0;
  // After a Locate that gave none: the device path of the device's drive the search found
  // but was refused for want of rights, when that was why.
  virtual std::optional<std::string> DeniedPath() const { return std::nullopt; }
  // The identity as the last Locate left it, found or not, for a search that keeps one (the
  // NT search: the entry it tried last, which a package built then carries); else null.
  virtual const DeviceIdentity* SearchedIdentity() const { return nullptr; }
};

}  // namespace romsetter
