#include "device/discovery.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/text.h"

namespace romsetter {

namespace {

constexpr const char* kMountedDevicesKey = "SYSTEM\\MountedDevices";
constexpr unsigned kTargetsPerAdapter = 8;
constexpr std::uint32_t kAccessDenied = 5;  // ERROR_ACCESS_DENIED: a drive needs an administrator

// The value read as a decimal number (leading blanks skipped, reading stops at the first
// character that does not belong to it) is 1.72 or more.  Compared in hundredths, so no
// rounding of binary fractions can tip a "1.72" either way.
bool VersionAtLeast172(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::uint32_t whole = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    digits = true;
    if (whole < 1000) whole = whole * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  std::uint32_t hundredths = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    for (int place = 0; place < 2; ++place) {
      hundredths *= 10;
      if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        digits = true;
        hundredths += static_cast<std::uint32_t>(text[i] - '0');
        ++i;
      }
    }
  }
  return digits && whole * 100 + hundredths >= 172;
}

// Low bytes of the UTF-16 units of a mounted-devices value, at most `limit` of them.
std::string NarrowVolumeName(const RegistryValue& value, std::size_t limit) {
  std::string text;
  for (std::size_t i = 0; i + 1 < value.data.size() && text.size() < limit; i += 2) {
    text.push_back(static_cast<char>(value.data[i]));
  }
  return text;
}

// The firmware query of a probe compares with one big-block page, so it cannot refuse for
// want of an image.
ImagePageCounts OneFirmwarePage() {
  ImagePageCounts pages;
  pages.bigImagePages = 1;
  return pages;
}

}  // namespace

DeviceDiscovery::DeviceDiscovery(DiscoveryPorts ports) : p_(std::move(ports)) {}

std::string DeviceDiscovery::ReadEntry(const char* section, const std::string& key) {
  return p_.store.Read(section, key, "");
}

void DeviceDiscovery::ApplyPresets() {
  identity_.hardwareId = p_.process.presetHardwareId;
  identity_.instanceKeyPath = p_.process.presetInstanceKeyPath;
  identity_.inquiryText = p_.process.presetInquiryText;
}

bool DeviceDiscovery::WriteIdentificationDefaults() {
  if (p_.process.InPackageMode()) return false;
  if (VersionAtLeast172(p_.store.Read("Environment", "IniVersion", ""))) return false;
  // Older files predate the identification entries: start them afresh, user settings included.
  p_.store.DeleteFile();
  p_.store.Write("Environment", "IniVersion", "1.72");
  p_.store.Write("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   ");
  p_.store.Write("HardwareID", "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
  p_.store.Write("USBSTOR_SUBKEY", "DiskVen_00", "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  return true;
}

// ---- NT ----

bool DeviceDiscovery::OpenDev(bool showMessage) {
  DriveTransport* drive = p_.drive;
  if (drive == nullptr) return false;
  log().Log("OpenDev() to Get InDisk Name");
  drive->CloseDrive();

  bool opened = false;
  bool denied = false;
  deniedDrive_.reset();
  std::optional<std::string> path;
  if (p_.locator != nullptr) {
    if (std::optional<LocatedDrive> found = p_.locator->Locate(*drive, p_.store, p_.process, log())) {
      inDiskName_ = found->inDiskName;
      identity_ = found->identity;
      path = found->devicePath;
    }
  } else if (const std::optional<char> letter = FindInDisk()) {
    inDiskName_ = Format("%c:", *letter);
    path = Format("\\\\.\\%s", inDiskName_.c_str());
  }
  if (path) {
    log().Logf("01 CreatFile(%s)", path->c_str());
    std::uint32_t systemError = 0;
    opened = drive->OpenDrive(*path, systemError);
    if (!opened) log().Log("01 CreatFile() ERROR!!");
    denied = !opened && systemError == kAccessDenied;
  } else if (deniedDrive_) {
    // The search found the device's drive, but this user may not open it.
    path = Format("\\\\.\\%c:", *deniedDrive_);
    denied = true;
  }
  if (denied) log().Logf("Access to %s is denied: run the program as administrator!!", path->c_str());
  accessDenied_ = denied;

  p_.progress.FlashCaption(true);
  if (opened) {
    log().Logf("\"%s\" is got for InDisk!!", inDiskName_.c_str());
  } else {
    log().Log("Lost InDisk Name!!");
    if (showMessage && denied) {
      p_.messages.ShowMessage(kAccessDeniedMessage, "F/W Upgrade", MessageIcon::Error);
    } else if (showMessage) {
      log().Log("The device opened failure!!");
      p_.messages.ShowMessage("The device opened failure!!,please check the connection!", "F/W Upgrade",
                                 MessageIcon::Error);
    }
  }
  p_.progress.FlashCaption(false);
  return opened;
}

bool DeviceDiscovery::WalkDevices(const std::vector<RegistryValue>& devices, const std::string& hardwareId,
                                  bool logIds) {
  for (const RegistryValue& device : devices) {
    std::string id;
    if (!RegistryText(device, id)) continue;  // no hardware id, or not text
    if (logIds) log().Logf("Get HardwareID:\"%s\"", id.c_str());
    if (EqualsNoCase(id, hardwareId)) return true;
  }
  return false;
}

std::optional<char> DeviceDiscovery::FindInDisk() {
  const std::vector<RegistryValue> devices = p_.registry.UsbStorageHardwareIds(kHardwareIdLimit);
  DeviceIdentity& identity = identity_;

  bool matched = false;
  if (p_.process.InPackageMode()) {
    ApplyPresets();
    log().Logf("%s", identity.hardwareId.c_str());
    // An empty preset names no device; it must not be taken for one.
    matched = !identity.hardwareId.empty() && WalkDevices(devices, identity.hardwareId, true);
  } else {
    for (int n = 0; !matched; ++n) {
      const std::string key = Format("DiskVen_%02d", n);
      const std::string value = ReadEntry("HardwareID", key);
      if (value.empty()) break;
      identity.hardwareId = Format("USBSTOR\\%s", value.c_str());
      log().Logf("SET HardwareID:\"%s\" (%s)", identity.hardwareId.c_str(), key.c_str());
      if (!WalkDevices(devices, identity.hardwareId, true)) continue;
      matched = true;
      const std::string subkey = ReadEntry("USBSTOR_SUBKEY", key);
      identity.instanceKeyPath = Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", subkey.c_str());
      identity.inquiryText = ReadEntry("DiskVen_98", key);
    }
  }
  if (!matched) return std::nullopt;

  log().Logf("SET USBSTOR_SUBKEY:\"%s\"", identity.instanceKeyPath.c_str());
  log().Log("Check HardwareID OK!!, Now checking USBSTOR_SUBKEY & InDisk...");
  return FindDriveLetter(identity.instanceKeyPath);
}

std::optional<char> DeviceDiscovery::FindDriveLetter(const std::string& instanceKeyPath) {
  const std::vector<char> letters = DriveLetters(instanceKeyPath, false);
  if (letters.empty()) return std::nullopt;
  return letters.front();
}

std::vector<char> DeviceDiscovery::DriveLetters(const std::string& instanceKeyPath, bool every) {
  std::vector<char> letters;
  DriveTransport* drive = p_.drive;
  // A path ending in a separator comes from an empty settings entry: it would open the
  // parent key and take other devices for instances.
  if (drive == nullptr || instanceKeyPath.empty() || instanceKeyPath.back() == '\\') return letters;
  const std::unique_ptr<RegistryKey> device = p_.registry.OpenLocalMachine(instanceKeyPath);
  if (!device) return letters;

  // A letter counts once it opens for the drive transport (closed again at once).
  auto take = [&](char letter) {
    std::uint32_t systemError = 0;
    if (!drive->OpenDrive(Format("\\\\.\\%c:", letter), systemError)) {
      if (systemError == kAccessDenied) deniedDrive_ = letter;
      return false;
    }
    drive->CloseDrive();
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
        p_.registry.OpenLocalMachine(Format("%s\\%s", instanceKeyPath.c_str(), instanceName.c_str()));
    if (!instance) continue;
    const RegistryValue prefixValue = instance->ReadValue("ParentIdPrefix", kParentIdPrefixLimit);
    std::string prefix;
    // Without a prefix the volume name would be the bare removable-media stem, which every
    // removable disk's volume name begins with.
    if (prefixValue.type != RegistryValueType::String || !RegistryText(prefixValue, prefix) || prefix.empty()) {
      continue;
    }
    const std::string volumeName = Format("\\??\\STORAGE#RemovableMedia#%s", prefix.c_str());

    const std::unique_ptr<RegistryKey> mounted = p_.registry.OpenLocalMachine(kMountedDevicesKey);
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
void DeviceDiscovery::LaterWindowsLetters(const std::string& instanceKeyPath, const std::vector<std::string>& instances,
                                          const std::function<bool(char)>& allowed,
                                          const std::function<bool(char)>& take) {
  const std::unique_ptr<RegistryKey> mounted = p_.registry.OpenLocalMachine(kMountedDevicesKey);
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
    const std::optional<StorageNumber> diskNumber = p_.registry.StorageDeviceNumber("\\\\?\\" + disk);
    if (!diskNumber) continue;
    for (const auto& volume : volumes) {
      const std::optional<StorageNumber> volumeNumber =
          p_.registry.StorageDeviceNumber(Format("\\\\.\\%c:", volume.first));
      if (volumeNumber && *volumeNumber == *diskNumber && take(volume.first)) return;
    }
  }
}

std::vector<char> DeviceDiscovery::MatchingDrives() {
  const std::vector<RegistryValue> devices = p_.registry.UsbStorageHardwareIds(kHardwareIdLimit);
  if (p_.process.InPackageMode()) {
    const std::string& id = p_.process.presetHardwareId;
    if (id.empty() || !WalkDevices(devices, id, false)) return {};
    return DriveLetters(p_.process.presetInstanceKeyPath, true);
  }
  // As the search of one device: the first entry whose hardware id is listed is the one.
  for (int n = 0;; ++n) {
    const std::string key = Format("DiskVen_%02d", n);
    const std::string value = ReadEntry("HardwareID", key);
    if (value.empty()) return {};
    if (!WalkDevices(devices, Format("USBSTOR\\%s", value.c_str()), false)) continue;
    return DriveLetters(Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", ReadEntry("USBSTOR_SUBKEY", key).c_str()),
                        true);
  }
}

// ---- ASPI ----

bool DeviceDiscovery::ScanAspiTargets() {
  AspiTransport* aspi = p_.aspi;
  if (aspi == nullptr) return false;
  if (p_.process.InPackageMode()) ApplyPresets();
  const std::string& wanted = identity_.inquiryText;
  log().Logf("Sets:\"%s\" len=%d", wanted.c_str(), static_cast<int>(wanted.size()));

  return AskTargets(*aspi, [this](ScsiTarget address, const Reply<InquiryReply>& reply) {
    if (!reply.transport.delivered) return false;  // the wait ran out: nobody answered there
    return MatchInquiry(reply, address);
  });
}

bool DeviceDiscovery::AskTargets(AspiTransport& aspi,
                                 const std::function<bool(ScsiTarget, const Reply<InquiryReply>&)>& answered) {
  const unsigned adapters = aspi.adapterCount();
  for (unsigned adapter = 0; adapter < adapters; ++adapter) {
    for (unsigned target = 0; target < kTargetsPerAdapter; ++target) {
      const ScsiTarget address{static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target)};
      // Another job's device is not asked: its INQUIRY would land between that job's commands.
      if (onlyTarget_ && (onlyTarget_->adapter != address.adapter || onlyTarget_->target != address.target)) continue;
      if (answered(address, p_.link.Inquiry(address))) return true;
    }
  }
  return false;
}

namespace {
// INQUIRY bytes 8 on, up to the first zero.
std::string InquiryText(const InquiryReply& reply) {
  constexpr std::size_t kIdentOffset = 8;
  std::size_t end = kIdentOffset;
  while (end < reply.size() && reply[end] != 0) ++end;
  return std::string(reply.begin() + kIdentOffset, reply.begin() + static_cast<std::ptrdiff_t>(end));
}
}  // namespace

bool DeviceDiscovery::MatchInquiry(const Reply<InquiryReply>& inquiry, ScsiTarget address) {
  if (!inquiry.transport.delivered || !inquiry.transport.statusGood) return false;
  const std::string text = InquiryText(inquiry.value);
  log().Logf("Gets:\"%s\" len=%d", text.c_str(), static_cast<int>(text.size()));
  if (!IdentifyText(text, identity_, false)) return false;
  if (p_.aspi != nullptr) p_.aspi->SetDeviceAddress(address);
  log().Logf("Bingo m_AdapterId=%d m_TargetId=%d!", address.adapter, address.target);
  return true;
}

bool DeviceDiscovery::IdentifyText(const std::string& text, DeviceIdentity& identity, bool quiet) {
  // Only as many characters as the configured text has: a shorter text matches by prefix.
  auto matches = [&text](const std::string& wanted) { return text.compare(0, wanted.size(), wanted) == 0; };
  if (p_.process.InPackageMode()) {
    identity.hardwareId = p_.process.presetHardwareId;
    identity.instanceKeyPath = p_.process.presetInstanceKeyPath;
    identity.inquiryText = p_.process.presetInquiryText;
    if (!quiet) log().Logf("%s", identity.inquiryText.c_str());
    // An empty text would match whatever answered first, a system disk included.
    return !identity.inquiryText.empty() && matches(identity.inquiryText);
  }
  for (int n = 0;; ++n) {
    const std::string key = Format("DiskVen_%02d", n);
    identity.inquiryText = ReadEntry("DiskVen_98", key);
    if (identity.inquiryText.empty()) return false;
    identity.hardwareId = Format("USBSTOR\\%s", ReadEntry("HardwareID", key).c_str());
    identity.instanceKeyPath =
        Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", ReadEntry("USBSTOR_SUBKEY", key).c_str());
    if (matches(identity.inquiryText)) return true;
  }
}

std::vector<ScsiTarget> DeviceDiscovery::MatchingTargets() {
  std::vector<ScsiTarget> found;
  AspiTransport* aspi = p_.aspi;
  if (aspi == nullptr) return found;
  aspi->BeginJob();
  if (aspi->Available() && aspi->CreateEvent()) {
    AskTargets(*aspi, [this, &found](ScsiTarget address, const Reply<InquiryReply>& reply) {
      DeviceIdentity identity;
      if (reply.transport.delivered && reply.transport.statusGood &&
          IdentifyText(InquiryText(reply.value), identity, true)) {
        found.push_back(address);
      }
      return false;  // on to the next address
    });
  }
  aspi->EndJob();
  return found;
}

DeviceDiscovery::AspiProbe DeviceDiscovery::RunAspiProbe(bool flashType, bool nor) {
  AspiProbe probe;
  AspiTransport* aspi = p_.aspi;
  if (aspi == nullptr) return probe;
  aspi->BeginJob();
  if (aspi->Available() && aspi->CreateEvent() && ScanAspiTargets()) {
    probe.found = true;
    probe.status = p_.memory.GetDeviceStatus(nor);
    if (flashType) probe.flashQuery = p_.memory.GetMemInfo(RegionQuery::Firmware, OneFirmwarePage(), nor);
  }
  aspi->EndJob();
  return probe;
}

bool DeviceDiscovery::ProbeAspi(bool flashType, bool nor) { return RunAspiProbe(flashType, nor).status; }

// ---- Both ----

bool DeviceDiscovery::ProbeDevice(bool queryProduct, bool nor) {
  if (p_.aspi != nullptr) {
    present_ = ProbeAspi(false, nor);
    // On this transport one query asks for both the version and the product.
    if (present_ && queryProduct) QueryProduct(nor);
    return present_;
  }
  present_ = OpenDev(false);
  if (present_ && queryProduct) QueryProduct(nor);
  if (p_.drive != nullptr) p_.drive->CloseDrive();
  return present_;
}

DeviceDiscovery::FlashTypeProbe DeviceDiscovery::ProbeFlashType(bool nor) {
  if (p_.aspi != nullptr) {
    const AspiProbe probe = RunAspiProbe(true, nor);
    if (!probe.found) return FlashTypeProbe::NoDevice;
    return probe.flashQuery ? FlashTypeProbe::Queried : FlashTypeProbe::QueryFailed;
  }
  if (!OpenDev(false)) return FlashTypeProbe::NoDevice;
  const bool queried = p_.memory.GetMemInfo(RegionQuery::Firmware, OneFirmwarePage(), nor);
  if (p_.drive != nullptr) p_.drive->CloseDrive();
  return queried ? FlashTypeProbe::Queried : FlashTypeProbe::QueryFailed;
}

void DeviceDiscovery::SetVersionLine(const std::string& line) {
  versionLine_ = line;
  if (p_.versionLineChanged) p_.versionLineChanged(versionLine_);
}

bool DeviceDiscovery::QueryProduct(bool nor) {
  if (!present_) return false;
  DeviceLink& link = p_.link;
  if (AspiTransport* aspi = p_.aspi) {
    // A job of its own: the device is addressed afresh by the scan of the status probe.
    std::string line = versionLine_;
    bool learnt = false;  // the version and the product both came back
    aspi->BeginJob();
    if (aspi->Available() && aspi->CreateEvent() && ScanAspiTargets() && p_.memory.GetDeviceStatus(nor)) {
      const auto version = link.QueryProduct(ProductQuery::Version);
      if (version.ok) {
        line = VersionLine(version.value);
        const auto product = link.QueryProduct(ProductQuery::Product);
        if (product.ok) line = WithProduct(line, product.value);
        learnt = product.ok;
      } else {
        line = "Checking product is not supported";
      }
    }
    aspi->EndJob();
    SetVersionLine(line);
    return learnt;
  }

  // Nothing was asked of the device, so nothing can be reported as learnt.
  if (p_.drive == nullptr || !p_.drive->DriveOpen()) return false;
  const auto version = link.QueryProduct(ProductQuery::Version);
  if (!version.ok) {
    SetVersionLine("Checking product is not supported.");
    return false;
  }
  SetVersionLine(VersionLine(version.value));
  const auto product = link.QueryProduct(ProductQuery::Product);
  SetVersionLine(product.ok ? WithProduct(versionLine_, product.value) : "Checking product is not supported.");
  return product.ok;
}

}  // namespace romsetter
