#pragma once
// A USB disk as the NT registry and the set-up service show it, written by the test itself
// into wine's registry: device instances with their hardware IDs, and the mounted volumes.
#include <windows.h>

#include <string>
#include <vector>

namespace romsetter::test {

inline const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
inline const std::string kMounted = "SYSTEM\\MountedDevices";
inline const std::string kReader = kEnum + "\\Disk&Ven_RsA&Prod_Reader";
inline const std::string kTwo = kEnum + "\\Disk&Ven_RsB&Prod_Two";
// A disk as Windows 7 and later record it: no ParentIdPrefix, the disk's own interface
// named in MountedDevices.
inline const std::string kSeven = kEnum + "\\Disk&Ven_RsC&Prod_Seven&Rev_1.00";
inline std::string DiskInterface(const std::string& instance) {
  return "USBSTOR#Disk&Ven_RsC&Prod_Seven&Rev_1.00#" + instance + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}
inline const std::string kPrefix = "7&2a3b4c5d&0";
inline const std::string kVolume = "\\??\\STORAGE#RemovableMedia#" + kPrefix;
inline const std::string kVolumeTail = "&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
inline const char* const kDiskClass = "{4d36e967-e325-11ce-bfc1-08002be10318}";

inline std::string Dos(char letter) { return std::string("\\DosDevices\\") + letter + ":"; }

inline bool SetRaw(const std::string& path, const std::string& name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}
inline std::string Utf16(const std::string& text) {
  std::string bytes;
  for (char c : text) bytes += std::string{c, '\0'};
  return bytes;
}
// A device instance as the set-up service lists it.
inline bool AddInstance(const std::string& path, const std::vector<std::string>& hardwareIds) {
  std::string multi;
  for (const std::string& id : hardwareIds) multi += id + '\0';
  return SetRaw(path, "ClassGUID", REG_SZ, std::string(kDiskClass) + '\0') &&
         SetRaw(path, "HardwareID", REG_MULTI_SZ, multi + '\0');
}

inline void DeleteTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char name[256];
  for (DWORD length = sizeof name; RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                                   ERROR_SUCCESS;
       length = sizeof name) {
    DeleteTree(key, name);
  }
  RegCloseKey(key);
  RegDeleteKeyA(root, path.c_str());
}

}  // namespace romsetter::test
