#include "device/device_link.h"

#include <gtest/gtest.h>

#include <vector>

#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes CdbOf(const TraceEntry& e) { return Bytes(e.cdb.begin(), e.cdb.begin() + e.cdbLength); }

// One DeviceLink over the emulated device, on either transport.
struct Rig {
  explicit Rig(bool aspi, EmulatedDeviceConfig config = {})
      : device(config),
        drive(device),
        library({&device}),
        aspiTransport(library, 50),
        log(test::ScratchDir(aspi ? "link_aspi" : "link_pt") + "/Romsetter.log", window) {
    if (aspi) {
      link = std::make_unique<DeviceLink>(aspiTransport, log, window, selections);
      aspiTransport.BeginJob();
      aspiTransport.CreateEvent();
    } else {
      link = std::make_unique<DeviceLink>(drive, log, window, selections);
    }
  }
  EmulatedDevice device;
  EmulatedTransport drive;
  EmulatedAspiLibrary library;
  AspiTransport aspiTransport;
  test::RecordingWindow window;
  ActivityLog log;
  Selections selections;
  std::unique_ptr<DeviceLink> link;
};

class BothTransports : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Link, BothTransports, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Aspi" : "PassThrough"; });

TEST_P(BothTransports, PageCommandsCarryAddressAndNumberInTheirOddOrder) {
  Rig rig(GetParam());
  rig.link->pageBuffer.fill(0x5A);
  ASSERT_TRUE(rig.link->WritePage(0x00012345, 7, false));
  std::array<std::uint8_t, 512> page{};
  ASSERT_TRUE(rig.link->ReadPage(page.data(), 0x00012345, 7, false));
  ASSERT_TRUE(rig.link->WritePage(0x00012345, 7, true));
  ASSERT_TRUE(rig.link->ReadPage(page.data(), 0x00012345, 7, true));
  const auto& t = rig.device.trace();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(CdbOf(t[0]), (Bytes{0xFF, 0x03, 0x00, 0x01, 0x00, 0x45, 0x23, 0x00, 0x00, 0x07, 0x00, 0x00}));
  EXPECT_EQ(CdbOf(t[1]), (Bytes{0xFF, 0x04, 0x00, 0x01, 0x00, 0x45, 0x23, 0x00, 0x00, 0x07, 0x00, 0x00}));
  EXPECT_EQ(t[2].cdb[1], 0x0B);
  EXPECT_EQ(t[3].cdb[1], 0x0C);
  EXPECT_EQ(t[0].direction, DataDirection::Out);
  EXPECT_EQ(t[1].direction, DataDirection::In);
  for (const auto& e : t) EXPECT_EQ(e.length, 512u);
  EXPECT_EQ(t[0].data, Bytes(512, 0x5A));
  EXPECT_EQ(page[0], 0x5A);
}

TEST_P(BothTransports, EveryOtherCommandHasItsCdbDirectionAndLength) {
  Rig rig(GetParam());
  DeviceLink& link = *rig.link;
  std::uint8_t reply[20];
  InquiryReply inquiry{};
  EXPECT_TRUE(link.TestUnitReady());
  EXPECT_TRUE(link.Inquiry(inquiry).statusGood);
  EXPECT_TRUE(link.Query(UPT_FW_GET_SIZE, reply, kRegionReplyLength).statusGood);
  EXPECT_TRUE(link.Query(UPT_BOOT_GET_SIZE, reply, kRegionReplyLength).statusGood);
  EXPECT_TRUE(link.Query(FONT_GET_BLK_INFO, reply, kRegionReplyLength).statusGood);
  EXPECT_TRUE(link.Query(BACKUP_FW_GET_SIZE_32, reply, kBackupReplyLength).statusGood);
  EXPECT_TRUE(link.Query(DEV_GET_VERSION, reply, kVersionReplyLength).statusGood);
  EXPECT_TRUE(link.Query(DEV_GET_PRODUCT, reply, kProductReplyLength).statusGood);
  for (VendorCode c : {UPT_FW_ERASE_MEM, UPT_BOOT_ERASE_MEM, FONT_ERASE_FONT_BLKS, BACKUP_FW_ERASE_MEM}) {
    EXPECT_TRUE(link.SendErase(c).delivered);
  }
  EXPECT_TRUE(link.SendControl(FONT_END_OF_UPDATE));
  EXPECT_TRUE(link.SendFormat().statusGood);
  EXPECT_TRUE(link.SendControl(UPT_FW_RESTART_SYS));

  struct Expect {
    Bytes cdb;
    DataDirection direction;
    std::uint32_t length;
  };
  const bool aspi = GetParam();
  const auto in = DataDirection::In;
  const auto out = DataDirection::Out;
  auto vendor = [](std::uint8_t code) { return Bytes{0xFF, code, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; };
  const std::vector<Expect> expected = {
      {Bytes{0x00, 0, 0, 0, 0, 0}, out, 0},
      {Bytes{0x12, 0, 0, 0, 0x24, 0}, in, 36},
      {vendor(0x01), in, 10},
      {vendor(0x06), in, 10},
      {vendor(0x09), in, 10},
      {vendor(0x20), in, 8},
      {vendor(0x11), in, 8},
      {vendor(0x12), in, 20},
      {vendor(0x02), out, 0},
      {vendor(0x07), out, 0},
      {vendor(0x0A), out, 0},
      {vendor(0x21), out, 0},
      {vendor(0x0D), out, 0},
      // The format is the one command whose form differs: 6 bytes over pass-through,
      // 12 bytes marked data-in over ASPI; no data phase either way.
      {aspi ? vendor(0x10) : Bytes{0xFF, 0x10, 0, 0, 0, 0}, aspi ? in : out, 0},
      {vendor(0x05), out, 0},
  };
  const auto& t = rig.device.trace();
  ASSERT_EQ(t.size(), expected.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    SCOPED_TRACE(t[i].command);
    EXPECT_EQ(CdbOf(t[i]), expected[i].cdb);
    EXPECT_EQ(t[i].direction, expected[i].direction);
    EXPECT_EQ(t[i].length, expected[i].length);
  }
}

TEST(LinkPassThrough, EveryCommandCarriesABufferEvenWithoutDataPhase) {
  Rig rig(false);
  rig.link->SendErase(UPT_FW_ERASE_MEM);
  rig.link->SendFormat();
  ASSERT_EQ(rig.drive.requests().size(), 2u);
  for (const ScsiRequest& r : rig.drive.requests()) {
    EXPECT_NE(r.buffer, nullptr);
    EXPECT_EQ(r.direction, DataDirection::Out);
    EXPECT_EQ(r.length, 0u);
  }
  EXPECT_EQ(rig.drive.requests()[1].cdbLength, 6);
}

TEST(LinkPassThrough, SuccessRulesFollowTheCommandNotJustTheStatus) {
  EmulatedDeviceConfig config;
  for (const char* c : {"UPT_WRITE_PAGE", "UPT_READ_PAGE", "UPT_FW_ERASE_MEM", "UPT_FW_RESTART_SYS",
                        "UPT_FW_GET_SIZE", "SCSI_TST_U_RDY", "DEV_GET_VERSION", "UPT_MARK_ERROR_PAGE"}) {
    EmulatorFault f;
    f.kind = FaultKind::BadStatus;
    f.command = c;
    config.faults.push_back(f);
  }
  Rig rig(false, config);
  DeviceLink& link = *rig.link;
  std::array<std::uint8_t, 512> page{};
  std::uint8_t reply[10];
  // Delivered is enough for writes, erases, marks and control commands ...
  EXPECT_TRUE(link.WritePage(1, 1, false));
  EXPECT_TRUE(link.SendErase(UPT_FW_ERASE_MEM).delivered);
  EXPECT_TRUE(link.MarkErrorPage(1));
  EXPECT_TRUE(link.SendControl(UPT_FW_RESTART_SYS));
  // ... while reads and queries also need a good status.
  EXPECT_FALSE(link.ReadPage(page.data(), 1, 1, false));
  EXPECT_FALSE(link.Query(UPT_FW_GET_SIZE, reply, 10).statusGood);
  EXPECT_FALSE(link.TestUnitReady());
  EXPECT_FALSE(link.Query(DEV_GET_VERSION, reply, 8).statusGood);
  EXPECT_TRUE(rig.window.allStatus.empty());
}

TEST(LinkPassThrough, ControlCommandsThatAreNotDeliveredLogTheirLine) {
  EmulatedDeviceConfig config;
  EmulatorFault f;
  f.kind = FaultKind::NotDelivered;
  config.faults.push_back(f);
  Rig rig(false, config);
  EXPECT_FALSE(rig.link->SendControl(UPT_FW_RESTART_SYS));
  EXPECT_FALSE(rig.link->SendControl(FONT_END_OF_UPDATE));
  EXPECT_FALSE(rig.link->WritePage(1, 1, false));
  ASSERT_EQ(rig.window.allStatus.size(), 2u);
  EXPECT_EQ(rig.window.allStatus[0], "0x00001 UPT_FW_RESTART_SYS FAIL!!");
  EXPECT_EQ(rig.window.allStatus[1], "0x00002 FONT_END_OF_UPDATE FAIL!!");
}

TEST(LinkAspi, CompletedButFailedTimedOutAndRefusedRequests) {
  EmulatedDeviceConfig config;
  EmulatorFault bad;
  bad.kind = FaultKind::BadStatus;
  bad.command = "UPT_WRITE_PAGE";
  EmulatorFault late;
  late.kind = FaultKind::NoCompletion;
  late.command = "UPT_FW_RESTART_SYS";
  EmulatorFault refused;
  refused.kind = FaultKind::NotDelivered;
  refused.command = "UPT_READ_PAGE";
  config.faults = {bad, late, refused};
  Rig rig(true, config);
  std::array<std::uint8_t, 512> page{};

  const int waitsBefore = rig.library.waits();
  EXPECT_FALSE(rig.link->WritePage(1, 1, false));  // completed with an error status
  EXPECT_EQ(rig.library.waits(), waitsBefore + 1);
  EXPECT_FALSE(rig.link->ReadPage(page.data(), 1, 1, false));  // refused at once: no wait at all
  EXPECT_EQ(rig.library.waits(), waitsBefore + 1);
  EXPECT_FALSE(rig.link->SendControl(UPT_FW_RESTART_SYS));  // the wait runs out: no line over ASPI
  EXPECT_EQ(rig.library.lastWaitMs(), 50u);
  EXPECT_TRUE(rig.window.allStatus.empty());

  // The timed-out block is retired, never reused; the next command still works.
  EXPECT_EQ(rig.aspiTransport.retiredRequests(), 1u);
  EXPECT_TRUE(rig.link->TestUnitReady());
}

TEST(LinkAspi, MarkSendsTheSharedBufferInABlockOfItsOwn) {
  Rig rig(true);
  rig.device.WriteFlash(9, [] {
    EmulatedDevice::Page p;
    p.fill(0x3C);
    return p;
  }());
  std::array<std::uint8_t, 512> page{};
  ASSERT_TRUE(rig.link->ReadPage(page.data(), 9, 1, false));
  const std::size_t blocksBefore = rig.library.sent().size();
  ASSERT_TRUE(rig.link->MarkErrorPage(9));
  ASSERT_EQ(rig.library.sent().size(), blocksBefore + 1);
  const auto mark = rig.device.TraceOf("UPT_MARK_ERROR_PAGE");
  ASSERT_EQ(mark.size(), 1u);
  EXPECT_EQ(mark[0].pageNumber, 0u);
  EXPECT_EQ(mark[0].data, Bytes(512, 0x3C));  // the page as just read back
}

TEST(LinkPassThrough, MarkSendsZerosWithPageNumberZero) {
  Rig rig(false);
  rig.link->pageBuffer.fill(0x77);
  ASSERT_TRUE(rig.link->MarkErrorPage(0x40));
  const auto mark = rig.device.TraceOf("UPT_MARK_ERROR_PAGE");
  ASSERT_EQ(mark.size(), 1u);
  EXPECT_EQ(mark[0].pageAddress, 0x40u);
  EXPECT_EQ(mark[0].pageNumber, 0u);
  EXPECT_EQ(mark[0].data, Bytes(512, 0x00));
}

TEST(LinkShortReplies, LeaveZerosOverPassThroughAndThePreviousContentOverAspi) {
  EmulatedDeviceConfig config;
  config.product = "ABCDEFGHIJKLMNOPQRST";
  for (bool aspi : {false, true}) {
    Rig rig(aspi, config);
    std::uint8_t reply[20];
    ASSERT_TRUE(rig.link->Query(DEV_GET_PRODUCT, reply, 20).statusGood);
    rig.device.config().replyLimit = 4;
    ASSERT_TRUE(rig.link->Query(DEV_GET_VERSION, reply, 8).statusGood);
    const std::string text(reinterpret_cast<char*>(reply), 8);
    EXPECT_EQ(text.substr(0, 4), config.version.substr(0, 4));
    EXPECT_EQ(text.substr(4), aspi ? std::string("EFGH") : std::string(4, '\0'));
  }
}

}  // namespace
}  // namespace romsetter
