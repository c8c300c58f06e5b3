#include "app/cli/device_wiring.h"

#include "emulator/emulated_registry.h"

namespace romsetter {

void EmulatedWiring::Build(const JobDevice& device, const AspiLibraryWrap& wrap, AppPorts& ports) {
  EmulatorConfig identity;
  identity.driveLetter = device.driveLetter;
  PopulateEmulatedRegistry(identity, registry);
  drive = std::make_unique<EmulatedTransport>(*device.emulated, device.driveLetter);
  library = std::make_unique<EmulatedAspiLibrary>(
      device.aspiTargets.empty() ? std::vector<EmulatedDevice*>{device.emulated} : device.aspiTargets, device.adapters,
      device.support);
  library->SetSignalsCompletion(device.signalCompleted);
  aspi = std::make_unique<AspiTransport>(wrap ? wrap(*library) : *library);
  ports.session = device.useAspi ? MakeAspiSession(*aspi) : MakeDriveSession(*drive);
}

namespace {
EmulatedDeviceConfig Absent() {
  EmulatedDeviceConfig absent;
  absent.attached = false;
  return absent;
}
}  // namespace

IdleDevice::IdleDevice() : device_(Absent()), drive_(device_) {}

std::string FileStem(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

void RestrictToNamed(AppPorts& ports, const DeviceTarget& named) {
  if (named.drive != 0) ports.onlyDrive = named.drive;
  if (named.aspiTarget) ports.onlyTarget = ScsiTarget{named.adapter, named.target};
}

}  // namespace romsetter
