// The devices of romsetter-cli on Linux: SG_IO to a real device found through sysfs, and the
// emulated device behind the emulated pass-through, ASPI or SG_IO.
#include <memory>
#include <string>
#include <vector>

#include "app/cli/device_wiring.h"
#include "base/clock.h"
#include "device/linux/sg_io_transport.h"
#include "device/linux/sysfs_discovery.h"
#include "emulator/linux/emulated_sg_io.h"

namespace romsetter {

struct DeviceWiring::System {};

struct DeviceWiring::Parts {
  EmulatedWiring emulated;
  SystemClock clock;
  // The emulated device keeps its NT identity (registry entries, drive path), so the run logs
  // what it logs over the emulated pass-through; only the transport is SG_IO.
  std::unique_ptr<EmulatedSgIo> sgIoDevice;
  std::unique_ptr<SgIoTransport> sgDrive;
  std::unique_ptr<SysfsDriveLocator> locator;
};

DeviceWiring::DeviceWiring(const CliOptions& options, CliWindow& window)
    : o_(options), window_(window), system_(std::make_unique<System>()) {}

DeviceWiring::~DeviceWiring() = default;

bool DeviceWiring::AspiLoaded() { return false; }

bool DeviceWiring::Ready(const JobDevice&) { return true; }

bool DeviceWiring::ListReal(const DeviceTarget& t, ProfileStore& store, ProcessState& process,
                            std::vector<JobDevice>& devices) {
  std::vector<std::string> nodes;
  if (o_.all) {
    nodes = SysfsDriveLocator(SysfsPaths{}, "", o_.force).MatchingNodes(store, process);
  } else {
    nodes.push_back(t.node);
  }
  const std::vector<SgDevice> known = ScanScsiGeneric(SysfsPaths{});
  for (const std::string& node : nodes) {
    // A disk and its generic node, or two spellings of one node, are one device.
    const SgDevice* device = DeviceOfNode(known, node);
    for (const JobDevice& other : devices) {
      const SgDevice* otherDevice = DeviceOfNode(known, other.node);
      if (!other.node.empty() && (SameNode(other.node, node) || (device != nullptr && device == otherDevice))) {
        window_.Error(Format("--device %s and --device %s are one device%s", other.node.c_str(), node.c_str(),
                             device != nullptr ? Format(" (%s)", device->node.c_str()).c_str() : ""));
        return false;
      }
    }
    JobDevice job;
    job.name = node;
    job.tag = FileStem(node);
    job.node = node;
    job.real = t;
    devices.push_back(job);
  }
  return true;
}

AppPorts DeviceWiring::Wire(const JobDevice& device, OwnedParts& parts, WindowPort& window,
                            ProfileStore& profile, const FixedPaths& paths, const AspiLibraryWrap& wrap) {
  parts.reset(new Parts());
  Parts& p = *parts;
  AppPorts ports{window, profile, p.emulated.registry, p.clock, paths};
  if (device.emulated == nullptr) {
    p.sgDrive = std::make_unique<SgIoTransport>();
    p.locator = std::make_unique<SysfsDriveLocator>(SysfsPaths{}, o_.all ? "" : device.node, o_.force);
    if (o_.all) p.locator->RestrictTo(device.node);
    ports.session = MakeDriveSession(*p.sgDrive, p.locator.get());
    return ports;
  }
  p.emulated.Build(device, wrap, ports);
  if (device.sgIo) {
    p.sgIoDevice = std::make_unique<EmulatedSgIo>(*device.emulated, Format("\\\\.\\%c:", device.driveLetter));
    p.sgDrive = std::make_unique<SgIoTransport>(p.sgIoDevice->Calls());
    ports.session = MakeDriveSession(*p.sgDrive);
  }
  return ports;
}

EmulatedWiring& DeviceWiring::Emulated(Parts& parts) { return parts.emulated; }

struct RealDeviceGuard::Held {};

RealDeviceGuard::RealDeviceGuard() = default;

RealDeviceGuard::~RealDeviceGuard() = default;

bool RealDeviceGuard::Take(const CliOptions&, CliWindow&) { return true; }

void DeviceWiring::PartsDeleter::operator()(Parts* parts) const { delete parts; }

}  // namespace romsetter
