// PassThroughTransport as the storage driver sees it.  Wine refuses the pass-through on
// ordinary drives, so an emulated driver takes the request block in its place.
#include "device/win32/pass_through_transport.h"

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/activity_log.h"
#include "device/device_link.h"
#include "emulator/emulated_device.h"
#include "support/test_support.h"
#include "win32/emulated_pass_through.h"

namespace romsetter {
namespace {

class PassThroughTest : public ::testing::Test {
 protected:
  // Plays the driver, keeping the volume's lock and dismount calls.
  bool Driver(void* handle, std::uint32_t code, void* in, void* out) {
    if (code == PassThroughTransport::kIoctlScsiPassThroughDirect) return test::EmulatedPassThrough(device, in, out);
    volumeCalls.push_back({code, handle});
    if (code != refusedCode) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }

  std::uint32_t refusedCode = 0;
  std::vector<std::pair<std::uint32_t, void*>> volumeCalls;

  test::RecordingWindow window;
  ActivityLog log{test::ScratchDir("pass_through") + "/romsetter.log", window};
  EmulatedDevice device;
  PassThroughTransport transport{
      [this](void* handle, std::uint32_t code, void* in, std::uint32_t, void* out, std::uint32_t, std::uint32_t*) {
        return Driver(handle, code, in, out);
      }};
  DeviceLink link{transport, log};
};

// A CHECK CONDITION tells its sense key and codes in the failure's line.
TEST_F(PassThroughTest, ACheckConditionLogsItsSenseData) {
  device.config().faults = {{FaultKind::BadStatus, "DEV_GET_VERSION"}};
  EXPECT_FALSE(link.QueryProduct(ProductQuery::Version).ok);
  EXPECT_EQ(test::StripNumbers(window.allStatus),
            (std::vector<std::string>{"ScsiStatus=0x02 SenseKey=0x5 ASC=0x24 ASCQ=0x00"}));
}

// The job's volume is locked, then dismounted, on the drive's own handle; a refused lock
// leaves it alone.  Any existing file opens as the drive, and the real call refuses it a command.
TEST_F(PassThroughTest, LocksThenDismountsTheVolumeOnTheDrivesHandle) {
  const std::string dir = test::ScratchDir("pass_through_lock");
  test::WriteFile(dir + "/drive.bin", std::string(kPageSize, '\0'));
  std::uint32_t error = 0;
  EXPECT_FALSE(transport.OpenDrive(dir + "/missing", error));
  EXPECT_NE(error, 0u);
  ASSERT_TRUE(transport.OpenDrive(dir + "/drive.bin", error));
  ASSERT_TRUE(transport.LockVolume(error));
  ASSERT_EQ(volumeCalls.size(), 2u);
  EXPECT_EQ(volumeCalls[0].first, static_cast<std::uint32_t>(FSCTL_LOCK_VOLUME));
  EXPECT_EQ(volumeCalls[1].first, static_cast<std::uint32_t>(FSCTL_DISMOUNT_VOLUME));
  EXPECT_EQ(volumeCalls[0].second, volumeCalls[1].second);
  EXPECT_NE(volumeCalls[0].second, INVALID_HANDLE_VALUE);
  volumeCalls.clear();
  refusedCode = FSCTL_LOCK_VOLUME;
  EXPECT_FALSE(transport.LockVolume(error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(volumeCalls.size(), 1u);  // no dismount without the lock

  PassThroughTransport real;
  ASSERT_TRUE(real.OpenDrive(dir + "/drive.bin", error));
  const ScsiResult result = real.Execute(ScsiRequest{});
  EXPECT_FALSE(result.delivered);
  EXPECT_NE(result.systemError, 0u);
  real.CloseDrive();
  EXPECT_FALSE(real.DriveOpen());
}

}  // namespace
}  // namespace romsetter
