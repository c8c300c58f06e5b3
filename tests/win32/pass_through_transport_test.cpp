// PassThroughTransport as the storage driver sees it.  Wine refuses the pass-through on
// ordinary drives, so an emulated driver takes the request block in its place.
#include "device/win32/pass_through_transport.h"

#include <windows.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/activity_log.h"
#include "device/device_link.h"
#include "emulator/emulated_device.h"
#include "support/test_support.h"
#include "support/transport_conformance.h"
#include "win32/emulated_pass_through.h"

namespace romsetter {
namespace {

#if !defined(_WIN64)
static_assert(PassThroughTransport::kRecordSize == 44, "the program's record is the 32-bit one");
#endif

struct Received {
  std::uint32_t code, inSize, outSize;
  bool inIsOut;
  SCSI_PASS_THROUGH_DIRECT record;
  std::vector<std::uint8_t> tail;  // the block past the record
};

class PassThroughTest : public ::testing::Test {
 protected:
  // Keeps what the driver was handed, then plays the driver.
  bool Driver(void* handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out, std::uint32_t outSize) {
    if (code != PassThroughTransport::kIoctlScsiPassThroughDirect) {  // the volume's lock and dismount
      volumeCalls.push_back({code, handle});
      if (code != refusedCode) return true;
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    Received r{code, inSize, outSize, in == out, {}, {}};
    std::memcpy(&r.record, in, sizeof r.record);
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    r.tail.assign(bytes + sizeof r.record, bytes + PassThroughTransport::kBlockSize);
    received.push_back(r);
    return test::EmulatedPassThrough(device, in, out, alignmentMask);
  }

  std::uintptr_t alignmentMask = 0;
  std::uint32_t refusedCode = 0;
  std::vector<std::pair<std::uint32_t, void*>> volumeCalls;

  test::RecordingWindow window;
  ActivityLog log{test::ScratchDir("pass_through") + "/romsetter.log", window};
  EmulatedDevice device;
  std::vector<Received> received;
  PassThroughTransport transport{[this](void* handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                                        std::uint32_t outSize, std::uint32_t*) {
    return Driver(handle, code, in, inSize, out, outSize);
  }};
  DeviceLink link{transport, log};
};

// Every command in the direct-transfer block, sense data asked for in the spare room behind the
// record.  Some USB readers refuse a buffer that misses their adapter's alignment mask; every
// transfer, the odd-placed reply fields included, meets a page-sized mask.
TEST_F(PassThroughTest, EachCommandReachesTheDriverInAnAlignedDirectTransferBlock) {
  alignmentMask = 0xFFF;
  const auto rows = test::TableLink(transport, "pass_through_table").SendEveryCommand(TransportFamily::PassThrough);
  ASSERT_EQ(received.size(), rows.size());
  for (std::size_t i = 0; i < received.size(); ++i) {
    const Received& r = received[i];
    const test::CommandRow& row = rows[i];
    EXPECT_EQ(std::make_tuple(r.code, r.inSize, r.outSize, r.inIsOut), std::make_tuple(0x4D014u, 80u, 80u, true));
    EXPECT_EQ(std::make_tuple(int{r.record.Length}, int{r.record.SenseInfoLength}, r.record.SenseInfoOffset,
                              r.record.TimeOutValue),
              std::make_tuple(int{PassThroughTransport::kRecordSize}, int{PassThroughTransport::kSenseLength},
                              static_cast<ULONG>(PassThroughTransport::kRecordSize), 2000u));
    EXPECT_NE(r.record.DataBuffer, nullptr);  // also without a data phase
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r.record.DataBuffer) & 0xFFF, 0u);
    EXPECT_EQ(r.tail, std::vector<std::uint8_t>(r.tail.size(), 0));
    const int dataIn = row.direction == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    EXPECT_EQ(std::make_tuple(std::vector<std::uint8_t>(r.record.Cdb, r.record.Cdb + r.record.CdbLength),
                              int{r.record.DataIn}, r.record.DataTransferLength),
              std::make_tuple(row.cdb, dataIn, row.length))
        << row.name;
  }
}

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
