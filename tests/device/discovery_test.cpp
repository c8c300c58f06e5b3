// Discovery: the NT search over a registry held in memory (the full search against wine's
// real registry is in tests/win32) and the identification defaults; the ASPI side, the target
// scan over several adapters, the INQUIRY match and the probes, against emulated devices behind
// the emulated ASPI library.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "device/discovery_fakes.h"
#include "emulator/emulated_transport.h"
#include "support/data_rows.h"
#include "support/test_support.h"
#include "support/transport_conformance.h"

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

// The ASPI side: a device at an address, with its INQUIRY text.
EmulatedDeviceConfig At(std::uint8_t adapter, std::uint8_t target, const std::string& inquiry) {
  EmulatedDeviceConfig c;
  c.adapterId = adapter;
  c.targetId = target;
  c.inquiry = inquiry;
  return c;
}

// Which devices the rig's library holds.
enum class Bus {
  Usual,       // a hard disk at 0:0, a Morvent device whose INQUIRY never completes at 0:2, the device at 1:5
  TwoDevices,  // the usual, and a second device at 1:2
  DeviceAlone  // only the device at 1:5
};

struct AspiParts {
  explicit AspiParts(Bus bus)
      : disk(At(0, 0, "Maxtor  6Y080L0         YAR4")), silent(At(0, 2, "Morvent  USB-MSC Disk INT")),
        device(At(1, 5, "Morvent  USB-MSC Disk INT")), second(At(1, 2, "Morvent  USB-MSC Disk INT")),
        library(bus == Bus::DeviceAlone  ? std::vector<EmulatedDevice*>{&device}
                : bus == Bus::TwoDevices ? std::vector<EmulatedDevice*>{&disk, &silent, &second, &device}
                                         : std::vector<EmulatedDevice*>{&disk, &silent, &device},
                2),
        transport(library, 10) {}
  EmulatedDevice disk, silent, device, second;
  EmulatedAspiLibrary library;
  AspiTransport transport;
  AspiSession session{transport};
  test::RecordingProfileStore store;
  InMemoryDeviceRegistry registry;
};

struct AspiRig : AspiParts, test::DiscoveryOver {
  explicit AspiRig(Bus bus = Bus::Usual)
      : AspiParts(bus), DiscoveryOver(session, store, registry, test::ScratchDir("discovery_aspi") + "/r.log") {
    silent.AddFault({FaultKind::NoCompletion, "INQUIRY"});
    store.Set("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk");  // shorter than the reply
    store.Set("HardwareID", "DiskVen_00", "DiskMorvent");
  }
  bool Scan() {
    window.allStatus.clear();
    AspiJob job(session);
    return discovery.FindAspiDevice(job);
  }
  bool Match(const InquiryReply& reply, bool good = true) {
    window.allStatus.clear();
    Reply<InquiryReply> inquiry;
    inquiry.transport = ScsiResult{true, good, 0, {}};
    inquiry.ok = good;
    inquiry.value = reply;
    return discovery.MatchInquiry(inquiry, ScsiTarget{0, 6});
  }
  std::size_t Inquiries() {
    std::size_t n = 0;
    for (const SrbExecScsiCmd& srb : library.sent()) n += srb.cdbByte[0] == kOpInquiry ? 1 : 0;
    return n;
  }
  bool nor = false;
};

TEST(AspiScan, OnlyTheMatchingTargetIsTakenAndAWaitThatRunsOutIsPassedOver) {
  AspiRig rig;
  ASSERT_TRUE(rig.Scan());
  EXPECT_EQ(rig.Logged(), (Lines{"Sets:\"\" len=0", "Gets:\"Maxtor  6Y080L0         YAR4\" len=28",
                                 "Gets:\"Morvent  USB-MSC Disk INT   \" len=28", "Bingo m_AdapterId=1 m_TargetId=5!"}));
  EXPECT_EQ(rig.transport.deviceAddress().adapter, 1);
  EXPECT_EQ(rig.transport.deviceAddress().target, 5);
  EXPECT_EQ(rig.Inquiries(), 8u + 6u);
  EXPECT_EQ(rig.silent.TraceOf("INQUIRY").size(), 1u);
  EXPECT_EQ(rig.discovery.identity().hardwareId, "USBSTOR\\DiskMorvent");

  // A text longer than any reply finds nothing, scans every target and leaves the address alone.
  rig.store.Set("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   X");
  EXPECT_FALSE(rig.Scan());
  EXPECT_EQ(rig.Inquiries(), 14u + 16u);
  EXPECT_EQ(rig.transport.deviceAddress().target, 5);
}

TEST(AspiSeveral, EveryMatchingTargetIsListedSilentlyAndARestrictedScanIsASingleRun) {
  AspiRig two(Bus::TwoDevices);
  auto addresses = [](const std::vector<ScsiTarget>& targets) {
    Lines text;
    for (const ScsiTarget& t : targets) text.push_back(std::to_string(t.adapter) + ":" + std::to_string(t.target));
    return text;
  };
  EXPECT_EQ(addresses(two.discovery.MatchingTargets()), (Lines{"1:2", "1:5"}));
  EXPECT_TRUE(two.window.allStatus.empty());
  EXPECT_FALSE(two.transport.InJob());
  EXPECT_EQ(addresses(AspiRig().discovery.MatchingTargets()), (Lines{"1:5"}));
  two.store.Set("DiskVen_98", "DiskVen_00", "Nobody");
  EXPECT_TRUE(two.discovery.MatchingTargets().empty());
  two.store.Set("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk");

  // Restricted to 1:5, no other address is asked and the log is that of the device alone.
  two.discovery.RestrictToTarget(ScsiTarget{1, 5});
  const std::size_t before = two.Inquiries();
  two.second.ClearTrace();
  ASSERT_TRUE(two.Scan());
  EXPECT_EQ(two.Inquiries(), before + 1);
  EXPECT_TRUE(two.second.TraceOf("INQUIRY").empty());
  EXPECT_EQ(two.transport.deviceAddress().target, 5);
  AspiRig alone(Bus::DeviceAlone);
  ASSERT_TRUE(alone.Scan());
  EXPECT_EQ(two.Logged(), alone.Logged());
  EXPECT_EQ(two.Logged().back(), "Bingo m_AdapterId=1 m_TargetId=5!");

  // An address with nobody there finds nothing.
  two.discovery.RestrictToTarget(ScsiTarget{0, 7});
  EXPECT_FALSE(two.Scan());
  EXPECT_TRUE(two.discovery.MatchingTargets().empty());
}

TEST(AspiMatch, EntriesInOrderCaseSensitiveAndNeverPastByte35) {
  AspiRig rig;
  InquiryReply reply;
  reply.fill('A');  // no NUL anywhere
  rig.store.Set("DiskVen_98", "DiskVen_00", "a");
  rig.store.Set("DiskVen_98", "DiskVen_01", std::string(29, 'A'));
  rig.store.Set("DiskVen_98", "DiskVen_02", std::string(28, 'A'));
  rig.store.Set("HardwareID", "DiskVen_02", "Two");
  EXPECT_TRUE(rig.Match(reply));
  EXPECT_EQ(rig.Logged().front(), "Gets:\"" + std::string(28, 'A') + "\" len=28");
  EXPECT_EQ(rig.discovery.identity().hardwareId, "USBSTOR\\Two");
  EXPECT_EQ(rig.discovery.identity().instanceKeyPath, "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\");
  EXPECT_EQ(rig.transport.deviceAddress().target, 6);

  reply[12] = 0;  // a NUL ends the text
  EXPECT_FALSE(rig.Match(reply));
  EXPECT_EQ(rig.Logged().front(), "Gets:\"AAAA\" len=4");
  EXPECT_FALSE(rig.Match(reply, false));  // a failed status is not examined at all
  EXPECT_TRUE(rig.window.allStatus.empty());
}

TEST(AspiMatch, PackageModeTriesOnlyThePresetTextAndNeverAnEmptyOne) {
  AspiRig rig;
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetInquiryText = "Morvent  USB-MSC";
  ASSERT_TRUE(rig.Scan());
  EXPECT_EQ(rig.Logged().front(), "Sets:\"Morvent  USB-MSC\" len=16");
  EXPECT_EQ(rig.store.reads, 0);
  rig.process.presetInquiryText.clear();
  EXPECT_FALSE(rig.Scan());
}

TEST(AspiProbe, JobsReleaseEverythingButATimedOutRequestAndTheFlashQueryIgnoresTheStatusTest) {
  AspiRig rig;
  rig.library.SetSupport(0, 1);  // no adapters
  EXPECT_FALSE(rig.discovery.ProbeDevice(true, rig.nor));
  rig.library.SetSupport(2, 4);  // a bad support status
  EXPECT_EQ(rig.discovery.ProbeFlashType(rig.nor), DeviceDiscovery::FlashTypeProbe::NoDevice);
  EXPECT_TRUE(rig.library.sent().empty());
  EXPECT_EQ(rig.library.openEvents(), 0);

  rig.library.SetSupport(2, 1);
  rig.device.AddFault({FaultKind::BadStatus, "SCSI_TST_U_RDY"});
  rig.device.config().firmware = {0x0400, 0x1000, 0x02000000};
  EXPECT_EQ(rig.discovery.ProbeFlashType(rig.nor), DeviceDiscovery::FlashTypeProbe::Queried);
  EXPECT_EQ(rig.map.flashType, 2);
  EXPECT_FALSE(rig.discovery.ProbeDevice(false, rig.nor));
  EXPECT_FALSE(rig.transport.InJob());

  // A status test whose wait runs out: its block, buffer and event outlive the job (the
  // library may still complete it); the next job gets fresh ones.
  rig.discovery.RestrictToTarget(ScsiTarget{1, 5});  // not the silent target's INQUIRY
  const int retired = static_cast<int>(rig.transport.retiredRequests());
  ASSERT_EQ(rig.library.openEvents(), retired);
  rig.device.config().faults = {{FaultKind::NoCompletion, "SCSI_TST_U_RDY"}};
  EXPECT_FALSE(rig.discovery.ProbeDevice(false, rig.nor));
  EXPECT_EQ(static_cast<int>(rig.transport.retiredRequests()), retired + 1);
  rig.device.config().faults.clear();
  EXPECT_TRUE(rig.discovery.ProbeDevice(false, rig.nor));
  EXPECT_FALSE(rig.transport.InJob());
  EXPECT_EQ(rig.library.openEvents(), retired + 1);

  rig.nor = true;  // NOR: no status command at all
  rig.device.ClearTrace();
  EXPECT_TRUE(rig.discovery.ProbeAspi(false, rig.nor));
  EXPECT_TRUE(rig.device.TraceOf("SCSI_TST_U_RDY").empty());
}

}  // namespace
}  // namespace romsetter
