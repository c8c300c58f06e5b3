// What of the emulated device no other suite would notice breaking: programming and erase
// semantics, the replies nobody else reads, a closed drive, the flash kept in a file between
// runs (a damaged file refused with one line instead of being trusted) and the scenario
// format.  Faults, detaching and region replies are exercised by the device, flash and job
// suites.
#include "emulator/emulated_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Page = EmulatedDevice::Page;
using Bytes = std::vector<std::uint8_t>;
using Addresses = std::vector<std::uint32_t>;
using test::Filled;

EmulatorConfig Parse(const std::string& text) {
  EmulatorConfig config;
  std::string error;
  EXPECT_TRUE(ParseEmulatorConfig(text, "t.cfg", config, error)) << error;
  return config;
}

EmulatedDevice Scenario(const std::string& text) { return EmulatedDevice(Parse(text).devices[0]); }

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

EmulatedDevice WithFile(const std::string& path) {
  EmulatedDeviceConfig config;
  config.flashFile = path;
  return EmulatedDevice(config);
}

void PutLe32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// A flash file built by hand: header, page records of 0x11 and marks, then the checksum.
std::string FileBytes(const Addresses& pages, const Addresses& marks, std::uint32_t pageCount,
                      std::uint32_t markCount, const char* magic = "RSFL", std::uint32_t version = 1) {
  std::string s(magic, 4);
  for (std::uint32_t v : {version, pageCount, markCount}) PutLe32(s, v);
  for (std::uint32_t a : pages) PutLe32(s, a), s.append(512, '\x11');
  for (std::uint32_t a : marks) PutLe32(s, a);
  PutLe32(s, Fnv1a(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
  return s;
}

TEST(FlashFile, PagesAndMarksSurviveIntoTheNextDeviceAndAFailedSaveKeepsThem) {
  const std::string path = test::ScratchForCurrentTest("flash") + "/device.flash";
  std::string error;
  EmulatedDevice first = WithFile(path);
  first.WriteFlash(0x1000, Filled(0x5A));
  ASSERT_TRUE(first.LoadFlash(error)) << error;  // no file yet: a new, erased device
  EXPECT_EQ(first.ReadFlash(0x1000), Filled(0xFF));

  first.WriteFlash(0x1000, Filled(0x00));
  first.WriteFlash(0xFFFFFFFF, Filled(0xA5));
  first.WriteFlash(0x2000, Filled(0xFF));
  // Page number 0: the host marking a page it could not verify; repeats are kept.
  for (std::uint32_t a : {0x00123003u, 0x1001u, 0x00123003u}) Write(first, a, Filled(0), 0);
  ASSERT_TRUE(first.SaveFlash(error)) << error;
  EmulatedDevice second = WithFile(path);
  ASSERT_TRUE(second.LoadFlash(error)) << error;
  for (std::uint32_t a : {0x1000u, 0xFFFFFFFFu, 0x2000u, 0x00123003u, 0x0u}) {
    EXPECT_EQ(second.ReadFlash(a), first.ReadFlash(a)) << std::hex << a;
  }
  EXPECT_EQ(second.markedPages(), (Addresses{0x00123003, 0x1001, 0x00123003}));

  second.WriteFlash(0x1000, Filled(0x77));  // a second save replaces the file
  ASSERT_TRUE(second.SaveFlash(error)) << error;
  ASSERT_TRUE(first.LoadFlash(error)) << error;
  EXPECT_EQ(first.ReadFlash(0x1000), Filled(0x77));
  EXPECT_FALSE(test::FileExists(path + ".tmp"));

  // A save that cannot make its temporary file keeps the previous file.
  const std::string saved = test::ReadFile(path);
  std::filesystem::create_directory(path + ".tmp");
  second.WriteFlash(0x1000, Filled(0x00));
  EXPECT_FALSE(second.SaveFlash(error));
  EXPECT_EQ(error.rfind(path + ".tmp: cannot create the emulated flash file (", 0), 0u) << error;
  EXPECT_EQ(test::ReadFile(path), saved);

  EmulatedDevice none;  // without a file name both do nothing
  none.WriteFlash(0x10, Filled(0));
  EXPECT_TRUE(none.SaveFlash(error) && none.LoadFlash(error));
  EXPECT_EQ(none.ReadFlash(0x10), Filled(0));
}

TEST(FlashFile, DamagedFilesAreRefusedAndLeaveTheDeviceAlone) {
  const std::string dir = test::ScratchForCurrentTest("flash");
  const std::string good = FileBytes({0x10, 0x20}, {0x10}, 2, 1);
  const std::string huge = dir + "/huge.flash";  // sparse, so cheap to make
  test::WriteFile(huge, good);
  std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  for (const auto& row : test::ReadTable("emulator/data/bad_flash_files.txt")) {
    const std::string& how = row.at(0);
    const std::uint32_t n = how.find(' ') == std::string::npos ? 0 : std::stoul(how.substr(how.find(' ')), nullptr, 0);
#if defined(_WIN32)
    if (how == "below") continue;
#endif
    std::string bytes = how.rfind("head", 0) == 0 ? good.substr(0, n) : how == "append" ? good + "x" : good;
    if (how.rfind("flip", 0) == 0) bytes[n] ^= 0x01;
    if (how.rfind("make", 0) == 0) {
      std::istringstream list(row.at(2));
      Addresses pages;
      for (std::string page; list >> page;) pages.push_back(std::stoul(page, nullptr, 0));
      bytes = FileBytes(pages, {}, std::stoul(row.at(3), nullptr, 0), std::stoul(row.at(4), nullptr, 0), row.at(1).c_str(), n);
    }
    const std::string path = how == "huge" ? huge : how == "folder" ? dir : how == "below" ? huge + "/inside.flash"
                                                                                          : dir + "/bad.flash";
    if (path == dir + "/bad.flash") test::WriteFile(path, bytes);
    EmulatedDevice d = WithFile(path);
    d.WriteFlash(0x10, Filled(0x42));
    std::string error;
    EXPECT_FALSE(d.LoadFlash(error)) << how;
    EXPECT_EQ(error.rfind(path + ": " + row.back(), 0), 0u) << error;  // the start, for system texts
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(d.ReadFlash(0x10), Filled(0x42)) << "a refused file must not change the device";
    EXPECT_TRUE(d.markedPages().empty());
  }
}

TEST(FlashFile, ScenarioPathsResolveBesideTheScenario) {
  for (const auto& row : test::ReadTable("emulator/data/flash_file_paths.txt")) {
    EmulatorConfig config;
    std::string error;
    ASSERT_TRUE(ParseEmulatorConfig(row.at(1), row.at(0), config, error)) << error;
    EXPECT_EQ(config.devices[0].flashFile, row.at(2)) << row[1];
  }
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
