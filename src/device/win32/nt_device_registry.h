#pragma once
// Discovery's system services on the NT family: SetupAPI for the present USB storage
// devices and the registry under HKEY_LOCAL_MACHINE, every read into a bounded buffer.
#include <functional>

#include "device/device_registry.h"

namespace romsetter {

// Opens a disk or volume path and asks it IOCTL_STORAGE_GET_DEVICE_NUMBER.
using StorageNumberQuery = std::function<std::optional<StorageNumber>(const std::string& devicePath)>;

// The system's own: CreateFileA without access rights, then the I/O control.
std::optional<StorageNumber> SystemStorageNumber(const std::string& devicePath);

class NtDeviceRegistry final : public DeviceRegistry {
 public:
  // Injectable because wine has no USB disk to ask; tests answer for it.
  explicit NtDeviceRegistry(StorageNumberQuery storageNumber = SystemStorageNumber)
      : storageNumber_(std::move(storageNumber)) {}

  std::vector<RegistryValue> UsbStorageHardwareIds(std::size_t maxBytes) override;
  std::unique_ptr<RegistryKey> OpenLocalMachine(const std::string& path) override;
  std::optional<StorageNumber> StorageDeviceNumber(const std::string& devicePath) override {
    return storageNumber_ ? storageNumber_(devicePath) : std::nullopt;
  }

 private:
  StorageNumberQuery storageNumber_;
};

}  // namespace romsetter
