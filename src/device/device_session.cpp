#include "device/device_session.h"

namespace romsetter {

ScsiTransport& DeviceSession::Transport() {
  return Visit([](DriveSession& s) -> ScsiTransport& { return s.drive(); },
               [](AspiSession& s) -> ScsiTransport& { return s.aspi(); });
}

std::shared_ptr<DeviceSession> MakeDriveSession(DriveTransport& drive, DriveLocator* locator) {
  return std::make_shared<DriveSession>(drive, locator);
}

std::shared_ptr<DeviceSession> MakeAspiSession(AspiTransport& aspi) { return std::make_shared<AspiSession>(aspi); }

}  // namespace romsetter
