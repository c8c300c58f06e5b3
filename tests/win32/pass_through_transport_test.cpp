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
#include "device/discovery_fakes.h"
#include "support/test_support.h"
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

TEST_F(PassThroughTest, EachCommandReachesTheDriverInTheDirectTransferBlock) {
  ASSERT_TRUE(link.TestUnitReady());
  ASSERT_TRUE(link.Format().transport.statusGood);
  const auto version = link.QueryProduct(ProductQuery::Version);
  ASSERT_TRUE(version.transport.statusGood);
  EXPECT_EQ(std::string(version.value.begin(), version.value.begin() + kVersionReplyLength), device.config().version);
  PageBuffer written;
  written.fill(0x5A);
  ASSERT_TRUE(link.WritePage(0x00012345, 7, PageArea::Firmware, written));
  PageBuffer readBack{};
  ASSERT_TRUE(link.ReadPage(0x00012345, 7, PageArea::Firmware, readBack));
  EXPECT_EQ(readBack, written);

  const std::tuple<int, int, std::uint32_t> expected[] = {  // CdbLength, DataIn, DataTransferLength
      {6, SCSI_IOCTL_DATA_OUT, 0}, {6, SCSI_IOCTL_DATA_OUT, 0}, {12, SCSI_IOCTL_DATA_IN, 8},
      {12, SCSI_IOCTL_DATA_OUT, 512}, {12, SCSI_IOCTL_DATA_IN, 512}};
  ASSERT_EQ(received.size(), std::size(expected));
  for (std::size_t i = 0; i < received.size(); ++i) {
    const Received& r = received[i];
    EXPECT_EQ(std::make_tuple(r.code, r.inSize, r.outSize, r.inIsOut), std::make_tuple(0x4D014u, 80u, 80u, true));
    // Sense data is asked for in the spare room behind the record.
    EXPECT_EQ(std::make_tuple(int{r.record.Length}, int{r.record.SenseInfoLength}, r.record.SenseInfoOffset,
                              r.record.TimeOutValue),
              std::make_tuple(int{PassThroughTransport::kRecordSize}, int{PassThroughTransport::kSenseLength},
                              static_cast<ULONG>(PassThroughTransport::kRecordSize), 2000u));
    EXPECT_NE(r.record.DataBuffer, nullptr);  // also without a data phase
    EXPECT_EQ(r.tail, std::vector<std::uint8_t>(r.tail.size(), 0));
    EXPECT_EQ(std::make_tuple(int{r.record.CdbLength}, int{r.record.DataIn}, r.record.DataTransferLength),
              expected[i]);
  }
  EXPECT_EQ(received[1].record.Cdb[1], DEV_FORMAT_16);
  EXPECT_EQ(std::vector<std::uint8_t>(received[3].record.Cdb, received[3].record.Cdb + 12),
            (std::vector<std::uint8_t>{0xFF, 0x03, 0x00, 0x01, 0x00, 0x45, 0x23, 0x00, 0x00, 0x07, 0x00, 0x00}));
}

// Some USB readers refuse a buffer that misses their adapter's alignment mask; every
// transfer, the odd-placed reply fields included, meets a page-sized mask.
TEST_F(PassThroughTest, EveryTransferMeetsTheAdaptersAlignmentMask) {
  alignmentMask = 0xFFF;
  const auto version = link.QueryProduct(ProductQuery::Version);
  ASSERT_TRUE(version.ok);
  EXPECT_EQ(std::string(version.value.begin(), version.value.begin() + kVersionReplyLength), device.config().version);
  test::RunEveryCommand(link);
  for (const Received& r : received) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r.record.DataBuffer) & 0xFFF, 0u);
  EXPECT_EQ(device.trace().size(), received.size());  // the driver refused none
}

// A CHECK CONDITION tells its sense key and codes in the failure's line.
TEST_F(PassThroughTest, ACheckConditionLogsItsSenseData) {
  device.config().faults = {{FaultKind::BadStatus, "DEV_GET_VERSION"}};
  EXPECT_FALSE(link.QueryProduct(ProductQuery::Version).ok);
  EXPECT_EQ(test::StripNumbers(window.allStatus),
            (std::vector<std::string>{"ScsiStatus=0x02 SenseKey=0x5 ASC=0x24 ASCQ=0x00"}));
}

// The job's volume is locked, then dismounted, on the drive's own handle; a refused lock
// leaves it alone.
TEST_F(PassThroughTest, LocksThenDismountsTheVolumeOnTheDrivesHandle) {
  const std::string dir = test::ScratchDir("pass_through_lock");
  test::WriteFile(dir + "/drive.bin", std::string(kPageSize, '\0'));
  std::uint32_t error = 0;
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
}

// A call the driver fails carries the system's last error.
TEST_F(PassThroughTest, AFailedCallCarriesTheLastError) {
  device.config().faults = {{FaultKind::NoCompletion, "DEV_GET_PRODUCT"}};
  const ScsiResult hung = link.QueryProduct(ProductQuery::Product).transport;
  EXPECT_FALSE(hung.delivered);
  EXPECT_EQ(hung.systemError, static_cast<std::uint32_t>(ERROR_SEM_TIMEOUT));
}

TEST(PassThroughDrive, OpensExistingPathsAndTheRealCallRefusesAnOrdinaryFile) {
  const std::string dir = test::ScratchDir("pass_through_drive");
  PassThroughTransport transport;
  std::uint32_t error = 0;
  EXPECT_FALSE(transport.OpenDrive(dir + "/missing", error));
  EXPECT_NE(error, 0u);
  test::WriteFile(dir + "/drive.bin", std::string(kPageSize, '\0'));
  ASSERT_TRUE(transport.OpenDrive(dir + "/drive.bin", error));
  ScsiRequest request;
  const ScsiResult result = transport.Execute(request);
  EXPECT_FALSE(result.delivered);
  EXPECT_NE(result.systemError, 0u);
  transport.CloseDrive();
  EXPECT_FALSE(transport.DriveOpen());
}

}  // namespace
}  // namespace romsetter
