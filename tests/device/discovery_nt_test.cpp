// NT discovery over a registry held in memory (the full search against wine's real
// registry is in tests/win32), the probes and the identification defaults.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "device/discovery_fakes.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Reg = InMemoryDeviceRegistry;
using Lines = std::vector<std::string>;

const std::string kDev = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Dev";
const std::string kMounted = "SYSTEM\\MountedDevices";
const std::string kVolume = "\\??\\STORAGE#RemovableMedia#7&2a3b&0";

std::string Dos(char letter) { return std::string("\\DosDevices\\") + letter + ":"; }

struct NtRig {
  explicit NtRig(DriveTransport& drive)
      : log(test::ScratchDir("discovery_nt") + "/r.log", window),
        link(drive, log, window, selections),
        discovery(link, store, process, registry) {
    store.Set("HardwareID", "DiskVen_00", "DiskMorvent");
    store.Set("USBSTOR_SUBKEY", "DiskVen_00", "Dev");
    registry.AddDevice(Reg::String("USBSTOR\\DiskMorvent"));
  }
  Lines Logged() const { return test::StripNumbers(Lines(window.allStatus.begin(), window.allStatus.end())); }

  test::RecordingWindow window;
  ActivityLog log;
  Selections selections;
  DeviceLink link;
  test::MemoryProfileStore store;
  ProcessState process;
  Reg registry;
  DeviceDiscovery discovery;
};

TEST(DiscoveryNt, DriveThatProbesButWillNotOpenEndsInTheFailureLinesAndMessage) {
  test::ScriptedDrive drive;
  drive.openable = {"\\\\.\\F:"};
  drive.successesLeft = 1;  // the probe opens it, the real open fails
  NtRig rig(drive);
  rig.registry.SetValue(kDev + "\\1", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  rig.registry.SetValue(kMounted, Dos('F'), Reg::Utf16(kVolume));
  EXPECT_FALSE(rig.discovery.OpenDev(true));
  const Lines lines = rig.Logged();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(Lines(lines.begin() + 5, lines.end()),
            (Lines{"01 CreatFile(\\\\.\\F:)", "01 CreatFile() ERROR!!", "Lost InDisk Name!!",
                   "The device opened failure!!"}));
  EXPECT_EQ(rig.window.events, (Lines{"flash on", "message The device opened failure!!,please check the connection!",
                                      "flash off"}));
  EXPECT_EQ(rig.window.messages.at(0).caption, "F/W Upgrade");
  EXPECT_EQ(rig.window.messages.at(0).icon, MessageIcon::Error);
  EXPECT_FALSE(drive.DriveOpen());

  // Without the flag: no box, no failure line.
  rig.window.allStatus.clear();
  rig.store.values.clear();
  EXPECT_FALSE(rig.discovery.OpenDev(false));
  EXPECT_EQ(rig.Logged(), (Lines{"OpenDev() to Get InDisk Name", "Lost InDisk Name!!"}));
  EXPECT_EQ(rig.window.messages.size(), 1u);
}

TEST(DiscoveryNt, HostileOrIncompleteRegistryValuesAreSkipped) {
  test::ScriptedDrive drive;
  drive.openable = {"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:", "\\\\.\\H:", "\\\\.\\K:"};
  NtRig rig(drive);
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
  RegistryValue huge = Reg::Utf16(kVolume);
  huge.data.resize(1026, 0);
  RegistryValue oddTail = Reg::Utf16(kVolume);
  oddTail.data.pop_back();  // the last unit is incomplete, so the name is one short
  rig.registry.SetValue(kMounted, Dos('D'), Reg::Utf16("\\??\\STORAGE#RemovableMedia#9&other&0"));
  rig.registry.SetValue(kMounted, Dos('E'), huge);  // more than 1024 bytes
  rig.registry.SetValue(kMounted, Dos('F'), Reg::Utf16(lower + "&RM"));
  rig.registry.SetValue(kMounted, Dos('G'), oddTail);
  rig.registry.SetValue(kMounted, Dos('H'), Reg::Bytes(RegistryValueType::Binary, "\\?"));
  rig.registry.SetValue(kMounted, Dos('K'), Reg::Utf16(kVolume + "&RM#{53f5630d}"));  // goes on past it

  EXPECT_EQ(rig.discovery.FindInDisk(), std::optional<char>('K'));
  EXPECT_EQ(rig.Logged().at(1), "Get HardwareID:\"usbstor\\DISKMORVENT\"");
  EXPECT_EQ(rig.Logged().size(), 4u);  // only the readable id is logged
  EXPECT_EQ(drive.opens, (Lines{"\\\\.\\K:"}));
  EXPECT_EQ(drive.closes, 1);  // the probe closes what it opened
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
  test::ScriptedDrive drive;
  drive.openable = {"\\\\.\\E:"};
  NtRig rig(drive);
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetHardwareId = "USBSTOR\\DiskPacked";
  rig.process.presetInstanceKeyPath = kDev;
  rig.process.presetInquiryText = "Packed";
  rig.registry.AddDevice(Reg::String("USBSTOR\\DISKPACKED"));
  rig.registry.SetValue(kDev + "\\1", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  rig.registry.SetValue(kMounted, Dos('E'), Reg::Utf16(kVolume));

  EXPECT_EQ(rig.discovery.FindInDisk(), std::optional<char>('E'));
  EXPECT_EQ(rig.Logged(), (Lines{"USBSTOR\\DiskPacked", "Get HardwareID:\"USBSTOR\\DiskMorvent\"",
                                 "Get HardwareID:\"USBSTOR\\DISKPACKED\"",
                                 "SET USBSTOR_SUBKEY:\"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Dev\"",
                                 "Check HardwareID OK!!, Now checking USBSTOR_SUBKEY & InDisk..."}));
  EXPECT_EQ(rig.store.reads, 0);
  rig.process.presetHardwareId.clear();  // an empty preset names no device
  rig.registry.AddDevice(Reg::String(""));
  EXPECT_FALSE(rig.discovery.FindInDisk().has_value());
}

TEST(DiscoveryNt, ProbesCloseTheDriveAndFillTheVersionLineOrFlashType) {
  EmulatedDeviceConfig config;
  config.firmware = {0x0800, 0x1000, 0x02000000};  // small-block flash
  EmulatedDevice device(config);
  EmulatedTransport drive(device, 'E');
  NtRig rig(drive);
  rig.registry.SetValue(kDev + "\\1", "ParentIdPrefix", Reg::String("7&2a3b&0"));
  rig.registry.SetValue(kMounted, Dos('E'), Reg::Utf16(kVolume));

  EXPECT_TRUE(rig.discovery.ProbeDevice(true));
  EXPECT_TRUE(rig.link.devicePresent);
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03  Product:MV-Demo Player");
  EXPECT_TRUE(rig.discovery.ProbeFlashType());
  EXPECT_EQ(rig.link.imagePages.bigImagePages, 1u);
  EXPECT_EQ(rig.link.memoryMap.flashType, 2);
  EXPECT_FALSE(drive.DriveOpen());

  device.Detach();
  device.ClearTrace();
  EXPECT_FALSE(rig.discovery.ProbeDevice(true));
  EXPECT_FALSE(rig.link.devicePresent);
  EXPECT_FALSE(rig.discovery.ProbeFlashType());
  EXPECT_TRUE(device.trace().empty());
}

TEST(DiscoveryDefaults, OnlyAMissingOrOlderVersionRewritesTheFile) {
  const Lines defaults = {"Environment/IniVersion=1.72", "DiskVen_98/DiskVen_00=Morvent  USB-MSC Disk INT   ",
                          "HardwareID/DiskVen_00=DiskMorvent__USB-MSC_Disk_INT___",
                          "USBSTOR_SUBKEY/DiskVen_00=Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T"};
  for (const char* version : {"1.71", "", "abc", "1.7", "1.719", "1.72", "1.80", "2", " 1.72", "<none>", "pkg"}) {
    SCOPED_TRACE(version);
    test::ScriptedDrive drive;
    NtRig rig(drive);
    const std::string v = version;
    if (v != "<none>" && v != "pkg") rig.store.Set("Environment", "IniVersion", v);
    if (v == "pkg") rig.process.packageMode = PackageMode::Package;
    rig.store.Set("Romsetter", "Big_File", "old.bin");
    const bool current = v == "1.72" || v == "1.80" || v == "2" || v == " 1.72" || v == "pkg";
    EXPECT_EQ(rig.discovery.WriteIdentificationDefaults(), !current);
    EXPECT_EQ(rig.store.deletes, current ? 0 : 1);
    EXPECT_EQ(rig.store.writes, current ? Lines{} : defaults);
    if (!current) {
      EXPECT_EQ(rig.store.values.size(), 4u);  // the old keys are gone
    }
  }
}

}  // namespace
}  // namespace romsetter
