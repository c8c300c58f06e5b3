// The emulated device as a USB disk (romsetter-gadget): the bulk-only wrappers, the disk
// commands a kernel sends, and the vendor command set carried through the wrappers as the
// kernel's usb-storage carries SG_IO requests, held to every transport's contract.
#include "emulator/linux/usb_gadget/usb_disk.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include "device/linux/sg_io_transport.h"
#include "support/data_rows.h"
#include "support/transport_conformance.h"

namespace romsetter::test {
namespace {

// The 31 bytes usb-storage sends for a command.
std::vector<std::uint8_t> CbwBytes(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint32_t length, bool in,
                                   std::uint32_t tag = 7) {
  std::vector<std::uint8_t> raw(Cbw::kSize, 0);
  std::memcpy(raw.data(), "USBC", 4);
  for (int i = 0; i < 4; ++i) {
    raw[4 + i] = static_cast<std::uint8_t>(tag >> (8 * i));
    raw[8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  raw[12] = in ? 0x80 : 0;
  raw[14] = cdbLength;
  std::memcpy(&raw[15], cdb, cdbLength);
  return raw;
}

Cbw Parsed(const std::vector<std::uint8_t>& raw) {
  Cbw cbw;
  EXPECT_TRUE(ParseCbw(raw.data(), raw.size(), cbw));
  return cbw;
}
const std::uint8_t kRequestSense[6] = {0x03, 0, 0, 0, 18, 0};

// SG_IO as the kernel carries it over bulk-only: a wrapper per request, the residual from the
// status wrapper, sense data fetched after a failure, a phase error as a host failure.
struct UsbDiskMaker : InProcessDevice {
  static constexpr TransportFamily kFamily = TransportFamily::PassThrough;
  static constexpr std::uint32_t kNotDeliveredError = EIO;
  // A command the device never ends comes back as a phase error, not after the 2000 s time-out.
  static constexpr std::uint32_t kTimedOutError = EIO;
  explicit UsbDiskMaker(const std::string& deviceLines) : InProcessDevice(deviceLines) {
    std::uint32_t error = 0;
    EXPECT_TRUE(drive.OpenDrive("/dev/sg0", error));
  }
  int Carry(sg_io_hdr_t* h) {
    Cbw cbw;
    const auto raw = CbwBytes(h->cmdp, h->cmd_len, h->dxfer_len, h->dxfer_direction == SG_DXFER_FROM_DEV);
    if (!ParseCbw(raw.data(), raw.size(), cbw)) {
      errno = EINVAL;
      return -1;
    }
    std::vector<std::uint8_t> data(h->dxfer_len);
    auto* user = static_cast<std::uint8_t*>(h->dxferp);
    if (!cbw.in && !data.empty()) std::memcpy(data.data(), user, data.size());
    const UsbDisk::Reply reply = disk.Run(cbw, data.data());
    if (cbw.in) std::memcpy(user, data.data(), reply.transferred);
    h->resid = static_cast<int>(h->dxfer_len - reply.transferred);
    h->status = h->host_status = h->driver_status = h->sb_len_wr = 0;
    if (reply.status == kCswPhaseError) h->host_status = 0x07;  // DID_ERROR after the reset
    if (reply.status == kCswFailed) {
      std::vector<std::uint8_t> sense(18);
      disk.Run(Parsed(CbwBytes(kRequestSense, 6, 18, true)), sense.data());
      std::memcpy(h->sbp, sense.data(), std::min<std::size_t>(h->mx_sb_len, sense.size()));
      h->sb_len_wr = 18;
      h->status = 0x02;
      h->driver_status = 0x08;
    }
    return 0;
  }
  ScsiTransport& transport() { return drive; }
  UsbDisk disk{device, std::vector<std::uint8_t>(64 * UsbDisk::kBlockSize)};
  SgIoTransport drive{NodeCalls{[](const std::string&, int) { return 3; }, [](int) { return 0; },
                                [this](int, sg_io_hdr_t* h) { return Carry(h); }}};
};
INSTANTIATE_TYPED_TEST_SUITE_P(UsbDisk, TransportConformance, UsbDiskMaker);

TEST(UsbDisk, WrappersAreCheckedAndStatusWrappersLaidOut) {
  const std::uint8_t ready[6] = {};
  Cbw cbw;
  EXPECT_TRUE(ParseCbw(CbwBytes(ready, 6, 0, false).data(), Cbw::kSize, cbw));
  const std::uint8_t vendor[12] = {0xFF, 0x03, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0xAB, 0xCD};
  const auto raw = CbwBytes(vendor, 12, 512, false, 0x01020304);
  ASSERT_TRUE(ParseCbw(raw.data(), raw.size(), cbw));
  EXPECT_EQ(std::make_tuple(cbw.tag, cbw.length, cbw.in, int{cbw.cdbLength}), std::make_tuple(0x01020304u, 512u, false, 12));
  EXPECT_EQ(cbw.cdb[10], 0xAB);  // the whole 12 bytes, the last two included
  EXPECT_EQ(cbw.cdb[11], 0xCD);
  EXPECT_FALSE(ParseCbw(raw.data(), raw.size() - 1, cbw));
  // The signature, a CDB length of 0 or 17, and a second LUN this disk does not have.
  for (const auto& [at, value] : {std::pair{0, 'X'}, {14, 0}, {14, 17}, {13, 1}}) {
    auto bad = raw;
    bad[at] = static_cast<std::uint8_t>(value);
    EXPECT_FALSE(ParseCbw(bad.data(), bad.size(), cbw)) << at << " " << int{value};
  }
  EXPECT_EQ(MakeCsw(0x01020304, 0x1FF, kCswFailed),
            (std::array<std::uint8_t, kCswSize>{'U', 'S', 'B', 'S', 4, 3, 2, 1, 0xFF, 1, 0, 0, 1}));
}

// The commands the kernel sends a disk, each with its status, the bytes it moved and the
// sense a REQUEST SENSE gives after it.
TEST(UsbDisk, DiskCommandsAnswerAsADiskWithStatusAndSense) {
  EmulatedDevice device;
  std::vector<std::uint8_t> image(16 * UsbDisk::kBlockSize + 100);  // a partial block is dropped
  image[3 * UsbDisk::kBlockSize] = 0x5A;
  UsbDisk disk(device, image);
  EXPECT_EQ(disk.blocks(), 16u);
  const std::map<std::string, CswStatus> statuses = {{"good", kCswGood}, {"failed", kCswFailed}, {"phase", kCswPhaseError}};
  const std::vector<std::string> rows = DataLines("linux/data/usb_disk_commands.txt");
  EXPECT_EQ(rows.size(), 13u);
  for (const std::string& line : rows) {
    std::istringstream row(line);
    std::string cdbHex, direction, status, replyHex;
    std::uint32_t length = 0, transferred = 0;
    int senseKey = -1, asc = -1;
    row >> cdbHex >> length >> direction >> status >> transferred >> replyHex >> std::hex >> senseKey >> asc;
    ASSERT_TRUE(row && statuses.count(status)) << line;
    const std::vector<std::uint8_t> cdb = HexBytes(cdbHex), reply = HexBytes(replyHex);
    std::vector<std::uint8_t> data(length, 0xEE);
    const Cbw cbw = Parsed(CbwBytes(cdb.data(), static_cast<std::uint8_t>(cdb.size()), length, direction == "in"));
    const UsbDisk::Reply r = disk.Run(cbw, data.data());
    const std::string what = UsbDisk::CommandName(cbw);
    EXPECT_EQ(std::make_tuple(r.status, r.transferred), std::make_tuple(statuses.at(status), transferred)) << what;
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), data.begin())) << what;
    std::vector<std::uint8_t> sense(18);
    EXPECT_EQ(disk.Run(Parsed(CbwBytes(kRequestSense, 6, 18, true)), sense.data()).transferred, 18u);
    // A phase error leaves no sense: the host resets instead of asking.
    EXPECT_EQ(std::make_tuple(int{sense[0]}, int{sense[2]}, int{sense[12]}), std::make_tuple(0x70, senseKey, asc)) << what;
  }
  // Written blocks read back; the sense of a failure is given once.
  std::vector<std::uint8_t> block(UsbDisk::kBlockSize, 0x42);
  const std::uint8_t write[10] = {0x2A, 0, 0, 0, 0, 15, 0, 0, 1, 0};
  EXPECT_EQ(disk.Run(Parsed(CbwBytes(write, 10, UsbDisk::kBlockSize, false)), block.data()).status, kCswGood);
  EXPECT_EQ(disk.image()[15 * UsbDisk::kBlockSize + 511], 0x42);
}

}  // namespace
}  // namespace romsetter::test
