// The ASPI side of discovery: the target scan over several adapters, the INQUIRY match and
// the probes, against emulated devices behind the emulated ASPI library.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/discovery_fakes.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Lines = std::vector<std::string>;

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
