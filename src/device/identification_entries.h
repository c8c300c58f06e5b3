#pragma once
// The identification entries of the settings file, read in one place: entry n is the key
// "DiskVen_NN" of the sections "HardwareID" (the NT hardware id without "USBSTOR\"),
// "USBSTOR_SUBKEY" (the device's key under the USB storage enumerator) and "DiskVen_98"
// (the INQUIRY text), and "IniVersion" of "Environment" dates them.  In package mode the
// package's identity stands instead of every entry.
#include <string>

#include "base/process_state.h"
#include "base/profile_store.h"

namespace romsetter {

struct DeviceIdentity {
  std::string hardwareId;       // "USBSTOR\%s"
  std::string instanceKeyPath;  // "SYSTEM\CurrentControlSet\Enum\USBSTOR\%s"
  std::string inquiryText;      // INQUIRY bytes 8-35
};

struct IdentificationEntry {
  std::string key;            // "DiskVen_00"
  std::string hardwareValue;  // the "HardwareID" value as stored: empty when there is none
  DeviceIdentity identity;    // the three values in the form the searches compare
};

class IdentificationEntries {
 public:
  explicit IdentificationEntries(ProfileStore& store) : store_(store) {}

  // Entry `n` as the file holds it; a search decides which empty value ends its list.
  IdentificationEntry Entry(int n) const;
  // The package's identity (package mode).
  static DeviceIdentity Preset(const ProcessState& process);

  // Rewrites the settings file with the version and the default entry 0 when its
  // "IniVersion" is missing or below 1.72.  True when it did.  Never in package mode.
  bool WriteDefaults(const ProcessState& process);
  // The version and every entry into `to` (several devices: each job reads a copy of its own).
  void CopyTo(ProfileStore& to) const;

 private:
  ProfileStore& store_;
};

// "USBSTOR\<value>" and "SYSTEM\CurrentControlSet\Enum\USBSTOR\<subkey>".
std::string HardwareIdOf(const std::string& value);
std::string InstanceKeyPathOf(const std::string& subkey);

}  // namespace romsetter
