// NT discovery for real: wine's SetupAPI and registry, set up by the test itself, and the
// settings file through the profile functions.  Only the drive opens are a fake, since wine
// cannot open a device drive.
#include <windows.h>
// Keep the system's A/W macros off the methods of the same names.
#undef CreateEvent
#undef DeleteFile

#include <gtest/gtest.h>

#include <algorithm>
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

class NtRegistryDiscovery : public ::testing::Test {
 protected:
  NtRegistryDiscovery()
      : dir_(test::ScratchForCurrentTest("nt")),
        store_(dir_ + "\\Romsetter.ini"),
        log_(dir_ + "\\r.log", window_),
        link_(drive_, log_),
        memory_(link_, log_, map_),
        discovery_(DiscoveryPorts{link_, memory_, &drive_, nullptr, store_, process_, registry_, log_, window_, window_,
                                  [this](const std::string& line) { window_.SetVersionLine(line); }}) {}

  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteTree(HKEY_LOCAL_MACHINE, kReader);
    DeleteTree(HKEY_LOCAL_MACHINE, kTwo);
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
  std::vector<std::string> Lines() const { return test::StripNumbers(window_.allStatus); }

  std::string dir_;
  Win32ProfileStore store_;
  test::RecordingWindow window_;
  ActivityLog log_;
  test::ScriptedDrive drive_;
  ProcessState process_;
  NtDeviceRegistry registry_;
  DeviceLink link_;
  MemoryMap map_;
  MemoryQuery memory_;
  DeviceDiscovery discovery_;
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

  ASSERT_TRUE(discovery_.OpenDev(true));
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{
                "OpenDev() to Get InDisk Name", "SET HardwareID:\"USBSTOR\\DiskRsNone\" (DiskVen_00)",
                "Get HardwareID:\"USBSTOR\\DiskRsA_Reader\"", "Get HardwareID:\"usbstor\\diskrsb_two\"",
                "Get HardwareID:\"usbstor\\diskrsb_two\"", "SET HardwareID:\"USBSTOR\\DiskRsB_Two\" (DiskVen_01)",
                "Get HardwareID:\"USBSTOR\\DiskRsA_Reader\"", "Get HardwareID:\"usbstor\\diskrsb_two\"",
                "SET USBSTOR_SUBKEY:\"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_RsB&Prod_Two\"",
                "Check HardwareID OK!!, Now checking USBSTOR_SUBKEY & InDisk...", "01 CreatFile(\\\\.\\Q:)",
                "\"Q:\" is got for InDisk!!"}));
  EXPECT_EQ(drive_.opens, (std::vector<std::string>{"\\\\.\\P:", "\\\\.\\Q:", "\\\\.\\Q:"}));
  EXPECT_EQ(discovery_.inDiskName(), "Q:");
  EXPECT_EQ(discovery_.identity().inquiryText, "RsB Two");
}

// Several devices on the real registry: two storage instances of one entry, each mounted; the
// listing names both letters silently, and a search restricted to one opens only that one.
TEST_F(NtRegistryDiscovery, SeveralInstancesAreListedAndARestrictedSearchTakesItsOwn) {
  Entry(0, "DiskRsB_Two", "Disk&Ven_RsB&Prod_Two", "RsB Two");
  const std::string otherPrefix = "7&99aa&0";
  ASSERT_TRUE(AddInstance(kTwo + "\\0001", {"USBSTOR\\DiskRsB_Two", "GenDisk"}));
  ASSERT_TRUE(SetRaw(kTwo + "\\0001", "ParentIdPrefix", REG_SZ, kPrefix + '\0'));
  ASSERT_TRUE(AddInstance(kTwo + "\\0002", {"USBSTOR\\DiskRsB_Two", "GenDisk"}));
  ASSERT_TRUE(SetRaw(kTwo + "\\0002", "ParentIdPrefix", REG_SZ, otherPrefix + '\0'));
  ASSERT_TRUE(SetRaw(kMounted, Dos('P'), REG_BINARY, Utf16(kVolume + kVolumeTail)));
  ASSERT_TRUE(SetRaw(kMounted, Dos('Q'), REG_BINARY,
                     Utf16("\\??\\STORAGE#RemovableMedia#" + otherPrefix + kVolumeTail)));
  drive_.openable = {"\\\\.\\P:", "\\\\.\\Q:"};

  const std::vector<char> drives = discovery_.MatchingDrives();
  EXPECT_EQ(drives.size(), 2u);
  EXPECT_NE(std::find(drives.begin(), drives.end(), 'P'), drives.end());
  EXPECT_NE(std::find(drives.begin(), drives.end(), 'Q'), drives.end());
  EXPECT_TRUE(Lines().empty());

  drive_.opens.clear();
  discovery_.RestrictToDrive('Q');
  ASSERT_TRUE(discovery_.OpenDev(true));
  EXPECT_EQ(discovery_.inDiskName(), "Q:");
  for (const std::string& opened : drive_.opens) EXPECT_EQ(opened, "\\\\.\\Q:");
}

}  // namespace
}  // namespace romsetter
