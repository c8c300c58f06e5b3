// The emulated flash kept in a file between runs: what one device saves the next one loads,
// and a damaged file is refused with one line instead of being trusted.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_device.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Page = EmulatedDevice::Page;
using Addresses = std::vector<std::uint32_t>;

using test::Filled;

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
std::string FileBytes(const Addresses& pages, const Addresses& marks) {
  return FileBytes(pages, marks, static_cast<std::uint32_t>(pages.size()), static_cast<std::uint32_t>(marks.size()));
}

TEST(FlashFile, PagesAndMarksSurviveIntoTheNextDevice) {
  const std::string path = test::ScratchForCurrentTest("flash") + "/device.flash";
  std::string error;
  EmulatedDevice first = WithFile(path);
  first.WriteFlash(0x1000, Filled(0x5A));
  ASSERT_TRUE(first.LoadFlash(error)) << error;  // no file yet: a new, erased device
  EXPECT_EQ(first.ReadFlash(0x1000), Filled(0xFF));

  first.WriteFlash(0x1000, Filled(0x00));
  first.WriteFlash(0xFFFFFFFF, Filled(0xA5));
  first.WriteFlash(0x2000, Filled(0xFF));
  for (std::uint32_t a : {0x00123003u, 0x1001u, 0x00123003u}) Mark(first, a);  // repeats are kept
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

  EmulatedDevice none;  // without a file name both do nothing
  none.WriteFlash(0x10, Filled(0));
  EXPECT_TRUE(none.SaveFlash(error) && none.LoadFlash(error));
  EXPECT_EQ(none.ReadFlash(0x10), Filled(0));
}

TEST(FlashFile, DamagedFilesAreRefusedAndLeaveTheDeviceAlone) {
  const std::string dir = test::ScratchForCurrentTest("flash");
  const std::string good = FileBytes({0x10, 0x20}, {0x10});
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

TEST(FlashFile, AFailedSaveKeepsThePreviousFile) {
  const std::string path = test::ScratchForCurrentTest("flash") + "/device.flash";
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
}

TEST(FlashFile, ScenarioPathsResolveBesideTheScenario) {
  for (const auto& row : test::ReadTable("emulator/data/flash_file_paths.txt")) {
    EmulatorConfig config;
    std::string error;
    ASSERT_TRUE(ParseEmulatorConfig(row.at(1), row.at(0), config, error)) << error;
    EXPECT_EQ(config.devices[0].flashFile, row.at(2)) << row[1];
  }
}

}  // namespace
}  // namespace romsetter
