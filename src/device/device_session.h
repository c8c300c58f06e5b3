#pragma once
// The one way to a device: a session per transport family, chosen once where the program
// decides the family (the front end's wiring).  A session hands out its transport and its
// family's rules, and owns what opening and closing the device takes: over pass-through the
// drive and where it is found, over ASPI the job's request block, buffer and event (AspiJob).
// Emulated, recorded and replayed transports are a drive or an ASPI library of one of these
// families, so they ride the same two sessions.
//
// Adding a family: a value of TransportFamily, a session class here with its case in Visit,
// and its rules in RulesOf and FlashRulesOf; each of those is a switch without a default,
// so the build (-Wall -Werror) refuses a family that lacks one.
#include <cstdlib>
#include <memory>

#include "device/aspi_transport.h"
#include "device/scsi_transport.h"
#include "device/transport_family.h"

namespace romsetter {

class DriveLocator;
class DriveSession;
class AspiSession;

class DeviceSession {
 public:
  virtual ~DeviceSession() = default;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  TransportFamily family() const { return family_; }
  ScsiTransport& Transport();
  const FamilyRules& rules() const { return RulesOf(family_); }

  // Calls the one of the two that handles this session's family, with the session itself.
  template <class OnDrive, class OnAspi>
  decltype(auto) Visit(OnDrive&& onDrive, OnAspi&& onAspi);

 private:
  // Only the family sessions below exist, so `family_` always names the class that holds it.
  friend class DriveSession;
  friend class AspiSession;
  explicit DeviceSession(TransportFamily family) : family_(family) {}
  const TransportFamily family_;
};

// The pass-through family (the NT drive, the Linux SG_IO node, the emulated drive): the
// device is a drive the locator finds; without a locator discovery searches the NT registry.
class DriveSession final : public DeviceSession {
 public:
  explicit DriveSession(DriveTransport& drive, DriveLocator* locator = nullptr)
      : DeviceSession(TransportFamily::PassThrough), drive_(drive), locator_(locator) {}
  DriveTransport& drive() { return drive_; }
  DriveLocator* locator() { return locator_; }

 private:
  DriveTransport& drive_;
  DriveLocator* locator_;
};

// The ASPI family: every piece of work on the device runs inside one AspiJob.
class AspiSession final : public DeviceSession {
 public:
  explicit AspiSession(AspiTransport& aspi) : DeviceSession(TransportFamily::Aspi), aspi_(aspi) {}
  AspiTransport& aspi() { return aspi_; }

 private:
  AspiTransport& aspi_;
};

// One ASPI job: the request block and the transfer buffer from its start, the completion
// event once made; all released when the scope ends, however it ends (a request that timed
// out stays retired inside the transport, as it must).
class AspiJob {
 public:
  explicit AspiJob(AspiSession& session) : aspi_(session.aspi()) { aspi_.BeginJob(); }
  ~AspiJob() { aspi_.EndJob(); }
  AspiJob(const AspiJob&) = delete;
  AspiJob& operator=(const AspiJob&) = delete;

  bool Available() { return aspi_.Available(); }
  bool CreateEvent() { return aspi_.CreateEvent(); }
  // The support-info test passed and the event was made: commands can be sent.
  bool Ready() { return Available() && CreateEvent(); }

 private:
  AspiTransport& aspi_;
};

std::shared_ptr<DeviceSession> MakeDriveSession(DriveTransport& drive, DriveLocator* locator = nullptr);
std::shared_ptr<DeviceSession> MakeAspiSession(AspiTransport& aspi);

template <class OnDrive, class OnAspi>
decltype(auto) DeviceSession::Visit(OnDrive&& onDrive, OnAspi&& onAspi) {
  switch (family_) {
    case TransportFamily::PassThrough: return onDrive(static_cast<DriveSession&>(*this));
    case TransportFamily::Aspi: return onAspi(static_cast<AspiSession&>(*this));
  }
  std::abort();  // `family_` is always one of the values above
}

}  // namespace romsetter
