// NT discovery over a registry held in memory (the full search against wine's real
// registry is in tests/win32) and the identification defaults.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "support/data_rows.h"
#include "device/discovery_fakes.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Reg = InMemoryDeviceRegistry;
using Lines = std::vector<std::string>;

const std::string kDev = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Dev";
const std::string kMounted = "SYSTEM\\MountedDevices";
const std::string kVolume = "\\??\\STORAGE#RemovableMedia#7&2a3b&0";

std::string Dos(char letter) { return std::string("\\DosDevices\\") + letter + ":"; }

struct NtParts {
  test::ScriptedDrive drive;
  DriveSession session{drive};
  test::RecordingProfileStore store;
  Reg registry;
};

struct NtRig : NtParts, test::DiscoveryOver {
  explicit NtRig(std::vector<std::string> openable)
      : DiscoveryOver(session, store, registry, test::ScratchDir("discovery_nt") + "/r.log") {
    drive.openable = std::move(openable);
    store.Set("HardwareID", "DiskVen_00", "DiskMorvent");
    store.Set("USBSTOR_SUBKEY", "DiskVen_00", "Dev");
    registry.AddDevice(Reg::String("USBSTOR\\DiskMorvent"));
    registry.SetValue(kDev + "\\1", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  }
};

// The lines and the box of each case are tests/device/data/open_failures.txt.
TEST(DiscoveryNt, ADriveThatWillNotOpenEndsInItsLinesAndBox) {
  for (const std::vector<std::string>& c : test::ReadTable("device/data/open_failures.txt")) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    NtRig rig({"\\\\.\\F:"});
    rig.drive.successesLeft = std::stoi(c[0]);
    rig.drive.refusal = static_cast<std::uint32_t>(std::stoul(c[1]));
    rig.registry.SetValue(kMounted, Dos('F'), Reg::Utf16(kVolume));
    EXPECT_FALSE(rig.discovery.OpenDev(true));
    EXPECT_EQ(rig.discovery.accessDenied(), c[1] == "5");
    EXPECT_EQ(rig.discovery.identity().instanceKeyPath, kDev);  // the entry matched: a package built now carries it
    const Lines tail(c.begin() + 2, c.end() - 1), lines = rig.Logged();
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(tail.size()), lines.end()), tail);
    EXPECT_EQ(rig.window.events, (Lines{"flash on", "message " + c.back(), "flash off"}));
    ASSERT_EQ(rig.window.messages.size(), 1u);
    EXPECT_EQ(rig.window.messages[0].caption, "F/W Upgrade");
    EXPECT_EQ(rig.window.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(rig.drive.DriveOpen());

    // Without the flag no box and no failure line; any other refusal is the plain failure.
    rig.drive.refusal = 2;
    EXPECT_FALSE(rig.discovery.OpenDev(false));
    EXPECT_FALSE(rig.discovery.accessDenied());
    EXPECT_EQ(rig.Logged().back(), "Lost InDisk Name!!");
    EXPECT_EQ(rig.window.messages.size(), 1u);
  }
}

// Two devices of one kind: instance 1 mounted at G:, instance 2 at E:.
void AddSecondDevice(NtRig& rig) {
  rig.registry.SetValue(kDev + "\\2", "ParentIdPrefix", Reg::String("7&9c9c&0"));
  rig.registry.SetValue(kMounted, Dos('G'), Reg::Utf16(kVolume + "&RM#{53f56307}"));
  rig.registry.SetValue(kMounted, Dos('E'), Reg::Utf16("\\??\\STORAGE#RemovableMedia#7&9c9c&0&RM#{53f56307}"));
}

TEST(DiscoveryNtSeveral, EveryMatchingDriveIsListedSilentlyAndARestrictedSearchIsASingleRun) {
  NtRig two({"\\\\.\\E:", "\\\\.\\G:"});
  AddSecondDevice(two);
  EXPECT_EQ(two.discovery.MatchingDrives(), (std::vector<char>{'G', 'E'}));
  EXPECT_TRUE(two.window.allStatus.empty());
  EXPECT_FALSE(two.drive.DriveOpen());
  // A drive that does not open is no device; nothing listed when the hardware id is not.
  two.drive.openable = {"\\\\.\\E:"};
  EXPECT_EQ(two.discovery.MatchingDrives(), (std::vector<char>{'E'}));
  two.store.Set("HardwareID", "DiskVen_00", "DiskOther");
  EXPECT_TRUE(two.discovery.MatchingDrives().empty());
  two.store.Set("HardwareID", "DiskVen_00", "DiskMorvent");
  two.drive.openable = {"\\\\.\\E:", "\\\\.\\G:"};

  // Restricted to E:, the search never opens G: and logs what a run with E: alone logs.
  two.discovery.RestrictToDrive('E');
  EXPECT_EQ(two.discovery.MatchingDrives(), (std::vector<char>{'E'}));
  two.drive.opens.clear();
  ASSERT_TRUE(two.discovery.OpenDev(false));
  EXPECT_EQ(two.drive.opens, (Lines{"\\\\.\\E:", "\\\\.\\E:"}));
  EXPECT_EQ(two.discovery.inDiskName(), "E:");

  NtRig alone({"\\\\.\\E:"});
  alone.registry.SetValue(kMounted, Dos('E'), Reg::Utf16("\\??\\STORAGE#RemovableMedia#7&2a3b&0&RM#{53f56307}"));
  ASSERT_TRUE(alone.discovery.OpenDev(false));
  EXPECT_EQ(two.Logged(), alone.Logged());
  EXPECT_EQ(two.Logged().back(), "\"E:\" is got for InDisk!!");

  // A drive letter no matching device is mounted at is never taken.
  two.discovery.RestrictToDrive('F');
  EXPECT_FALSE(two.discovery.OpenDev(false));
  EXPECT_TRUE(two.discovery.MatchingDrives().empty());
}

TEST(DiscoveryNt, HostileOrIncompleteRegistryValuesAreSkipped) {
  NtRig rig({"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:", "\\\\.\\H:", "\\\\.\\K:"});
  // Devices without a usable hardware id go before the real one: none, a number, too long.
  rig.registry = Reg();
  rig.registry.AddDevice(RegistryValue{});
  rig.registry.AddDevice(Reg::Bytes(RegistryValueType::Other, "USBSTOR\\DiskMorvent"));
  rig.registry.AddDevice(Reg::MultiString({"USBSTOR\\DiskMorvent" + std::string(1100, '_')}));
  rig.registry.AddDevice(Reg::MultiString({"usbstor\\DISKMORVENT", "GenDisk"}));
  rig.registry.AddKey(kDev + "\\0");                                                      // no prefix
  rig.registry.SetValue(kDev + "\\1", "ParentIdPrefix", Reg::MultiString({"7&2a3b&0"}));  // wrong type
  rig.registry.SetValue(kDev + "\\2", "ParentIdPrefix", Reg::String(std::string(300, 'x')));  // too long
  rig.registry.SetValue(kDev + "\\3", "ParentIdPrefix", Reg::String(""));  // would match every removable disk
  rig.registry.SetValue(kDev + "\\4", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  std::string lower = kVolume;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  RegistryValue huge = Reg::Utf16(kVolume), oddTail = Reg::Utf16(kVolume);
  huge.data.resize(1026, 0);  // more than 1024 bytes
  oddTail.data.pop_back();    // the last unit is incomplete, so the name is one short
  const std::pair<char, RegistryValue> mounted[] = {
      {'D', Reg::Utf16("\\??\\STORAGE#RemovableMedia#9&other&0")}, {'E', huge}, {'F', Reg::Utf16(lower + "&RM")},
      {'G', oddTail}, {'H', Reg::Bytes(RegistryValueType::Binary, "\\?")},
      {'K', Reg::Utf16(kVolume + "&RM#{53f5630d}")}};  // K goes on past the prefix: the one taken
  for (const auto& [letter, value] : mounted) rig.registry.SetValue(kMounted, Dos(letter), value);

  EXPECT_EQ(rig.discovery.FindInDisk(), std::optional<char>('K'));
  EXPECT_EQ(rig.Logged().at(1), "Get HardwareID:\"usbstor\\DISKMORVENT\"");
  EXPECT_EQ(rig.Logged().size(), 4u);  // only the readable id is logged
  EXPECT_EQ(rig.drive.opens, (Lines{"\\\\.\\K:"}));
  EXPECT_EQ(rig.drive.closes, 1);  // the probe closes what it opened
  EXPECT_EQ(rig.registry.openKeys(), 0);

  // SYSTEM\MountedDevices missing, the instance key missing, an empty subkey entry, an
  // empty first HardwareID entry: no letter.
  Reg full = rig.registry;
  rig.registry = Reg();
  rig.registry.AddDevice(Reg::String("USBSTOR\\DiskMorvent"));
  rig.registry.SetValue(kDev + "\\4", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
  rig.registry = full;
  rig.store.Set("USBSTOR_SUBKEY", "DiskVen_00", "Other");
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
  rig.store.Set("USBSTOR_SUBKEY", "DiskVen_00", "");
  rig.registry.SetValue("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\\\0", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
  rig.store.Set("HardwareID", "DiskVen_00", "");
  rig.store.Set("HardwareID", "DiskVen_01", "DiskMorvent");
  rig.window.allStatus.clear();
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
  EXPECT_TRUE(rig.window.allStatus.empty());
}

TEST(DiscoveryNt, PackageModeTriesOnlyThePresetIdentity) {
  NtRig rig({"\\\\.\\E:"});
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetHardwareId = "USBSTOR\\DiskPacked";
  rig.process.presetInstanceKeyPath = kDev;
  rig.registry.AddDevice(Reg::String("USBSTOR\\DISKPACKED"));
  rig.registry.SetValue(kMounted, Dos('E'), Reg::Utf16(kVolume));
  EXPECT_EQ(rig.discovery.FindInDisk(), std::optional<char>('E'));
  EXPECT_EQ(rig.Logged().front(), "USBSTOR\\DiskPacked");
  EXPECT_EQ(rig.store.reads, 0);
  rig.process.presetHardwareId.clear();  // an empty preset names no device
  rig.registry.AddDevice(Reg::String(""));
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
}

TEST(DiscoveryDefaults, OnlyAMissingOrOlderVersionRewritesTheFile) {
  Lines defaults;
  for (const auto& row : test::DataRows("device/data/identification_defaults.txt", 1)) defaults.push_back(row[0]);
  const auto versions = test::DataRows("device/data/ini_versions.txt", 2);
  for (bool package : {false, true}) {
    for (const auto& row : versions) {
      const std::string& version = row.at(1);
      SCOPED_TRACE("\"" + version + "\"");
      NtRig rig({});
      if (version != "<none>") rig.store.Set("Environment", "IniVersion", version);
      if (package) rig.process.packageMode = PackageMode::Package;
      rig.store.Set("Romsetter", "Big_File", "old.bin");
      const bool keep = row[0] == "keep" || package;
      EXPECT_EQ(rig.discovery.WriteIdentificationDefaults(), !keep);
      EXPECT_EQ(rig.store.writes, keep ? Lines{} : defaults);
      EXPECT_EQ(rig.store.inner.Read("Romsetter", "Big_File", "") == "old.bin", keep);  // the file was deleted
    }
  }
}

}  // namespace
}  // namespace romsetter
