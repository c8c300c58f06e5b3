// What of the emulated device no other suite would notice breaking: programming and erase
// semantics, the replies nobody else reads, and a closed drive.  Faults, detaching and region
// replies are exercised by the device, flash and job suites.
#include "emulator/emulated_device.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Page = EmulatedDevice::Page;
using Bytes = std::vector<std::uint8_t>;

EmulatedDevice Scenario(const std::string& text) {
  EmulatorConfig config;
  std::string error;
  EXPECT_TRUE(ParseEmulatorConfig(text, "scenario", config, error)) << error;
  return EmulatedDevice(config.devices[0]);
}

using test::Filled;

EmulatedResult Send(EmulatedDevice& d, std::uint8_t code, std::uint8_t* data = nullptr, std::uint32_t length = 0,
                    DataDirection dir = DataDirection::Out, std::uint32_t address = 0, std::uint32_t number = 1) {
  std::array<std::uint8_t, 12> cdb{kVendorOpcode, code};
  WritePageParam(&cdb[3], address);
  WritePageParam(&cdb[7], number);
  return d.Execute(cdb.data(), code == DEV_FORMAT_16 ? 6 : 12, dir, data, length);
}

void Write(EmulatedDevice& d, std::uint32_t address, Page page, std::uint32_t number = 1) {
  Send(d, UPT_WRITE_PAGE, page.data(), 512, DataDirection::Out, address, number);
}

Page Read(EmulatedDevice& d, std::uint32_t address, std::uint8_t code = UPT_READ_PAGE) {
  Page p = Filled(0x5A);
  Send(d, code, p.data(), 512, DataDirection::In, address);
  return p;
}

// A write only clears bits, so a rewrite without an erase cannot pass for verified; a mark
// remaps the page, so the rewrite after it lands on erased flash.
TEST(EmulatedDevice, WritesClearBitsOnlyAndAMarkErasesThePage) {
  EmulatedDevice d;
  Write(d, 0x1234, Filled(0xF0));
  Write(d, 0x1234, Filled(0x3C));
  EXPECT_EQ(Read(d, 0x1234, FONT_READ_PAGE), Filled(0x30));  // font commands address the same flash
  Write(d, 0x1234, Filled(0xAA), 0);
  EXPECT_EQ(d.markedPages(), std::vector<std::uint32_t>{0x1234});
  Write(d, 0x1234, Filled(0xAA));
  EXPECT_EQ(Read(d, 0x1234), Filled(0xAA));
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

TEST(EmulatedDevice, RepliesNobodyElseReadsAndTheRestart) {
  EmulatedDevice d = Scenario("inquiry \"Short\"\nversion \"1.2\"\n");
  Bytes version(8, 0xEE);
  EXPECT_TRUE(Send(d, DEV_GET_VERSION, version.data(), 8, DataDirection::In).statusGood);
  EXPECT_EQ(version, Bytes({'1', '.', '2', ' ', ' ', ' ', ' ', ' '}));
  EXPECT_FALSE(Send(d, 0x08).statusGood);  // never-sent sub-command

  d.config().answersVendorCommands = false;
  EXPECT_FALSE(Send(d, FONT_END_OF_UPDATE).statusGood);
  const std::uint8_t tur[6] = {};
  EXPECT_TRUE(d.Execute(tur, 6, DataDirection::Out, nullptr, 0).statusGood);
  d.config().answersVendorCommands = true;
  EXPECT_TRUE(Send(d, UPT_FW_RESTART_SYS).statusGood);
  EXPECT_FALSE(d.attached());  // the restarted device leaves the bus
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
