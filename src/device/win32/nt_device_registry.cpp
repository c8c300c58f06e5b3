#include "device/win32/nt_device_registry.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>

namespace romsetter {

namespace {

// Nothing discovery reads comes near this; it only keeps a caller's limit inside a DWORD.
constexpr std::size_t kReadCeiling = 64 * 1024;

RegistryValueType TypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return RegistryValueType::String;
    case REG_MULTI_SZ: return RegistryValueType::MultiString;
    case REG_BINARY: return RegistryValueType::Binary;
    default: return RegistryValueType::Other;
  }
}

class NtRegistryKey final : public RegistryKey {
 public:
  explicit NtRegistryKey(HKEY key) : key_(key) {}
  ~NtRegistryKey() override { RegCloseKey(key_); }
  NtRegistryKey(const NtRegistryKey&) = delete;
  NtRegistryKey& operator=(const NtRegistryKey&) = delete;

  bool SubkeyName(std::uint32_t index, std::string& name) override {
    char buffer[256];  // a key name has at most 255 characters
    DWORD length = sizeof buffer;
    if (RegEnumKeyExA(key_, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    name.assign(buffer, std::min<DWORD>(length, sizeof buffer - 1));
    return true;
  }

  RegistryValue ReadValue(const std::string& name, std::size_t maxBytes) override {
    RegistryValue value;
    maxBytes = std::min(maxBytes, kReadCeiling);
    std::vector<std::uint8_t> buffer(maxBytes + 1);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(maxBytes);
    const LONG rc = RegQueryValueExA(key_, name.c_str(), nullptr, &type, buffer.data(), &size);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && size > maxBytes)) {
      value.type = RegistryValueType::TooLong;
      return value;
    }
    if (rc != ERROR_SUCCESS) return value;
    value.type = TypeOf(type);
    value.data.assign(buffer.begin(), buffer.begin() + size);
    return value;
  }

 private:
  HKEY key_;
};

// SetupAPI, loaded when discovery asks: only the NT family lists devices through it, and a
// program that imported it would not start where the library is missing.
class SetupApi {
 public:
  SetupApi() : library_(LoadLibraryA("setupapi.dll")) {
    if (library_ == nullptr) return;
    Find(getClassDevs, "SetupDiGetClassDevsA");
    Find(enumDeviceInfo, "SetupDiEnumDeviceInfo");
    Find(getDeviceRegistryProperty, "SetupDiGetDeviceRegistryPropertyA");
    Find(destroyDeviceInfoList, "SetupDiDestroyDeviceInfoList");
  }
  ~SetupApi() {
    if (library_ != nullptr) FreeLibrary(library_);
  }
  SetupApi(const SetupApi&) = delete;
  SetupApi& operator=(const SetupApi&) = delete;

  bool Usable() const {
    return getClassDevs != nullptr && enumDeviceInfo != nullptr && getDeviceRegistryProperty != nullptr &&
           destroyDeviceInfoList != nullptr;
  }

  decltype(&SetupDiGetClassDevsA) getClassDevs = nullptr;
  decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;

 private:
  template <typename Function>
  void Find(Function& function, const char* name) {
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library_, name)));
  }

  HMODULE library_;
};

}  // namespace

std::vector<RegistryValue> NtDeviceRegistry::UsbStorageHardwareIds(std::size_t maxBytes) {
  std::vector<RegistryValue> devices;
  const SetupApi setupApi;
  if (!setupApi.Usable()) return devices;
  HDEVINFO list = setupApi.getClassDevs(nullptr, "USBSTOR", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (list == INVALID_HANDLE_VALUE) return devices;

  maxBytes = std::min(maxBytes, kReadCeiling);
  std::vector<std::uint8_t> buffer(maxBytes + 1);
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!setupApi.enumDeviceInfo(list, index, &info)) break;
    RegistryValue value;
    DWORD type = 0;
    DWORD required = 0;
    if (setupApi.getDeviceRegistryProperty(list, &info, SPDRP_HARDWAREID, &type, buffer.data(),
                                              static_cast<DWORD>(maxBytes), &required)) {
      if (required > maxBytes) {
        value.type = RegistryValueType::TooLong;
      } else {
        value.type = TypeOf(type);
        value.data.assign(buffer.begin(), buffer.begin() + required);
      }
    } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      value.type = RegistryValueType::TooLong;
    }
    devices.push_back(std::move(value));
  }
  setupApi.destroyDeviceInfoList(list);
  return devices;
}

std::unique_ptr<RegistryKey> NtDeviceRegistry::OpenLocalMachine(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<NtRegistryKey>(key);
}

std::optional<StorageNumber> SystemStorageNumber(const std::string& devicePath) {
  // No access rights: a standard user may ask, and nobody else's open is disturbed.
  HANDLE handle = CreateFileA(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                  &returned, nullptr);
  CloseHandle(handle);
  if (!ok || returned < sizeof number) return std::nullopt;
  return StorageNumber{static_cast<std::uint32_t>(number.DeviceType), static_cast<std::uint32_t>(number.DeviceNumber)};
}

}  // namespace romsetter
