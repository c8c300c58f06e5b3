// The devices of romsetter-cli on Windows: the device the window would use (pass-through on
// the NT family, ASPI on Windows 98/ME), and the emulated device behind either.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/device_wiring.h"
#include "app/win32/instance_guard.h"
#include "app/win32/system_error_text.h"
#include "app/win32/tick_clock.h"
#include "device/win32/nt_device_registry.h"
#include "device/win32/pass_through_transport.h"
#include "device/win32/transport_choice.h"
#include "device/win32/win32_aspi_library.h"

namespace romsetter {
namespace {

// Whether a real device is reached through ASPI: a drive letter never, else with --aspi (or
// an ASPI target named) and on any system outside the NT family.
bool RealDeviceUsesAspi(bool aspi, char drive) {
  if (drive != 0) return false;  // a drive letter is reached through pass-through
  std::uint32_t platform = 0;
  return aspi || !SystemPlatformId(platform) || platform != kPlatformWin32Nt;
}

}  // namespace

struct DeviceWiring::System {
  // ASPI for Win32 is one per process: every job's transport sends through this one.
  Win32AspiLibrary aspiLibrary;
  bool aspiTried = false;
};

struct DeviceWiring::Parts {
  EmulatedWiring emulated;
  std::unique_ptr<NtDeviceRegistry> ntRegistry;
  TickClock clock;
  std::unique_ptr<AspiTransport> aspi;
  std::unique_ptr<PassThroughTransport> passThrough;
};

DeviceWiring::DeviceWiring(const CliOptions& options, CliWindow& window)
    : o_(options), window_(window), system_(std::make_unique<System>()) {}

DeviceWiring::~DeviceWiring() = default;

bool DeviceWiring::AspiLoaded() {
  if (!system_->aspiTried && !LoadAspiLibrary(system_->aspiLibrary, window_)) listFailure_ = kExitNoDevice;
  system_->aspiTried = true;
  return system_->aspiLibrary.Loaded();
}

bool DeviceWiring::Ready(const JobDevice& device) {
  return device.emulated != nullptr || !device.useAspi || AspiLoaded();
}

namespace {

JobDevice RealJob(const DeviceTarget& t) {
  JobDevice job;
  job.name = t.text;
  // A colon may not be part of a Windows file name: "E:" gives "E", "aspi:0:1" "aspi-0-1".
  job.tag = t.drive != 0 ? std::string(1, t.drive)
                         : Format("aspi-%u-%u", static_cast<unsigned>(t.adapter), static_cast<unsigned>(t.target));
  job.useAspi = RealDeviceUsesAspi(t.aspi, t.drive);
  job.real = t;
  return job;
}

}  // namespace

// Every device discovery matches is found as a single run would find one but without a word
// in any log; each becomes a job restricted to it.  A lone device loads ASPI once its core is
// made (Ready), as the window does.
bool DeviceWiring::ListReal(const DeviceTarget& t, ProfileStore& store, ProcessState& process,
                            std::vector<JobDevice>& devices) {
  if (!o_.all) {
    if (o_.Several() && RealDeviceUsesAspi(t.aspi, t.drive) && !AspiLoaded()) return false;
    devices.push_back(RealJob(t));
    return true;
  }
  const bool aspi = RealDeviceUsesAspi(t.aspi, 0);
  if (aspi && !AspiLoaded()) return false;
  PassThroughTransport drive;
  NtDeviceRegistry registry;
  AspiTransport aspiTransport(system_->aspiLibrary);
  NullWindow quiet;
  TickClock clock;
  AppPorts ports{quiet, store, registry, clock, FixedPaths::UnderFolder(".")};
  ports.paths.logFile = o_.log;
  ports.session = aspi ? MakeAspiSession(aspiTransport) : MakeDriveSession(drive);
  AppCore finder(ports, process);
  DeviceTarget found;
  found.realDevice = true;
  found.aspi = aspi;
  if (aspi) {
    found.aspiTarget = true;
    for (const ScsiTarget& address : finder.ListDevices().targets) {
      found.adapter = address.adapter;
      found.target = address.target;
      found.text = Format("aspi:%u:%u", static_cast<unsigned>(address.adapter), static_cast<unsigned>(address.target));
      devices.push_back(RealJob(found));
    }
  } else {
    for (char letter : finder.ListDevices().drives) {
      found.drive = letter;
      found.text = Format("%c:", letter);
      devices.push_back(RealJob(found));
    }
  }
  return true;
}

AppPorts DeviceWiring::Wire(const JobDevice& device, OwnedParts& parts, WindowPort& window,
                            ProfileStore& profile, const FixedPaths& paths, const AspiLibraryWrap& wrap) {
  parts.reset(new Parts());
  Parts& p = *parts;
  if (device.emulated != nullptr) {
    AppPorts ports{window, profile, p.emulated.registry, p.clock, paths};
    p.emulated.Build(device, wrap, ports);
    return ports;
  }
  // The device the window would use: the transport follows the system, as the window's does.
  p.ntRegistry = std::make_unique<NtDeviceRegistry>();
  AppPorts ports{window, profile, *p.ntRegistry, p.clock, paths};
  ports.errorText = Win32SystemErrorText;
  if (device.useAspi) {
    p.aspi = std::make_unique<AspiTransport>(wrap ? wrap(system_->aspiLibrary) : system_->aspiLibrary);
    ports.session = MakeAspiSession(*p.aspi);
  } else {
    p.passThrough = std::make_unique<PassThroughTransport>();
    ports.session = MakeDriveSession(*p.passThrough);
  }
  return ports;
}

EmulatedWiring& DeviceWiring::Emulated(Parts& parts) { return parts.emulated; }

struct RealDeviceGuard::Held {
  InstanceGuard guard;
};

RealDeviceGuard::RealDeviceGuard() = default;

RealDeviceGuard::~RealDeviceGuard() = default;

bool RealDeviceGuard::Take(const CliOptions& o, CliWindow& window) {
  if (!o.realDevice &&
      std::none_of(o.targets.begin(), o.targets.end(), [](const DeviceTarget& t) { return t.realDevice; })) {
    return true;
  }
  held_ = std::make_unique<Held>();
  if (held_->guard.held()) return true;
  window.Error(kAlreadyRunning);
  return false;
}

void DeviceWiring::PartsDeleter::operator()(Parts* parts) const { delete parts; }

}  // namespace romsetter
