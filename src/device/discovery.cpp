#include "device/discovery.h"

#include <cstdint>
#include <vector>

#include "base/text.h"

namespace romsetter {

namespace {

constexpr const char* kMountedDevicesKey = "SYSTEM\\MountedDevices";
constexpr unsigned kTargetsPerAdapter = 8;

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

}  // namespace

DeviceDiscovery::DeviceDiscovery(DeviceLink& link, ProfileStore& store, const ProcessState& process,
                                 DeviceRegistry& registry)
    : link_(link), store_(store), process_(process), registry_(registry) {
  link_.scanAspiTargets = [this] { return ScanAspiTargets(); };
}

DeviceDiscovery::~DeviceDiscovery() { link_.scanAspiTargets = nullptr; }

std::string DeviceDiscovery::ReadEntry(const char* section, const std::string& key) {
  return store_.Read(section, key, "");
}

void DeviceDiscovery::ApplyPresets() {
  link_.identity.hardwareId = process_.presetHardwareId;
  link_.identity.instanceKeyPath = process_.presetInstanceKeyPath;
  link_.identity.inquiryText = process_.presetInquiryText;
}

bool DeviceDiscovery::WriteIdentificationDefaults() {
  if (process_.InPackageMode()) return false;
  if (VersionAtLeast172(store_.Read("Environment", "IniVersion", ""))) return false;
  // Older files predate the identification entries: start them afresh, user settings included.
  store_.DeleteFile();
  store_.Write("Environment", "IniVersion", "1.72");
  store_.Write("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   ");
  store_.Write("HardwareID", "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
  store_.Write("USBSTOR_SUBKEY", "DiskVen_00", "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  return true;
}

// ---- NT ----

bool DeviceDiscovery::OpenDev(bool showMessage) {
  DriveTransport* drive = link_.drive();
  if (drive == nullptr) return false;
  log().Log("OpenDev() to Get InDisk Name");
  drive->CloseDrive();

  bool opened = false;
  if (const std::optional<char> letter = FindInDisk()) {
    link_.inDiskName = Format("%c:", *letter);
    const std::string path = Format("\\\\.\\%s", link_.inDiskName.c_str());
    log().Logf("01 CreatFile(%s)", path.c_str());
    std::uint32_t systemError = 0;
    opened = drive->OpenDrive(path, systemError);
    if (!opened) log().Log("01 CreatFile() ERROR!!");
  }

  link_.window().FlashCaption(true);
  if (opened) {
    log().Logf("\"%s\" is got for InDisk!!", link_.inDiskName.c_str());
  } else {
    log().Log("Lost InDisk Name!!");
    if (showMessage) {
      log().Log("The device opened failure!!");
      link_.window().ShowMessage("The device opened failure!!,please check the connection!", "F/W Upgrade",
                                 MessageIcon::Error);
    }
  }
  link_.window().FlashCaption(false);
  return opened;
}

bool DeviceDiscovery::WalkDevices(const std::vector<RegistryValue>& devices) {
  for (const RegistryValue& device : devices) {
    std::string id;
    if (!RegistryText(device, id)) continue;  // no hardware id, or not text
    log().Logf("Get HardwareID:\"%s\"", id.c_str());
    if (EqualsNoCase(id, link_.identity.hardwareId)) return true;
  }
  return false;
}

std::optional<char> DeviceDiscovery::FindInDisk() {
  const std::vector<RegistryValue> devices = registry_.UsbStorageHardwareIds(kHardwareIdLimit);
  DeviceIdentity& identity = link_.identity;

  bool matched = false;
  if (process_.InPackageMode()) {
    ApplyPresets();
    log().Logf("%s", identity.hardwareId.c_str());
    // An empty preset names no device; it must not be taken for one.
    matched = !identity.hardwareId.empty() && WalkDevices(devices);
  } else {
    for (int n = 0; !matched; ++n) {
      const std::string key = Format("DiskVen_%02d", n);
      const std::string value = ReadEntry("HardwareID", key);
      if (value.empty()) break;
      identity.hardwareId = Format("USBSTOR\\%s", value.c_str());
      log().Logf("SET HardwareID:\"%s\" (%s)", identity.hardwareId.c_str(), key.c_str());
      if (!WalkDevices(devices)) continue;
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
  DriveTransport* drive = link_.drive();
  // A path ending in a separator comes from an empty settings entry: it would open the
  // parent key and take other devices for instances.
  if (drive == nullptr || instanceKeyPath.empty() || instanceKeyPath.back() == '\\') return std::nullopt;
  const std::unique_ptr<RegistryKey> device = registry_.OpenLocalMachine(instanceKeyPath);
  if (!device) return std::nullopt;

  std::string instanceName;
  for (std::uint32_t index = 0; device->SubkeyName(index, instanceName); ++index) {
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
    if (!mounted) return std::nullopt;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const RegistryValue stored = mounted->ReadValue(Format("\\DosDevices\\%c:", letter), kMountedDeviceLimit);
      if (stored.type == RegistryValueType::Missing || stored.type == RegistryValueType::TooLong) continue;
      // A prefix comparison: the stored name goes on past the instance prefix.
      if (NarrowVolumeName(stored, volumeName.size()) != volumeName) continue;
      std::uint32_t systemError = 0;
      if (drive->OpenDrive(Format("\\\\.\\%c:", letter), systemError)) {
        drive->CloseDrive();
        return letter;
      }
    }
  }
  return std::nullopt;
}

// ---- ASPI ----

bool DeviceDiscovery::ScanAspiTargets() {
  AspiTransport* aspi = link_.aspi();
  if (aspi == nullptr) return false;
  if (process_.InPackageMode()) ApplyPresets();
  const std::string& wanted = link_.identity.inquiryText;
  log().Logf("Sets:\"%s\" len=%d", wanted.c_str(), static_cast<int>(wanted.size()));

  const unsigned adapters = aspi->adapterCount();
  for (unsigned adapter = 0; adapter < adapters; ++adapter) {
    for (unsigned target = 0; target < kTargetsPerAdapter; ++target) {
      InquiryReply reply{};
      const auto a = static_cast<std::uint8_t>(adapter);
      const auto t = static_cast<std::uint8_t>(target);
      const ScsiResult result = link_.Inquiry(reply, a, t);
      if (!result.delivered) continue;  // the wait ran out: nobody answered there
      if (MatchInquiry(reply, result, a, t)) return true;
    }
  }
  return false;
}

bool DeviceDiscovery::MatchInquiry(const InquiryReply& reply, const ScsiResult& result, std::uint8_t adapter,
                                   std::uint8_t target) {
  if (!result.delivered || !result.statusGood) return false;
  constexpr std::size_t kIdentOffset = 8;
  std::size_t end = kIdentOffset;
  while (end < reply.size() && reply[end] != 0) ++end;
  const std::string text(reply.begin() + kIdentOffset, reply.begin() + static_cast<std::ptrdiff_t>(end));
  log().Logf("Gets:\"%s\" len=%d", text.c_str(), static_cast<int>(text.size()));

  DeviceIdentity& identity = link_.identity;
  // Only as many characters as the configured text has: a shorter text matches by prefix.
  auto matches = [&text](const std::string& wanted) { return text.compare(0, wanted.size(), wanted) == 0; };

  bool matched = false;
  if (process_.InPackageMode()) {
    ApplyPresets();
    log().Logf("%s", identity.inquiryText.c_str());
    // An empty text would match whatever answered first, a system disk included.
    matched = !identity.inquiryText.empty() && matches(identity.inquiryText);
  } else {
    for (int n = 0; !matched; ++n) {
      const std::string key = Format("DiskVen_%02d", n);
      identity.inquiryText = ReadEntry("DiskVen_98", key);
      if (identity.inquiryText.empty()) break;
      identity.hardwareId = Format("USBSTOR\\%s", ReadEntry("HardwareID", key).c_str());
      identity.instanceKeyPath =
          Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", ReadEntry("USBSTOR_SUBKEY", key).c_str());
      matched = matches(identity.inquiryText);
    }
  }
  if (!matched) return false;
  link_.adapterId = adapter;
  link_.targetId = target;
  log().Logf("Bingo m_AdapterId=%d m_TargetId=%d!", adapter, target);
  return true;
}

DeviceDiscovery::AspiProbe DeviceDiscovery::RunAspiProbe(bool flashType) {
  AspiProbe probe;
  AspiTransport* aspi = link_.aspi();
  if (aspi == nullptr) return probe;
  aspi->BeginJob();
  if (aspi->Available() && aspi->CreateEvent() && ScanAspiTargets()) {
    probe.status = link_.GetDeviceStatus();
    if (flashType) probe.flashQuery = link_.GetMemInfo(1);
  }
  aspi->EndJob();
  return probe;
}

bool DeviceDiscovery::ProbeAspi(bool flashType) { return RunAspiProbe(flashType).status; }

// ---- Both ----

bool DeviceDiscovery::ProbeDevice(bool queryProduct) {
  if (link_.IsAspi()) {
    link_.devicePresent = ProbeAspi(false);
    // On this transport one query asks for both the version and the product.
    if (link_.devicePresent && queryProduct) link_.QueryProduct(17);
    return link_.devicePresent;
  }
  link_.devicePresent = OpenDev(false);
  if (link_.devicePresent && queryProduct && link_.QueryProduct(17)) link_.QueryProduct(18);
  if (DriveTransport* drive = link_.drive()) drive->CloseDrive();
  return link_.devicePresent;
}

bool DeviceDiscovery::ProbeFlashType() {
  link_.imagePages.bigImagePages = 1;
  if (link_.IsAspi()) return RunAspiProbe(true).flashQuery;
  bool queried = false;
  if (OpenDev(false)) queried = link_.GetMemInfo(1);
  if (DriveTransport* drive = link_.drive()) drive->CloseDrive();
  return queried;
}

}  // namespace romsetter
