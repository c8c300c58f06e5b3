#include "emulator/emulated_registry.h"

#include <string>

#include "base/format.h"

namespace romsetter {

void PopulateEmulatedRegistry(const EmulatorConfig& config, InMemoryDeviceRegistry& registry) {
  registry.AddDevice(InMemoryDeviceRegistry::MultiString({kEmulatedHardwareId, "USBSTOR\\DiskMorvent_", "GenDisk"}));
  const std::string instance = Format("%s\\%s", kEmulatedStorageKey, "0123456789ABCDEF&0");
  registry.SetValue(instance, "ParentIdPrefix", InMemoryDeviceRegistry::String(kEmulatedParentIdPrefix));
  registry.SetValue(
      "SYSTEM\\MountedDevices", Format("\\DosDevices\\%c:", config.driveLetter),
      InMemoryDeviceRegistry::Utf16(Format("\\??\\STORAGE#RemovableMedia#%s&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
                                           kEmulatedParentIdPrefix)));
}

}  // namespace romsetter
