#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "emulator/emulated_device.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

EmulatorConfig Parse(const std::string& text) {
  EmulatorConfig config;
  std::string error;
  EXPECT_TRUE(ParseEmulatorConfig(text, "t.cfg", config, error)) << error;
  return config;
}

std::string Error(const std::string& text) {
  EmulatorConfig config;
  config.adapterCount = 77;
  std::string error;
  EXPECT_FALSE(ParseEmulatorConfig(text, "t.cfg", config, error)) << text;
  EXPECT_EQ(config.adapterCount, 77) << "a failed parse must leave the configuration alone";
  return error;
}

TEST(EmulatorConfig, ParsesEveryKey) {
  const EmulatorConfig c = Parse(
      "# scenario\r\nadapters 2\nsupport_status 0x01\ndrive g\n\n[device]\n"
      "inquiry \"Morvent  USB-MSC Disk # INT\"  # comment\nvendor_commands no\nversion \"12345678\"\n"
      "product \"MV-3\"\nfirmware 0x800 0x1000 0x2000\nflash_type 2\nboot 64 0x100 0x200\nfont 0x400 0x4000 0x5000\n"
      "backup 0xFFFFFFFF 7\nreply_limit 4\nlatency_us 50\ndetach_on_restart no\ntrace_data no\n"
      "usb_id 0xABCD 2\nserial \"SN 7\"\nfault corrupt_once UPT_READ_PAGE page=0x1003 occurrence=2 byte=511\nfault detach *\n[ device 1 3 ]\ngap 4 8\n");
  EXPECT_EQ(std::make_tuple(c.adapterCount, c.supportStatus, c.driveLetter), std::make_tuple(2, 1, 'G'));
  ASSERT_EQ(c.devices.size(), 2u);
  const EmulatedDeviceConfig& d = c.devices[0];
  EXPECT_EQ(std::make_tuple(d.inquiry, d.answersVendorCommands, d.version, d.product),
            std::make_tuple("Morvent  USB-MSC Disk # INT", false, "12345678", "MV-3"));
  const auto region = [](const RegionReply& r) { return std::make_tuple(int{r.size}, r.addr1, r.addr2); };
  EXPECT_EQ(region(d.firmware), std::make_tuple(0x800, 0x1000u, 0x02002000u));
  EXPECT_EQ(region(d.boot), std::make_tuple(64, 0x100u, 0x200u));
  EXPECT_EQ(region(d.font), std::make_tuple(0x400, 0x4000u, 0x5000u));
  EXPECT_EQ(std::make_tuple(d.backupAddr1, d.backupAddr2, d.replyLimit, d.latencyUs, d.detachOnRestart, d.traceData),
            std::make_tuple(0xFFFFFFFFu, 7u, 4u, 50u, false, false));
  EXPECT_EQ(std::make_tuple(d.usbVendor, d.usbProduct, d.usbSerial), std::make_tuple(0xABCD, 2, "SN 7"));
  const auto fault = [](const EmulatorFault& f) {
    return std::make_tuple(f.kind, f.command, f.anyPage, f.page, f.occurrence, f.byteIndex);
  };
  ASSERT_EQ(d.faults.size(), 2u);
  EXPECT_EQ(fault(d.faults[0]), std::make_tuple(FaultKind::CorruptOnce, "UPT_READ_PAGE", false, 0x1003u, 2u, 511u));
  EXPECT_EQ(fault(d.faults[1]), std::make_tuple(FaultKind::Detach, "*", true, 0u, 0u, 0u));
  const EmulatedDeviceConfig& e = c.devices[1];
  EXPECT_EQ(std::make_tuple(e.adapterId, e.targetId, e.firmware.addr2, e.gapLength),
            std::make_tuple(1, 3, 0x00040008u, 4));
  EXPECT_EQ(Parse("# nothing\n").devices.size(), 1u);  // always one device at least
}

// Each bad scenario, and on the line after it the error naming its file and line; an unreadable
// file named.
TEST(EmulatorConfig, BadLinesAndUnreadableFilesAreNamed) {
  const std::vector<std::string> lines = test::ReadLines(ROMSETTER_SOURCE_DIR "/tests/emulator/data/bad_scenarios.txt");
  ASSERT_EQ(lines.size() % 2, 1u);
  for (std::size_t i = 1; i < lines.size(); i += 2) EXPECT_EQ(Error(test::Unescaped(lines[i])), test::Unescaped(lines[i + 1]));
  EmulatorConfig config;
  std::string error;
  EXPECT_FALSE(LoadEmulatorConfig("/no/such/file.cfg", config, error));
  EXPECT_EQ(error, "/no/such/file.cfg: cannot open the emulator configuration");
}

TEST(EmulatorConfig, DocumentedExamplesParse) {
  const std::string doc = test::ReadFile(std::string(ROMSETTER_SOURCE_DIR) + "/docs/emulator.md");
  int examples = 0;
  for (std::size_t at = doc.find("```config\n"); at != std::string::npos; at = doc.find("```config\n", at)) {
    at += 10;
    const std::size_t end = doc.find("```", at);
    ASSERT_NE(end, std::string::npos);
    Parse(doc.substr(at, end - at));
    ++examples;
  }
  EXPECT_EQ(examples, 4);
}

}  // namespace
}  // namespace romsetter
