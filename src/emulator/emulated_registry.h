#pragma once
// What an NT machine's registry says about an attached emulated device: its USB storage
// hardware id, its storage instance with a parent-id prefix, and the drive letter mounted
// for it, as the default identification entry expects them.
#include "device/device_registry.h"
#include "emulator/emulated_device.h"

namespace romsetter {

constexpr const char* kEmulatedHardwareId = "USBSTOR\\DiskMorvent__USB-MSC_Disk_INT___";
constexpr const char* kEmulatedStorageKey =
    "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T";
constexpr const char* kEmulatedParentIdPrefix = "7&2f1c3a&0";

void PopulateEmulatedRegistry(const EmulatorConfig& config, InMemoryDeviceRegistry& registry);

}  // namespace romsetter
