#pragma once
// How romsetter-cli reaches a device on this system: the transports of an emulated or a real
// device, where real devices are found, and the clock.  One file per system builds them
// (wiring_linux.cpp, wiring_win32.cpp); the rest of the command line never names a system's
// transport.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "device/device_registry.h"
#include "emulator/emulated_device.h"
#include "emulator/emulated_transport.h"

namespace romsetter {

// One device of a run as its job reaches it.
struct JobDevice {
  std::string name;  // as the list, the table and the JSON objects name it
  std::string tag;   // in its log file's name
  EmulatedDevice* emulated = nullptr;  // null: a real device
  std::vector<EmulatedDevice*> aspiTargets;  // what the emulated ASPI scan finds; empty: `emulated` alone
  char driveLetter = 'E';
  std::uint8_t adapters = 1;  // the scenario's ASPI support information
  std::uint8_t support = 1;
  bool signalCompleted = true;
  bool sgIo = false;     // the emulated device behind the SG_IO transport
  bool useAspi = false;  // reached through ASPI
  std::string node;      // a node named, or found by --all
  DeviceTarget real;     // the drive or ASPI target discovery is restricted to
};

// Puts something (the recorder, the replaying library) in front of an ASPI library.
using AspiLibraryWrap = std::function<AspiLibrary&(AspiLibrary&)>;

// The emulated device's side of a job, the same on every system: its NT identity and both
// families' transports (the ASPI one exists even when the job uses the drive: a replay may
// take it).
struct EmulatedWiring {
  InMemoryDeviceRegistry registry;
  std::unique_ptr<EmulatedTransport> drive;
  std::unique_ptr<EmulatedAspiLibrary> library;
  std::unique_ptr<AspiTransport> aspi;
  // Builds the above and names the family the job uses in `ports`.
  void Build(const JobDevice& device, const AspiLibraryWrap& wrap, AppPorts& ports);
};

// A device that is never asked anything: the checks made once before several devices run
// over a core on it.
class IdleDevice {
 public:
  IdleDevice();
  std::shared_ptr<DeviceSession> Session() { return MakeDriveSession(drive_); }

 private:
  EmulatedDevice device_;
  EmulatedTransport drive_;
};

// What a run shares between its devices on this system (the ASPI library is one per process),
// and the transports each job owns.
class DeviceWiring {
 public:
  DeviceWiring(const CliOptions& options, CliWindow& window);
  ~DeviceWiring();
  DeviceWiring(const DeviceWiring&) = delete;
  DeviceWiring& operator=(const DeviceWiring&) = delete;

  // Appends the real device `t` names, or with --all every device discovery matches (found
  // without a word in any log).  False with the refusal shown; ListFailure() is its status.
  bool ListReal(const DeviceTarget& t, ProfileStore& store, ProcessState& process, std::vector<JobDevice>& devices);
  int ListFailure() const { return listFailure_; }
  // A lone device, once its core is made: the ASPI library loaded when the job needs it.
  // False with the reason shown (no device).
  bool Ready(const JobDevice& device);

  // What one job owns of its device: transports, registry and clock.
  struct Parts;
  struct PartsDeleter {
    void operator()(Parts* parts) const;
  };
  using OwnedParts = std::unique_ptr<Parts, PartsDeleter>;
  // The ports of a job on `device`, its transports kept in `parts`; `wrap` stands in front of
  // every ASPI library the job uses.
  AppPorts Wire(const JobDevice& device, OwnedParts& parts, WindowPort& window, ProfileStore& profile,
                const FixedPaths& paths, const AspiLibraryWrap& wrap = {});
  static EmulatedWiring& Emulated(Parts& parts);

 private:
  bool AspiLoaded();

  const CliOptions& o_;
  CliWindow& window_;
  struct System;
  std::unique_ptr<System> system_;
  int listFailure_ = kExitRefused;
};

// While a run works on a real device, the window's guard on Windows: no two copies of either
// program drive real devices at once.  Other systems guard nothing.
class RealDeviceGuard {
 public:
  RealDeviceGuard();
  ~RealDeviceGuard();
  RealDeviceGuard(const RealDeviceGuard&) = delete;
  RealDeviceGuard& operator=(const RealDeviceGuard&) = delete;
  // Taken when `o` names a real device; false with the refusal shown when another copy holds it.
  bool Take(const CliOptions& o, CliWindow& window);

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

// The file name of `path` without its folders and extension.
std::string FileStem(const std::string& path);

// A drive or ASPI target named on the command line (E:, aspi:A:T) is the only device the
// job's discovery may take; other devices leave discovery alone.
void RestrictToNamed(AppPorts& ports, const DeviceTarget& named);

}  // namespace romsetter
