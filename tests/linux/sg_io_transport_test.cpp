// SgIoTransport as the kernel sees it: every vendor command's header, the failure kinds of
// SG_IO, and the transport contract over the emulated device behind the ioctl.
#include "device/linux/sg_io_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include "emulator/linux/emulated_sg_io.h"
#include "support/data_rows.h"
#include "support/transport_conformance.h"
#include "sysfs_tree.h"

namespace romsetter::test {
namespace {

struct SgIoMaker : InProcessDevice {
  static constexpr TransportFamily kFamily = TransportFamily::PassThrough;
  static constexpr std::uint32_t kNotDeliveredError = EIO;
  static constexpr std::uint32_t kTimedOutError = ETIMEDOUT;
  explicit SgIoMaker(const std::string& deviceLines) : InProcessDevice(deviceLines) {
    std::uint32_t error = 0;
    EXPECT_TRUE(drive.OpenDrive("/dev/sg1", error));
  }
  ScsiTransport& transport() { return drive; }
  EmulatedSgIo sgIo{device, "/dev/sg1"};
  SgIoTransport drive{sgIo.Calls()};
};
INSTANTIATE_TYPED_TEST_SUITE_P(SgIo, TransportConformance, SgIoMaker);

TEST(SgIoTransport, EveryCommandGoesOutWithItsDirectionLengthsTimeoutAndSenseBuffer) {
  SgIoMaker rig("");
  const auto rows = TableLink(rig.drive, "sg_io_table").SendEveryCommand(TransportFamily::PassThrough);
  const auto& sent = rig.sgIo.sent();
  ASSERT_EQ(sent.size(), rows.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const CommandRow& row = rows[i];
    const sg_io_hdr_t& h = sent[i].header;
    EXPECT_EQ(std::make_tuple(h.interface_id, h.timeout, unsigned{h.mx_sb_len}, h.iovec_count, h.flags),
              std::make_tuple(int{'S'}, 2000u * 1000u, 32u, 0u, 0u));
    EXPECT_NE(h.sbp, nullptr);
    EXPECT_EQ(h.dxferp == nullptr, h.dxfer_len == 0);
    const int direction = row.length == 0                    ? SG_DXFER_NONE
                          : row.direction == DataDirection::In ? SG_DXFER_FROM_DEV
                                                               : SG_DXFER_TO_DEV;
    EXPECT_EQ(std::make_tuple(sent[i].cdb, unsigned{h.cmd_len}, h.dxfer_direction, h.dxfer_len),
              std::make_tuple(row.cdb, unsigned(row.cdb.size()), direction, row.length))
        << row.name;
  }
  EXPECT_TRUE(rig.sgIo.open());
  rig.drive.CloseDrive();
  EXPECT_FALSE(rig.sgIo.open());
}

// Each row's fake kernel answers one page read: it copies its whole zero-filled bounce buffer
// back, the device's bytes (0x5A) before the residual; a resid outside 0..length vouches for
// nothing.
TEST(SgIoFailures, EachKindOfFailureAndShortReplyEndsAsThePassThroughRulesExpect) {
  const std::map<std::string, int> errors = {{"0", 0}, {"EBUSY", EBUSY}, {"EIO", EIO}, {"ETIMEDOUT", ETIMEDOUT}};
  const std::vector<std::string> rows = DataLines("linux/data/sg_io_failures.txt");
  EXPECT_EQ(rows.size(), 14u);
  for (const std::string& line : rows) {
    SCOPED_TRACE(line);
    std::istringstream row(line.substr(line.rfind(": ") + 2));
    std::string error, senseHex, arrow, outcomeError;
    int ioctlResult = 0, status = 0, host = 0, driver = 0, resid = 0, key = 0, asc = 0, ascq = 0;
    unsigned taken = 0;
    bool delivered = false, good = false;
    row >> std::hex >> ioctlResult >> error >> status >> host >> driver >> senseHex >> resid >> arrow >> delivered >>
        good >> outcomeError >> key >> asc >> ascq >> taken;
    ASSERT_TRUE(row && errors.count(error) && errors.count(outcomeError));
    const std::vector<std::uint8_t> sense = HexBytes(senseHex);
    const auto answer = [&](int, sg_io_hdr_t* h) {
      if (ioctlResult != 0) {
        errno = errors.at(error);
        return -1;
      }
      auto* data = static_cast<std::uint8_t*>(h->dxferp);
      std::memset(data, 0, h->dxfer_len);
      std::memset(data, 0x5A, h->dxfer_len - std::min<unsigned>(h->dxfer_len, std::max(resid, 0)));
      h->resid = resid;
      h->status = static_cast<unsigned char>(status);
      h->host_status = static_cast<std::uint16_t>(host);
      h->driver_status = static_cast<std::uint16_t>(driver);
      if (!sense.empty()) std::memcpy(h->sbp, sense.data(), std::min<std::size_t>(sense.size(), h->mx_sb_len));
      h->sb_len_wr = static_cast<unsigned char>(sense.size());
      return 0;
    };
    SgIoTransport transport(NodeCalls{[](const std::string&, int) { return EmulatedSgIo::kFd; }, [](int) { return 0; },
                                      answer});
    std::uint32_t systemError = 0;
    EXPECT_TRUE(transport.OpenDrive("/dev/sg9", systemError));
    Page page = Filled(0xC3), expected = Filled(0xC3);
    EXPECT_EQ(Of(transport.Execute(Vendor(UPT_READ_PAGE, 0x40, 1, &page))),
              Outcome(delivered, good, errors.at(outcomeError)));
    const SgIoOutcome& last = transport.lastOutcome();
    EXPECT_EQ(std::make_tuple(int{last.senseKey}, int{last.asc}, int{last.ascq}), std::make_tuple(key, asc, ascq));
    EXPECT_EQ(last.sense.size(), ioctlResult == 0 ? sense.size() : 0u);
    std::fill_n(expected.begin(), taken, 0x5A);
    EXPECT_EQ(page, expected);
    EXPECT_EQ(last.transferred, taken);
  }
}

// How a status and its sense data end is the fake kernel's table above and the conformance suite.
TEST(SgIoNode, OpenFailuresCarryErrnoAndADetachedClosedOrPlainFileEndsInAnError) {
  SgIoMaker rig("");
  rig.device.Detach();
  EXPECT_EQ(Of(rig.drive.Execute(ScsiRequest{})), Outcome(false, false, ENODEV));
  // Closed, the transport still calls down and gets the kernel's refusal, never a crash.
  rig.drive.CloseDrive();
  EXPECT_EQ(Of(rig.drive.Execute(ScsiRequest{})), Outcome(false, false, EBADF));
  std::uint32_t error = 0;
  EXPECT_FALSE(rig.drive.OpenDrive("/dev/sg2", error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
  rig.sgIo.FailOpen(EACCES);
  EXPECT_FALSE(rig.drive.OpenDrive("/dev/sg1", error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(EACCES));
  EXPECT_FALSE(rig.drive.DriveOpen());

  const std::string dir = ScratchDir("sg_io_node");
  WriteFile(dir + "/sg0", std::string(512, '\0'));
  SgIoTransport real;
  EXPECT_FALSE(real.OpenDrive(dir + "/missing", error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
  ASSERT_TRUE(real.OpenDrive(dir + "/sg0", error));
  const ScsiResult result = real.Execute(ScsiRequest{});
  EXPECT_FALSE(result.delivered);
  EXPECT_NE(result.systemError, 0u);  // a file takes no SG_IO
  real.CloseDrive();
  EXPECT_FALSE(real.DriveOpen());
}

// The generic node, the disk and its partition lead to one lock; another device has its own.
TEST(SgIoNode, EveryNodeOfOneDeviceTakesTheSameLock) {
  SysfsTree tree("sg_io_device_lock");
  tree.Add(1, "Morvent", "USB-MSC Disk INT", "1.00", "1b3f", "2002", "sdb");
  tree.AddPartition("sdb", 1);
  tree.Add(2, "Morvent", "USB-MSC Disk INT", "1.00", "1b3f", "2002", "sdc");
  const std::string root = tree.paths.sysfsRoot;
  const auto folder = [&](bool block, unsigned major, unsigned minor) {
    return std::filesystem::canonical(DeviceFolderOfNode(root, block, major, minor));
  };
  EXPECT_EQ(folder(true, 8, 16), folder(false, 21, 1));
  EXPECT_EQ(folder(true, 8, 17), folder(false, 21, 1));
  EXPECT_NE(folder(true, 8, 32), folder(false, 21, 1));

  const int sg = LockDeviceFolder(DeviceFolderOfNode(root, false, 21, 1));
  ASSERT_GE(sg, 0);
  for (const unsigned minor : {16u, 17u}) {
    errno = 0;
    EXPECT_EQ(LockDeviceFolder(DeviceFolderOfNode(root, true, 8, minor)), -1) << minor;
    EXPECT_EQ(errno, EBUSY);
  }
  const int other = LockDeviceFolder(DeviceFolderOfNode(root, true, 8, 32));
  EXPECT_GE(other, 0);
  ::close(other);
  ::close(sg);
  const int partition = LockDeviceFolder(DeviceFolderOfNode(root, true, 8, 17));
  EXPECT_GE(partition, 0);
  ::close(partition);
  // A node of no SCSI device has no folder: nothing to lock, and not busy.
  errno = 0;
  EXPECT_EQ(LockDeviceFolder(DeviceFolderOfNode(root, false, 1, 3)), -1);
  EXPECT_NE(errno, EBUSY);
}

}  // namespace
}  // namespace romsetter::test
