#pragma once
// Discovery's system services on the NT family: SetupAPI for the present USB storage
// devices and the registry under HKEY_LOCAL_MACHINE, every read into a bounded buffer.
#include "device/device_registry.h"

namespace romsetter {

class NtDeviceRegistry final : public DeviceRegistry {
 public:
  std::vector<RegistryValue> UsbStorageHardwareIds(std::size_t maxBytes) override;
  std::unique_ptr<RegistryKey> OpenLocalMachine(const std::string& path) override;
};

}  // namespace romsetter
