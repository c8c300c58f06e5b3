// NT discovery for real: wine's SetupAPI and registry, set up by the test itself, and the
// settings file through the profile functions.  Only the drive opens are a fake, since wine
// cannot open a device drive.
#include <windows.h>
// Keep the system's A/W macros off the methods of the same names.
#undef CreateEvent
#undef DeleteFile

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/win32/win32_profile_store.h"
#include "device/discovery.h"
#include "device/discovery_fakes.h"
#include "device/win32/nt_device_registry.h"
#include "support/test_support.h"
#include "win32/nt_registry_setup.h"

namespace romsetter {
namespace {

using namespace test;  // the registry helpers

// What discovery is given: the profile-function settings, wine's registry, a scripted drive.
struct NtRegistryParts {
  NtRegistryParts() : dir_(test::ScratchForCurrentTest("nt")), store_(dir_ + "\\Romsetter.ini") {}
  std::string dir_;
  Win32ProfileStore store_;
  test::ScriptedDrive drive_;
  DriveSession session_{drive_};
  // What IOCTL_STORAGE_GET_DEVICE_NUMBER would say of each path; wine has no USB disk.
  std::map<std::string, StorageNumber> numbers_;
  std::vector<std::string> numbersAsked_;
  NtDeviceRegistry registry_{[this](const std::string& path) -> std::optional<StorageNumber> {
    numbersAsked_.push_back(path);
    const auto it = numbers_.find(path);
    if (it == numbers_.end()) return std::nullopt;
    return it->second;
  }};
};

class NtRegistryDiscovery : public ::testing::Test, protected NtRegistryParts, protected test::DiscoveryOver {
 protected:
  NtRegistryDiscovery() : DiscoveryOver(session_, store_, registry_, dir_ + "\\r.log") {}

  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteTree(HKEY_LOCAL_MACHINE, kReader);
    DeleteTree(HKEY_LOCAL_MACHINE, kTwo);
    DeleteTree(HKEY_LOCAL_MACHINE, kSeven);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMounted.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    for (char letter : {'N', 'O', 'P', 'Q'}) RegDeleteValueA(key, Dos(letter).c_str());
    RegCloseKey(key);
  }

  void Entry(int n, const std::string& hardware, const std::string& subkey, const std::string& inquiry) {
    const std::string key = Format("DiskVen_%02d", n);
    ASSERT_TRUE(store_.Write("HardwareID", key, hardware) && store_.Write("USBSTOR_SUBKEY", key, subkey) &&
                store_.Write("DiskVen_98", key, inquiry));
  }
  // The lines a case logs, from data/nt_registry_lines.txt.
  static std::vector<std::string> Expected(const std::string& name) {
    std::vector<std::string> lines;
    for (const std::string& row : ReadLines(ROMSETTER_SOURCE_DIR "/tests/win32/data/nt_registry_lines.txt")) {
      if (row.rfind(name + ": ", 0) == 0) lines.push_back(row.substr(name.size() + 2));
    }
    return lines;
  }
};

TEST_F(NtRegistryDiscovery, SecondEntryIsFoundThroughSetupApiAndMountedDevices) {
  Entry(0, "DiskRsNone", "Disk&Ven_RsNone", "RsNone");
  Entry(1, "DiskRsB_Two", "Disk&Ven_RsB&Prod_Two", "RsB Two");
  ASSERT_TRUE(AddInstance(kReader + "\\r1", {"USBSTOR\\DiskRsA_Reader", "GenDisk"}));
  ASSERT_TRUE(AddInstance(kReader + "\\r2", {"USBSTOR\\DiskRsB_Two" + std::string(1100, '_')}));  // too long
  ASSERT_TRUE(AddInstance(kTwo + "\\0001", {"usbstor\\diskrsb_two", "GenDisk"}));
  ASSERT_TRUE(SetRaw(kTwo + "\\0001", "ParentIdPrefix", REG_BINARY, kPrefix + '\0'));  // not a string
  ASSERT_TRUE(AddInstance(kTwo + "\\0002", {"usbstor\\diskrsb_two", "GenDisk"}));
  ASSERT_TRUE(SetRaw(kTwo + "\\0002", "ParentIdPrefix", REG_SZ, kPrefix + '\0'));
  std::string huge = Utf16(kVolume);
  huge.resize(1030, '\0');
  ASSERT_TRUE(SetRaw(kMounted, Dos('N'), REG_BINARY, huge));  // more than 1024 bytes
  ASSERT_TRUE(SetRaw(kMounted, Dos('O'), REG_BINARY, Utf16("\\??\\STORAGE#RemovableMedia#9&1&0&RM")));
  ASSERT_TRUE(SetRaw(kMounted, Dos('P'), REG_BINARY, Utf16(kVolume + kVolumeTail)));
  ASSERT_TRUE(SetRaw(kMounted, Dos('Q'), REG_BINARY, Utf16(kVolume + kVolumeTail)));
  drive_.openable = {"\\\\.\\N:", "\\\\.\\Q:"};  // P: matches too, but will not open

  ASSERT_TRUE(discovery.OpenDev(true));
  EXPECT_EQ(Logged(), Expected("second-entry"));
  EXPECT_EQ(drive_.opens, (std::vector<std::string>{"\\\\.\\P:", "\\\\.\\Q:", "\\\\.\\Q:"}));
  EXPECT_EQ(discovery.inDiskName(), "Q:");
  EXPECT_EQ(discovery.identity().inquiryText, "RsB Two");
}

// Windows 7 and 10 keep no ParentIdPrefix: the drive is found by the disk's own name in
// MountedDevices (in either object-directory spelling and any letter case), or, for a disk
// taken as fixed (a partition signature there), by the storage device numbers.  The lines
// are those of an XP run.
TEST_F(NtRegistryDiscovery, LaterWindowsFindTheDriveWithoutParentIdPrefix) {
  Entry(0, "DiskRsC_Seven", "Disk&Ven_RsC&Prod_Seven&Rev_1.00", "RsC Seven");
  const std::vector<std::string> expectedLines = Expected("later-windows");
  ASSERT_EQ(expectedLines.size(), 7u);
  const std::string mbr("\x12\x34\x56\x78\x00\x7E\x00\x00\x00\x00\x00\x00", 12);
  struct Shape {
    const char* name;
    std::string instance;    // with a serial number, or one Windows made up
    std::string qVolume;     // what MountedDevices holds for Q:
    bool numbers;            // the drive is found by device numbers
  } shapes[] = {
      {"7, serial", "AA04012700016437&0", Utf16("\\??\\" + DiskInterface("AA04012700016437&0")), false},
      {"7, no serial", "7&1c2d3e4f&0", Utf16(AsciiUpper("_??_" + DiskInterface("7&1c2d3e4f&0"))), false},
      {"10, fixed", "0123456789AB&0", mbr, true},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    TearDown();
    window.allStatus.clear();
    drive_.opens.clear();
    numbers_.clear();
    ASSERT_TRUE(AddInstance(kSeven + "\\" + shape.instance, {"USBSTOR\\DiskRsC_Seven", "GenDisk"}));
    // Another disk's name at P:, and at O: this disk's name with another instance.
    ASSERT_TRUE(SetRaw(kMounted, Dos('O'), REG_BINARY, Utf16("\\??\\" + DiskInterface("FF00&0"))));
    ASSERT_TRUE(SetRaw(kMounted, Dos('P'), REG_BINARY, mbr.substr(0, 8) + std::string(4, '\x01')));
    ASSERT_TRUE(SetRaw(kMounted, Dos('Q'), REG_BINARY, shape.qVolume));
    numbers_["\\\\.\\O:"] = {7, 3};
    numbers_["\\\\.\\P:"] = {7, 1};
    numbers_["\\\\.\\Q:"] = {7, 2};
    numbers_["\\\\?\\" + DiskInterface(shape.instance)] = {7, 2};
    drive_.openable = {"\\\\.\\O:", "\\\\.\\P:", "\\\\.\\Q:"};

    ASSERT_TRUE(discovery.OpenDev(true));
    EXPECT_EQ(Logged(), expectedLines);
    EXPECT_EQ(drive_.opens, (std::vector<std::string>{"\\\\.\\Q:", "\\\\.\\Q:"}));
    EXPECT_EQ(!numbersAsked_.empty(), shape.numbers);
    numbersAsked_.clear();
  }
  // A disk upgraded from XP carries both records, naming different letters: the XP one, by
  // its prefix, holds, and nothing is asked.
  ASSERT_TRUE(SetRaw(kSeven + "\\" + shapes[2].instance, "ParentIdPrefix", REG_SZ, kPrefix + '\0'));
  ASSERT_TRUE(SetRaw(kMounted, Dos('N'), REG_BINARY, Utf16(kVolume + kVolumeTail)));
  drive_.openable.push_back("\\\\.\\N:");
  ASSERT_TRUE(discovery.OpenDev(true));
  EXPECT_EQ(discovery.inDiskName(), "N:");
  EXPECT_TRUE(numbersAsked_.empty());
}

}  // namespace
}  // namespace romsetter
