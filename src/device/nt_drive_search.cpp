#include "device/nt_drive_search.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "base/format.h"
#include "base/text.h"

namespace romsetter {

namespace {

constexpr const char* kMountedDevicesKey = "SYSTEM\\MountedDevices";
constexpr std::uint32_t kAccessDenied = 5;  // ERROR_ACCESS_DENIED: a drive needs an administrator

// Low bytes of the UTF-16 units of a mounted-devices value, at most `limit` of them.
std::string NarrowVolumeName(const RegistryValue& value, std::size_t limit) {
  std::string text;
  for (std::size_t i = 0; i + 1 < value.data.size() && text.size() < limit; i += 2) {
    text.push_back(static_cast<char>(value.data[i]));
  }
  return text;
}

}  // namespace

std::optional<LocatedDrive> NtDriveSearch::Locate(DriveTransport& drive, ProfileStore& store,
                                                  const ProcessState& process, LogSink& log) {
  deniedDrive_.reset();
  const std::optional<char> letter = FindInDisk(drive, store, process, log);
  if (!letter) return std::nullopt;
  LocatedDrive found;
  found.identity = identity_;
  found.inDiskName = Format("%c:", *letter);
  found.devicePath = Format("\\\\.\\%s", found.inDiskName.c_str());
  return found;
}

std::optional<std::string> NtDriveSearch::DeniedPath() const {
  if (!deniedDrive_) return std::nullopt;
  return Format("\\\\.\\%c:", *deniedDrive_);
}

bool NtDriveSearch::WalkDevices(const std::vector<RegistryValue>& devices, const std::string& hardwareId,
                                LogSink* log) {
  for (const RegistryValue& device : devices) {
    std::string id;
    if (!RegistryText(device, id)) continue;  // no hardware id, or not text
    if (log != nullptr) log->Logf("Get HardwareID:\"%s\"", id.c_str());
    if (EqualsNoCase(id, hardwareId)) return true;
  }
  return false;
}

std::optional<char> NtDriveSearch::FindInDisk(DriveTransport& drive, ProfileStore& store, const ProcessState& process,
                                              LogSink& log) {
  const std::vector<RegistryValue> devices = registry_.UsbStorageHardwareIds(kHardwareIdLimit);
  DeviceIdentity& identity = identity_;
  bool matched = false;
  if (process.InPackageMode()) {
    identity = IdentificationEntries::Preset(process);
    log.Logf("%s", identity.hardwareId.c_str());
    // An empty preset names no device; it must not be taken for one.
    matched = !identity.hardwareId.empty() && WalkDevices(devices, identity.hardwareId, &log);
  } else {
    const IdentificationEntries entries(store);
    for (int n = 0; !matched; ++n) {
      const IdentificationEntry entry = entries.Entry(n);
      if (entry.hardwareValue.empty()) break;
      identity.hardwareId = entry.identity.hardwareId;
      log.Logf("SET HardwareID:\"%s\" (%s)", identity.hardwareId.c_str(), entry.key.c_str());
      if (!WalkDevices(devices, identity.hardwareId, &log)) continue;
      matched = true;
      identity = entry.identity;
    }
  }
  if (!matched) return std::nullopt;

  log.Logf("SET USBSTOR_SUBKEY:\"%s\"", identity.instanceKeyPath.c_str());
  log.Log("Check HardwareID OK!!, Now checking USBSTOR_SUBKEY & InDisk...");
  const std::vector<char> letters = DriveLetters(drive, identity.instanceKeyPath, false);
  if (letters.empty()) return std::nullopt;
  return letters.front();
}

std::vector<char> NtDriveSearch::DriveLetters(DriveTransport& drive, const std::string& instanceKeyPath, bool every) {
  std::vector<char> letters;
  // A path ending in a separator comes from an empty settings entry: it would open the
  // parent key and take other devices for instances.
  if (instanceKeyPath.empty() || instanceKeyPath.back() == '\\') return letters;
  const std::unique_ptr<RegistryKey> device = registry_.OpenLocalMachine(instanceKeyPath);
  if (!device) return letters;

  // A letter counts once it opens for the drive transport (closed again at once).
  auto take = [&](char letter) {
    std::uint32_t systemError = 0;
    if (!drive.OpenDrive(Format("\\\\.\\%c:", letter), systemError)) {
      if (systemError == kAccessDenied) deniedDrive_ = letter;
      return false;
    }
    drive.CloseDrive();
    // Two instances cannot share a mounted letter, but a hostile registry may say so.
    if (std::find(letters.begin(), letters.end(), letter) == letters.end()) letters.push_back(letter);
    return !every;
  };
  // Another job's drive is not opened even to look: that job may be writing to it.
  auto allowed = [this](char letter) { return !onlyDrive_ || letter == *onlyDrive_; };

  std::vector<std::string> instances;
  std::string instanceName;
  for (std::uint32_t index = 0; device->SubkeyName(index, instanceName); ++index) {
    instances.push_back(instanceName);
    const std::unique_ptr<RegistryKey> instance =
        registry_.OpenLocalMachine(Format("%s\\%s", instanceKeyPath.c_str(), instanceName.c_str()));
    if (!instance) continue;
    const RegistryValue prefixValue = instance->ReadValue("ParentIdPrefix", kParentIdPrefixLimit);
    std::string prefix;
    // Without a prefix the volume name would be the bare removable-media stem, which every
    // removable disk's volume name begins with.
    if (prefixValue.type != RegistryValueType::String || !RegistryText(prefixValue, prefix) || prefix.empty()) {
      continue;
    }
    const std::string volumeName = Format("\\??\\STORAGE#RemovableMedia#%s", prefix.c_str());

    const std::unique_ptr<RegistryKey> mounted = registry_.OpenLocalMachine(kMountedDevicesKey);
    if (!mounted) return letters;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if (!allowed(letter)) continue;
      const RegistryValue stored = mounted->ReadValue(Format("\\DosDevices\\%c:", letter), kMountedDeviceLimit);
      if (stored.type == RegistryValueType::Missing || stored.type == RegistryValueType::TooLong) continue;
      // A prefix comparison: the stored name goes on past the instance prefix.
      if (NarrowVolumeName(stored, volumeName.size()) != volumeName) continue;
      if (take(letter)) return letters;
    }
  }
  if (!letters.empty()) return letters;
  LaterWindowsLetters(instanceKeyPath, instances, allowed, take);
  return letters;
}

// Vista and later keep no ParentIdPrefix for a disk with a serial number, and name the disk
// itself (its interface, "USBSTOR#<device>#<instance>#{disk class}") in MountedDevices, or
// for a disk taken as fixed only a partition signature; then the storage device numbers of
// the disk and of each mounted volume tell which volume lies on it.
void NtDriveSearch::LaterWindowsLetters(const std::string& instanceKeyPath, const std::vector<std::string>& instances,
                                        const std::function<bool(char)>& allowed,
                                        const std::function<bool(char)>& take) {
  const std::unique_ptr<RegistryKey> mounted = registry_.OpenLocalMachine(kMountedDevicesKey);
  if (!mounted) return;
  const std::string deviceName = instanceKeyPath.substr(instanceKeyPath.rfind('\\') + 1);
  std::vector<std::pair<char, std::string>> volumes;  // every mounted letter, its name as text
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (!allowed(letter)) continue;
    const RegistryValue stored = mounted->ReadValue(Format("\\DosDevices\\%c:", letter), kMountedDeviceLimit);
    if (stored.type == RegistryValueType::Missing || stored.type == RegistryValueType::TooLong) continue;
    volumes.emplace_back(letter, NarrowVolumeName(stored, kMountedDeviceLimit));
  }
  for (const std::string& instance : instances) {
    const std::string disk =
        Format("USBSTOR#%s#%s#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", deviceName.c_str(), instance.c_str());
    bool named = false;
    for (const auto& [letter, name] : volumes) {
      // Device names ignore case; some systems write the object directory as "_??_".
      if (!EqualsNoCase(name, "\\??\\" + disk) && !EqualsNoCase(name, "_??_" + disk)) continue;
      named = true;
      if (take(letter)) return;
    }
    if (named) continue;
    const std::optional<StorageNumber> diskNumber = registry_.StorageDeviceNumber("\\\\?\\" + disk);
    if (!diskNumber) continue;
    for (const auto& volume : volumes) {
      const std::optional<StorageNumber> volumeNumber =
          registry_.StorageDeviceNumber(Format("\\\\.\\%c:", volume.first));
      if (volumeNumber && *volumeNumber == *diskNumber && take(volume.first)) return;
    }
  }
}

std::vector<char> NtDriveSearch::MatchingDrives(DriveTransport& drive, ProfileStore& store, const ProcessState& process) {
  const std::vector<RegistryValue> devices = registry_.UsbStorageHardwareIds(kHardwareIdLimit);
  if (process.InPackageMode()) {
    const std::string& id = process.presetHardwareId;
    if (id.empty() || !WalkDevices(devices, id, nullptr)) return {};
    return DriveLetters(drive, process.presetInstanceKeyPath, true);
  }
  // As the search of one device: the first entry whose hardware id is listed is the one.
  const IdentificationEntries entries(store);
  for (int n = 0;; ++n) {
    const IdentificationEntry entry = entries.Entry(n);
    if (entry.hardwareValue.empty()) return {};
    if (!WalkDevices(devices, entry.identity.hardwareId, nullptr)) continue;
    return DriveLetters(drive, entry.identity.instanceKeyPath, true);
  }
}

}  // namespace romsetter
