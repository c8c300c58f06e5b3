// The emulated device on its own (both transports over it: tests/device).
#include "emulator/emulated_device.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"

namespace romsetter {
namespace {

using Page = EmulatedDevice::Page;
using Outcome = EmulatedOutcome;
using Bytes = std::vector<std::uint8_t>;

EmulatedDevice Scenario(const std::string& text) {
  EmulatorConfig config;
  std::string error;
  EXPECT_TRUE(ParseEmulatorConfig(text, "scenario", config, error)) << error;
  return EmulatedDevice(config.devices[0]);
}

Page Filled(std::uint8_t value) {
  Page p;
  p.fill(value);
  return p;
}

EmulatedResult Send(EmulatedDevice& d, std::uint8_t code, std::uint8_t* data = nullptr, std::uint32_t length = 0,
                    DataDirection dir = DataDirection::Out, std::uint32_t address = 0, std::uint32_t number = 1) {
  std::array<std::uint8_t, 12> cdb{kVendorOpcode, code};
  WritePageParam(&cdb[3], address);
  WritePageParam(&cdb[7], number);
  return d.Execute(cdb.data(), code == DEV_FORMAT_16 ? 6 : 12, dir, data, length);
}

EmulatedResult Write(EmulatedDevice& d, std::uint32_t address, Page page, std::uint32_t number = 1,
                     std::uint8_t code = UPT_WRITE_PAGE) {
  return Send(d, code, page.data(), 512, DataDirection::Out, address, number);
}

Page Read(EmulatedDevice& d, std::uint32_t address, std::uint8_t code = UPT_READ_PAGE) {
  Page p = Filled(0x5A);
  Send(d, code, p.data(), 512, DataDirection::In, address);
  return p;
}

TEST(EmulatedDevice, WritesProgramBitsFromOneToZeroOnlyAndAreTraced) {
  EmulatedDevice d;
  EXPECT_EQ(Read(d, 0x00012345), Filled(0xFF));
  Write(d, 0x00012345, Filled(0xF0), 7);
  const TraceEntry e = d.trace().back();
  EXPECT_EQ(std::make_tuple(e.command, e.pageAddress, e.pageNumber),
            std::make_tuple("UPT_WRITE_PAGE", 0x00012345u, 7u));
  EXPECT_EQ(e.data, Bytes(512, 0xF0));
  EXPECT_EQ(e.digest, Fnv1a(e.data.data(), 512));
  d.config().traceData = false;
  Write(d, 0x00012345, Filled(0x3C));
  EXPECT_TRUE(d.trace().back().data.empty());
  EXPECT_EQ(Read(d, 0x00012345, FONT_READ_PAGE), Filled(0x30));  // font commands address the same flash
}

TEST(EmulatedDevice, EachEraseCoversItsRegionOnly) {
  EmulatedDevice d = Scenario("firmware 4 0x100 0\ngap 2 1\nbackup 0x200 0x300\nboot 3 0x400 0x480\nfont 2 0x500 0x600\n");
  const std::vector<std::uint32_t> edges = {0x0FF, 0x100, 0x105, 0x106, 0x200, 0x203, 0x204, 0x300, 0x303,
                                            0x400, 0x402, 0x403, 0x480, 0x500, 0x501, 0x502, 0x600, 0x601};
  auto erasedBy = [&](std::uint8_t code) {
    for (std::uint32_t p : edges) d.WriteFlash(p, Filled(0));
    EXPECT_TRUE(Send(d, code).statusGood);
    std::vector<std::uint32_t> out;
    for (std::uint32_t p : edges) {
      if (d.ReadFlash(p) == Filled(0xFF)) out.push_back(p);
    }
    return out;
  };
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(erasedBy(UPT_FW_ERASE_MEM), (V{0x100, 0x105}));  // size plus the NOR gap
  EXPECT_EQ(erasedBy(BACKUP_FW_ERASE_MEM), (V{0x200, 0x203, 0x300, 0x303}));
  EXPECT_EQ(erasedBy(UPT_BOOT_ERASE_MEM), (V{0x400, 0x402}));
  EXPECT_EQ(erasedBy(FONT_ERASE_FONT_BLKS), (V{0x500, 0x501, 0x600, 0x601}));
  EXPECT_EQ(erasedBy(DEV_FORMAT_16), edges);
}

TEST(EmulatedDevice, MarkRecordsAndErasesThePageSoTheRewriteVerifies) {
  EmulatedDevice d;
  Write(d, 0x1234, Filled(0x0F));
  Write(d, 0x1234, Filled(0xAA), 0);
  EXPECT_EQ(d.markedPages(), std::vector<std::uint32_t>{0x1234});
  EXPECT_EQ(d.TraceOf("UPT_MARK_ERROR_PAGE").size(), 1u);
  Write(d, 0x1234, Filled(0xAA));
  EXPECT_EQ(Read(d, 0x1234), Filled(0xAA));
}

TEST(EmulatedDevice, RepliesFollowTheConfigurationAndMayBeShort) {
  EmulatedDevice d = Scenario("firmware 0x40 0x100 0\nflash_type 2\nbackup 0x11223344 0x3000\ninquiry \"Short\"\n"
                              "version \"1.2\"\n");
  const auto query = [&](std::uint8_t code, std::uint32_t length) {
    Bytes reply(length, 0xEE);
    EXPECT_TRUE(Send(d, code, reply.data(), length, DataDirection::In).statusGood);
    return reply;
  };
  EXPECT_EQ(query(UPT_FW_GET_SIZE, 10), (Bytes{0, 0x40, 0, 0, 1, 0, 2, 0, 0, 0}));
  EXPECT_EQ(query(BACKUP_FW_GET_SIZE_32, 8), (Bytes{0x11, 0x22, 0x33, 0x44, 0, 0, 0x30, 0}));
  EXPECT_EQ(query(DEV_GET_VERSION, 8), Bytes({'1', '.', '2', ' ', ' ', ' ', ' ', ' '}));
  const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
  Bytes reply(36, 0xEE);
  EXPECT_TRUE(d.Execute(inquiry, 6, DataDirection::In, reply.data(), 36).statusGood);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 2), (Bytes{0x00, 0x80}));
  EXPECT_EQ(std::string(reply.begin() + 8, reply.end()), "Short                       ");
  EXPECT_FALSE(Send(d, 0x08).statusGood);  // never-sent sub-command

  d.config().replyLimit = 4;
  d.WriteFlash(7, Filled(0x00));
  const Page p = Read(d, 7);
  EXPECT_EQ(p[3], 0x00);
  EXPECT_EQ(p[4], 0x5A);  // the rest of the buffer is left alone
  EXPECT_EQ(d.trace().back().digest, Fnv1a(p.data(), 4));
  d.config().answersVendorCommands = false;  // an ordinary disk
  EXPECT_FALSE(Send(d, FONT_END_OF_UPDATE).statusGood);
  const std::uint8_t tur[6] = {};
  EXPECT_TRUE(d.Execute(tur, 6, DataDirection::Out, nullptr, 0).statusGood);
}

TEST(EmulatedDevice, DetachFailsEveryCommandUntilAttach) {
  EmulatedDevice d = Scenario("fault detach UPT_READ_PAGE occurrence=2\n");
  EXPECT_TRUE(Send(d, UPT_FW_RESTART_SYS).statusGood);
  EXPECT_EQ(Send(d, FONT_END_OF_UPDATE).outcome, Outcome::NotDelivered);
  d.Attach();
  d.config().detachOnRestart = false;
  Send(d, UPT_FW_RESTART_SYS);
  EXPECT_TRUE(d.attached());

  Page page;
  const auto read = [&] { return Send(d, UPT_READ_PAGE, page.data(), 512, DataDirection::In); };
  EXPECT_TRUE(read().statusGood);
  EXPECT_EQ(read().outcome, Outcome::NotDelivered);
  EXPECT_EQ(Send(d, FONT_END_OF_UPDATE).outcome, Outcome::NotDelivered);
  d.Attach();
  EXPECT_TRUE(read().statusGood);  // the second match has passed
  EXPECT_EQ(d.trace().size(), 7u);  // failed commands are traced too
}

TEST(EmulatedDevice, DeliveryFaultsMatchByCommandPageAndOccurrence) {
  EmulatedDevice d = Scenario(
      "fault bad_status UPT_WRITE_PAGE page=0x20 occurrence=2\n"
      "fault not_delivered FONT_ERASE_FONT_BLKS\n"
      "fault no_completion * page=0x99\n");
  EXPECT_TRUE(Write(d, 0x21, Filled(0)).statusGood);  // other page: not counted
  EXPECT_TRUE(Write(d, 0x20, Filled(0xF0)).statusGood);
  const EmulatedResult bad = Write(d, 0x20, Filled(0x00));
  EXPECT_EQ(bad.outcome, Outcome::Completed);
  EXPECT_FALSE(bad.statusGood);
  EXPECT_EQ(d.ReadFlash(0x20), Filled(0xF0));  // no effect
  EXPECT_TRUE(Write(d, 0x20, Filled(0x00)).statusGood);

  d.WriteFlash(0x4000, Filled(0));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Send(d, FONT_ERASE_FONT_BLKS).outcome, Outcome::NotDelivered);
  EXPECT_EQ(d.ReadFlash(0x4000), Filled(0));

  EXPECT_EQ(Write(d, 0x99, Filled(0)).outcome, Outcome::NoCompletion);
  EXPECT_EQ(d.ReadFlash(0x99), Filled(0xFF));
  EXPECT_TRUE(Send(d, UPT_FW_ERASE_MEM).statusGood);  // a page fault skips non-page commands
}

TEST(EmulatedDevice, DataFaultsCorruptReadsAndIgnoreWrites) {
  EmulatedDevice d = Scenario(
      "fault corrupt_once UPT_READ_PAGE byte=508\n"
      "fault bad_page FONT_READ_PAGE page=5\n"
      "fault write_ignored FONT_WRITE_PAGE occurrence=1\n");
  Page first = Read(d, 3);
  EXPECT_EQ(first[508], 0x00);  // erased 0xFF, inverted
  first[508] = 0xFF;
  EXPECT_EQ(first, Filled(0xFF));
  EXPECT_EQ(Read(d, 3), Filled(0xFF));

  for (int i = 0; i < 2; ++i) EXPECT_EQ(Read(d, 5, FONT_READ_PAGE)[0], 0x00);
  EXPECT_EQ(Read(d, 6, FONT_READ_PAGE), Filled(0xFF));
  EXPECT_EQ(d.ReadFlash(5), Filled(0xFF));  // the flash itself is intact

  EXPECT_TRUE(Write(d, 9, Filled(0), 1, FONT_WRITE_PAGE).statusGood);
  EXPECT_EQ(d.ReadFlash(9), Filled(0xFF));
  Write(d, 9, Filled(0), 1, FONT_WRITE_PAGE);
  EXPECT_EQ(d.ReadFlash(9), Filled(0));
}

// A closed drive refuses commands as an invalid handle does, before the device sees them.
TEST(EmulatedTransport, OpensOnlyItsDriveWhileAttachedAndRefusesCommandsWhileClosed) {
  EmulatedDevice device;
  EmulatedTransport t(device, 'F');
  std::uint32_t error = 0;
  const auto refused = [&] {
    const ScsiResult r = t.Execute(ScsiRequest{});
    return !r.delivered && r.systemError == EmulatedTransport::kInvalidHandleError;
  };
  EXPECT_TRUE(refused());
  EXPECT_FALSE(t.OpenDrive("\\\\.\\E:", error));
  EXPECT_EQ(error, EmulatedTransport::kNotFoundError);
  EXPECT_FALSE(t.OpenDrive("F:", error));
  ASSERT_TRUE(t.OpenDrive("\\\\.\\F:", error));
  EXPECT_FALSE(refused());
  t.CloseDrive();
  EXPECT_TRUE(refused());
  EXPECT_EQ(device.trace().size(), 1u);  // only the command sent while open reached the device

  ASSERT_TRUE(t.OpenDrive("\\\\.\\F:", error));
  device.AddFault({FaultKind::NoCompletion});  // a hang is a time-out
  EXPECT_EQ(t.Execute(ScsiRequest{}).systemError, EmulatedTransport::kTimeoutError);
  device.Detach();
  EXPECT_FALSE(t.OpenDrive("\\\\.\\F:", error));
}

}  // namespace
}  // namespace romsetter
