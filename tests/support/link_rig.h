#pragma once
// One DeviceLink over the emulated device on either transport: the drive opened over
// pass-through, or an ASPI job with its event begun.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "device/aspi_transport.h"
#include "device/device_link.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter::test {

// Another pass-through-family transport over the rig's device, already open (SG_IO on Linux).
using DriveMaker = std::function<std::shared_ptr<DriveTransport>(EmulatedDevice&)>;

struct LinkRig {
  LinkRig(bool aspi, const std::string& name, SystemErrorText errorText = CRuntimeErrorText,
          const DriveMaker& makeDrive = nullptr)
      : dir(ScratchDir(name)), log(dir + "/Romsetter.log", window, std::move(errorText)) {
    if (aspi) {
      aspiTransport.BeginJob();
      aspiTransport.CreateEvent();
    } else if (makeDrive) {
      otherDrive = makeDrive(device);
    } else {
      std::uint32_t error = 0;
      EXPECT_TRUE(drive.OpenDrive("\\\\.\\E:", error));
    }
    link = aspi ? std::make_unique<DeviceLink>(aspiTransport, log)
                : std::make_unique<DeviceLink>(otherDrive ? *otherDrive : static_cast<DriveTransport&>(drive), log);
  }
  std::vector<std::string> Lines() const { return StripNumbers(window.allStatus); }
  std::vector<std::string> Commands() const {
    std::vector<std::string> names;
    for (const TraceEntry& e : device.trace()) names.push_back(e.command);
    return names;
  }

  EmulatedDevice device;
  EmulatedTransport drive{device};
  EmulatedAspiLibrary library{{&device}};
  AspiTransport aspiTransport{library, 50};
  std::shared_ptr<DriveTransport> otherDrive;
  RecordingWindow window;
  std::string dir;
  ActivityLog log;
  std::unique_ptr<DeviceLink> link;
};

inline std::string TransportName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Aspi" : "PassThrough";
}

}  // namespace romsetter::test
