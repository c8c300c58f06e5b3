// The emulated flash kept in a file between runs: what one device saves the next one loads,
// and a damaged file is refused with one line instead of being trusted.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_device.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Page = EmulatedDevice::Page;
using Addresses = std::vector<std::uint32_t>;

Page Filled(std::uint8_t value) {
  Page p;
  p.fill(value);
  return p;
}

EmulatedDevice WithFile(const std::string& path) {
  EmulatedDeviceConfig config;
  config.flashFile = path;
  return EmulatedDevice(config);
}

// A page write with page number 0: the host marking a page it could not verify.
void Mark(EmulatedDevice& d, std::uint32_t address) {
  std::array<std::uint8_t, 12> cdb{kVendorOpcode, UPT_WRITE_PAGE};
  WritePageParam(&cdb[3], address);
  Page payload = Filled(0);
  ASSERT_TRUE(d.Execute(cdb.data(), 12, DataDirection::Out, payload.data(), 512).statusGood);
}

void PutLe32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// A flash file built by hand: header, the given page records and marks, then the checksum.
std::string FileBytes(const Addresses& pages, const Addresses& marks, std::uint32_t pageCount,
                      std::uint32_t markCount, const char* magic = "RSFL", std::uint32_t version = 1) {
  std::string s(magic, 4);
  PutLe32(s, version);
  PutLe32(s, pageCount);
  PutLe32(s, markCount);
  for (std::uint32_t a : pages) {
    PutLe32(s, a);
    s.append(512, '\x11');
  }
  for (std::uint32_t a : marks) PutLe32(s, a);
  PutLe32(s, Fnv1a(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
  return s;
}
std::string FileBytes(const Addresses& pages, const Addresses& marks) {
  return FileBytes(pages, marks, static_cast<std::uint32_t>(pages.size()), static_cast<std::uint32_t>(marks.size()));
}

TEST(FlashFile, PagesAndMarksSurviveIntoTheNextDevice) {
  const std::string path = test::ScratchForCurrentTest("flash") + "/device.flash";
  std::string error;
  EmulatedDevice first = WithFile(path);
  first.WriteFlash(0x1000, Filled(0x5A));
  ASSERT_TRUE(first.LoadFlash(error)) << error;  // no file yet: a new, erased device
  EXPECT_EQ(first.ProgrammedPages(), 0u);
  EXPECT_EQ(first.ReadFlash(0x1000), Filled(0xFF));

  first.WriteFlash(0x1000, Filled(0x00));
  first.WriteFlash(0xFFFFFFFF, Filled(0xA5));
  first.WriteFlash(0x2000, Filled(0xFF));  // erased content: need not be stored
  Mark(first, 0x00123003);
  Mark(first, 0x1001);
  Mark(first, 0x00123003);  // marked twice: the list keeps both, in order
  ASSERT_TRUE(first.SaveFlash(error)) << error;

  EmulatedDevice second = WithFile(path);
  ASSERT_TRUE(second.LoadFlash(error)) << error;
  EXPECT_EQ(second.ProgrammedPages(), 2u);
  for (std::uint32_t a : {0x1000u, 0xFFFFFFFFu, 0x2000u, 0x00123003u, 0x0u}) {
    EXPECT_EQ(second.ReadFlash(a), first.ReadFlash(a)) << std::hex << a;
  }
  EXPECT_EQ(second.markedPages(), (Addresses{0x00123003, 0x1001, 0x00123003}));

  // A second save replaces the file.
  second.WriteFlash(0x1000, Filled(0x77));
  ASSERT_TRUE(second.SaveFlash(error)) << error;
  EmulatedDevice third = WithFile(path);
  ASSERT_TRUE(third.LoadFlash(error)) << error;
  EXPECT_EQ(third.ReadFlash(0x1000), Filled(0x77));
  EXPECT_FALSE(test::FileExists(path + ".tmp"));

  // Without a file name both do nothing.
  EmulatedDevice none;
  none.WriteFlash(0x10, Filled(0));
  EXPECT_TRUE(none.SaveFlash(error));
  EXPECT_TRUE(none.LoadFlash(error));
  EXPECT_EQ(none.ReadFlash(0x10), Filled(0));
}

TEST(FlashFile, DamagedFilesAreRefusedAndLeaveTheDeviceAlone) {
  const std::string dir = test::ScratchForCurrentTest("flash");
  const std::string good = FileBytes({0x10, 0x20}, {0x10});
  std::string flipped = good;
  flipped[30] ^= 0x01;
  const std::pair<std::string, std::string> cases[] = {
      {"", "truncated emulated flash file (0 bytes, shorter than its header)"},
      {good.substr(0, 19), "truncated emulated flash file (19 bytes, shorter than its header)"},
      {good.substr(0, good.size() - 1),
       "truncated emulated flash file: 2 pages and 1 marked pages take 1056 bytes, the file has 1055"},
      {good + "x", "overlong emulated flash file: 2 pages and 1 marked pages take 1056 bytes, the file has 1057"},
      {FileBytes({}, {}, 0, 0, "RSFX"), "not an emulated flash file (wrong magic)"},
      {FileBytes({}, {}, 0, 0, "RSFL", 2), "emulated flash file version 2 is not supported (only 1)"},
      {FileBytes({}, {}, 0xFFFFFFFF, 0),
       "truncated emulated flash file: 4294967295 pages and 0 marked pages take 2216203124240 bytes, the file has 20"},
      // Counts whose sizes wrap to exactly the file's length in 32-bit arithmetic.
      {FileBytes({}, {}, 0x40000000, 0x40000000),
       "truncated emulated flash file: 1073741824 pages and 1073741824 marked pages take 558345748500 bytes, "
       "the file has 20"},
      {flipped, ""},  // checksum: message checked below
      {FileBytes({0x20, 0x10}, {}), "emulated flash file lists page 0x00000010 out of order or twice"},
      {FileBytes({0x10, 0x10}, {}), "emulated flash file lists page 0x00000010 out of order or twice"},
  };
  for (const auto& [bytes, expected] : cases) {
    const std::string path = dir + "/bad.flash";
    test::WriteFile(path, bytes);
    EmulatedDevice d = WithFile(path);
    d.WriteFlash(0x10, Filled(0x42));
    std::string error;
    EXPECT_FALSE(d.LoadFlash(error)) << expected;
    if (expected.empty()) {
      EXPECT_EQ(error.rfind(path + ": emulated flash file is damaged (checksum 0x", 0), 0u) << error;
    } else {
      EXPECT_EQ(error, path + ": " + expected);
    }
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(d.ReadFlash(0x10), Filled(0x42)) << "a refused file must not change the device";
    EXPECT_TRUE(d.markedPages().empty());
  }

  // An oversize file is refused without being trusted (sparse, so cheap to make).
  const std::string huge = dir + "/huge.flash";
  test::WriteFile(huge, good);
  std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  EmulatedDevice d = WithFile(huge);
  std::string error;
  EXPECT_FALSE(d.LoadFlash(error));
  EXPECT_EQ(error, huge + ": the emulated flash file is larger than 67108864 bytes");

  // A file that is there but cannot be read is not a new device.
  std::vector<std::string> unreadable{dir};
#if !defined(_WIN32)
  unreadable.push_back(huge + "/inside.flash");  // below a file: not "missing" but not a folder
#endif
  for (const std::string& path : unreadable) {
    EmulatedDevice blocked = WithFile(path);
    EXPECT_FALSE(blocked.LoadFlash(error)) << path;
    EXPECT_EQ(error.rfind(path + ": cannot ", 0), 0u) << error;
  }

  // The hand-built file itself is sound, so the cases above fail for their own reason.
  test::WriteFile(dir + "/good.flash", good);
  EmulatedDevice sound = WithFile(dir + "/good.flash");
  ASSERT_TRUE(sound.LoadFlash(error)) << error;
  EXPECT_EQ(sound.ReadFlash(0x20), Filled(0x11));
  EXPECT_EQ(sound.markedPages(), Addresses{0x10});
}

TEST(FlashFile, AFailedSaveKeepsThePreviousFile) {
  const std::string dir = test::ScratchForCurrentTest("flash");
  const std::string path = dir + "/device.flash";
  EmulatedDevice d = WithFile(path);
  d.WriteFlash(0x10, Filled(0x01));
  std::string error;
  ASSERT_TRUE(d.SaveFlash(error)) << error;
  const std::string saved = test::ReadFile(path);

  std::filesystem::create_directory(path + ".tmp");  // the temporary file cannot be made
  d.WriteFlash(0x10, Filled(0x00));
  EXPECT_FALSE(d.SaveFlash(error));
  EXPECT_EQ(error.rfind(path + ".tmp: cannot create the emulated flash file (", 0), 0u) << error;
  EXPECT_EQ(test::ReadFile(path), saved);

  EmulatedDevice nowhere = WithFile(dir + "/no/such/folder/device.flash");
  EXPECT_FALSE(nowhere.SaveFlash(error));
  EXPECT_NE(error.find("cannot create the emulated flash file"), std::string::npos) << error;
}

TEST(FlashFile, ScenarioPathsResolveBesideTheScenario) {
  const struct {
    const char* scenario;
    const char* line;
    const char* expected;
  } cases[] = {
      {"t.cfg", "flash_file dev.flash", "dev.flash"},
      {"runs/t.cfg", "flash_file \"my dev.flash\"", "runs/my dev.flash"},
      {"runs/t.cfg", "flash_file sub/dev.flash", "runs/sub/dev.flash"},
      {"C:\\runs\\t.cfg", "flash_file dev.flash", "C:\\runs\\dev.flash"},
      {"runs/t.cfg", "flash_file /var/dev.flash", "/var/dev.flash"},
      {"runs/t.cfg", "flash_file D:\\dev.flash", "D:\\dev.flash"},
      {"runs/t.cfg", "flash_file \\\\server\\dev.flash", "\\\\server\\dev.flash"},
  };
  for (const auto& c : cases) {
    EmulatorConfig config;
    std::string error;
    ASSERT_TRUE(ParseEmulatorConfig(c.line, c.scenario, config, error)) << error;
    EXPECT_EQ(config.devices[0].flashFile, c.expected) << c.line;
  }

  const std::pair<const char*, const char*> bad[] = {
      {"flash_file \"\"\n", "t.cfg:1: flash_file expects a path"},
      {"flash_file\n", "t.cfg:1: missing value for 'flash_file' (expects 1)"},
      {"flash_file a b\n", "t.cfg:1: extra value 'b' after 'flash_file'"},
      {"flash_file a\n[device 0 1]\nflash_file a\n",
       "t.cfg:3: flash file 'a' is already used by the device at adapter 0 target 0"},
  };
  for (const auto& [text, expected] : bad) {
    EmulatorConfig config;
    std::string error;
    EXPECT_FALSE(ParseEmulatorConfig(text, "t.cfg", config, error));
    EXPECT_EQ(error, expected);
  }

  // From a real scenario file: the device saves beside it, wherever the program runs.
  const std::string dir = test::ScratchForCurrentTest("flash");
  test::WriteFile(dir + "/s.cfg", "[device]\nflash_file player.flash\n");
  EmulatorConfig config;
  std::string error;
  ASSERT_TRUE(LoadEmulatorConfig(dir + "/s.cfg", config, error)) << error;
  EmulatedDevice d(config.devices[0]);
  d.WriteFlash(0x10, Filled(0));
  ASSERT_TRUE(d.SaveFlash(error)) << error;
  EXPECT_TRUE(test::FileExists(dir + "/player.flash"));
}

}  // namespace
}  // namespace romsetter
