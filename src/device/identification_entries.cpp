#include "device/identification_entries.h"

#include <cstdint>

#include "base/format.h"

namespace romsetter {

namespace {

constexpr const char* kHardwareSection = "HardwareID";
constexpr const char* kSubkeySection = "USBSTOR_SUBKEY";
constexpr const char* kInquirySection = "DiskVen_98";

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

}  // namespace

std::string HardwareIdOf(const std::string& value) { return Format("USBSTOR\\%s", value.c_str()); }

std::string InstanceKeyPathOf(const std::string& subkey) {
  return Format("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\%s", subkey.c_str());
}

IdentificationEntry IdentificationEntries::Entry(int n) const {
  IdentificationEntry entry;
  entry.key = Format("DiskVen_%02d", n);
  entry.hardwareValue = store_.Read(kHardwareSection, entry.key, "");
  entry.identity.hardwareId = HardwareIdOf(entry.hardwareValue);
  entry.identity.instanceKeyPath = InstanceKeyPathOf(store_.Read(kSubkeySection, entry.key, ""));
  entry.identity.inquiryText = store_.Read(kInquirySection, entry.key, "");
  return entry;
}

DeviceIdentity IdentificationEntries::Preset(const ProcessState& process) {
  return {process.presetHardwareId, process.presetInstanceKeyPath, process.presetInquiryText};
}

bool IdentificationEntries::WriteDefaults(const ProcessState& process) {
  if (process.InPackageMode()) return false;
  if (VersionAtLeast172(store_.Read("Environment", "IniVersion", ""))) return false;
  // Older files predate the identification entries: start them afresh, user settings included.
  store_.DeleteFile();
  store_.Write("Environment", "IniVersion", "1.72");
  store_.Write(kInquirySection, "DiskVen_00", "Morvent  USB-MSC Disk INT   ");
  store_.Write(kHardwareSection, "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
  store_.Write(kSubkeySection, "DiskVen_00", "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  return true;
}

void IdentificationEntries::CopyTo(ProfileStore& to) const {
  to.Write("Environment", "IniVersion", store_.Read("Environment", "IniVersion", ""));
  for (int n = 0;; ++n) {
    const std::string key = Format("DiskVen_%02d", n);
    bool any = false;
    for (const char* section : {kHardwareSection, kSubkeySection, kInquirySection}) {
      const std::string value = store_.Read(section, key, "");
      if (!value.empty()) {
        to.Write(section, key, value);
        any = true;
      }
    }
    if (!any) break;
  }
}

}  // namespace romsetter
