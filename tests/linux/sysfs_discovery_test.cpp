// Linux discovery over sysfs trees built for each case: matching, refusing two, the mount and
// permission checks, and the node given on the command line.
#include "device/linux/sysfs_discovery.h"

#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "base/text.h"
#include "device/linux/sg_io_transport.h"
#include "support/data_rows.h"
#include "linux/sysfs_tree.h"

namespace romsetter::test {
namespace {

using Lines = std::vector<std::string>;
const char* const kText = "Morvent  USB-MSC Disk INT   ";

// Nodes open unless refused; what was opened is kept, and every open is closed again.
struct FakeNodes {
  std::map<std::string, int> refused;  // path -> errno
  Lines opened;
  int openNow = 0;
  NodeCalls Calls() {
    NodeCalls c;
    c.open = [this](const std::string& path, int) {
      const auto it = refused.find(path);
      if (it != refused.end()) return errno = it->second, -1;
      opened.push_back(path);
      ++openNow;
      return 77;
    };
    c.close = [this](int) { return --openNow, 0; };
    c.sgIo = [](int, sg_io_hdr_t*) { return errno = ENOTTY, -1; };
    return c;
  }
};

struct LocatorRig {
  explicit LocatorRig(const std::string& name) : tree(name), log(tree.root + "/Romsetter.log", window) {
    store.Write("DiskVen_98", "DiskVen_00", kText);
    store.Write("HardwareID", "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
    store.Write("USBSTOR_SUBKEY", "DiskVen_00", "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  }
  void AddMorvent(int host, const std::string& disk, const std::string& rev = "T") {
    tree.Add(host, "Morvent", " USB-MSC Disk IN", rev, "1b3f", "2002", disk);
  }
  std::optional<LocatedDrive> Locate(const std::string& node = "", bool force = false) {
    SysfsDriveLocator locator(tree.paths, node, force);
    return locator.Locate(drive, store, process, log);
  }
  Lines Log() const { return StripNumbers(window.allStatus); }
  // The lines a case ends with, from data/sysfs_discovery_lines.txt.
  Lines Expected(const std::string& name) const {
    Lines lines;
    for (const std::string& row : DataLines("linux/data/sysfs_discovery_lines.txt")) {
      if (row.rfind(name + ": ", 0) != 0) continue;
      lines.push_back(ReplaceAll(ReplaceAll(row.substr(name.size() + 2), "{root}", tree.root), "{group}",
                                 getgrgid(getegid())->gr_name));  // the scratch nodes' owner
    }
    return lines;
  }
  Lines LastLog(long count) const { return StripNumbers(Lines(window.allStatus.end() - count, window.allStatus.end())); }
  void AddInternal() { tree.Add(0, "ATA     ", "Samsung SSD 860 ", "1B6Q", "", "", "sda"); }

  SysfsTree tree;
  RecordingWindow window;
  ActivityLog log;
  InMemoryProfileStore store;
  ProcessState process;
  FakeNodes nodes;
  SgIoTransport drive{nodes.Calls()};
};

TEST(SysfsDiscovery, OneMatchAmongOtherDisksNamesItsNodeAndIdentity) {
  LocatorRig rig("sysfs_one");
  rig.AddInternal();
  rig.AddMorvent(10, "sdb");
  rig.AddMorvent(2, "");  // sg10 sorts after sg2; this one matches too...
  std::filesystem::remove_all(rig.tree.paths.sysfsRoot + "/class/scsi_generic/sg2");  // ...until unplugged
  const auto found = rig.Locate();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->devicePath, rig.tree.Node("sg10"));
  EXPECT_EQ(found->inDiskName, rig.tree.Node("sg10"));
  EXPECT_EQ(found->identity.hardwareId, "USBSTOR\\DiskMorvent__USB-MSC_Disk_INT___");
  EXPECT_EQ(found->identity.instanceKeyPath,
            "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  // The settings store drops trailing blanks, as the profile functions do.
  EXPECT_EQ(found->identity.inquiryText, "Morvent  USB-MSC Disk INT");
  EXPECT_EQ(rig.Log(), rig.Expected("one-match"));
  EXPECT_EQ(rig.nodes.opened, Lines{rig.tree.Node("sg10")});  // checked to open, and closed again
  EXPECT_EQ(rig.nodes.openNow, 0);
}

TEST(SysfsDiscovery, NoneAndTwoMatchesAreRefusedWithoutOpeningAnything) {
  LocatorRig none("sysfs_none");
  none.AddInternal();
  EXPECT_FALSE(none.Locate());
  EXPECT_EQ(none.LastLog(1), none.Expected("none"));
  LocatorRig empty("sysfs_empty");
  std::filesystem::remove_all(empty.tree.paths.sysfsRoot);
  EXPECT_FALSE(empty.Locate());
  EXPECT_EQ(empty.LastLog(1), empty.Expected("empty"));

  LocatorRig two("sysfs_two");
  two.AddMorvent(2, "sdb");
  two.AddMorvent(3, "");
  EXPECT_FALSE(two.Locate());
  EXPECT_EQ(two.LastLog(1), two.Expected("two"));
  EXPECT_TRUE(none.nodes.opened.empty() && two.nodes.opened.empty());
  // Named on the command line, one of the two is used as given.
  const auto given = two.Locate(two.tree.Node("sg3"));
  ASSERT_TRUE(given);
  EXPECT_EQ(given->devicePath, two.tree.Node("sg3"));
  EXPECT_EQ(given->identity.inquiryText, kText);  // read from sysfs, blanks kept
  EXPECT_EQ(two.LastLog(1), two.Expected("given"));
}

// --all: every match is listed, and each device's job discovers only its own.
TEST(SysfsDiscovery, SeveralMatchesAreListedAndEachJobTakesOnlyItsOwn) {
  LocatorRig rig("sysfs_all");
  rig.AddInternal();
  rig.AddMorvent(2, "sdb");
  rig.AddMorvent(3, "sdc");
  SysfsDriveLocator lister(rig.tree.paths);
  EXPECT_EQ(lister.MatchingNodes(rig.store, rig.process), (Lines{rig.tree.Node("sg2"), rig.tree.Node("sg3")}));
  EXPECT_TRUE(rig.Log().empty());
  EXPECT_TRUE(rig.nodes.opened.empty());
  for (const char* sg : {"sg2", "sg3"}) {
    SysfsDriveLocator job(rig.tree.paths);
    job.RestrictTo(rig.tree.Node(sg));
    const auto found = job.Locate(rig.drive, rig.store, rig.process, rig.log);
    ASSERT_TRUE(found) << sg;
    EXPECT_EQ(found->devicePath, rig.tree.Node(sg));
    EXPECT_EQ(rig.Log().back(), "Bingo " + rig.tree.Node(sg) + " (DiskVen_00)!");
  }
  LocatorRig none("sysfs_all_none");
  none.AddInternal();
  EXPECT_TRUE(SysfsDriveLocator(none.tree.paths).MatchingNodes(none.store, none.process).empty());
}

TEST(SysfsDiscovery, TextsMatchByPrefixAndHardwareIdsWhole) {
  LocatorRig rig("sysfs_prefix");
  rig.AddMorvent(4, "sdc", "U");  // another revision
  // A shorter configured text matches every device it begins; a longer one none.
  rig.store.Write("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   X");
  rig.store.Write("HardwareID", "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
  rig.store.Write("DiskVen_98", "DiskVen_01", "Morvent");
  rig.store.Write("HardwareID", "DiskVen_01", "OtherDisk");
  auto found = rig.Locate();
  ASSERT_TRUE(found);
  EXPECT_EQ(rig.Log().back(), "Bingo " + rig.tree.Node("sg4") + " (DiskVen_01)!");
  EXPECT_EQ(found->identity.hardwareId, "USBSTOR\\OtherDisk");
  // Case matters in the text.
  rig.store.Write("DiskVen_98", "DiskVen_01", "MORVENT");
  EXPECT_FALSE(rig.Locate());

  // Hardware ids of both NT forms, compared whole and without regard to case.
  for (const char* id : {"DiskMorvent__USB-MSC_Disk_INU___", "disk&ven_morvent&prod__usb-msc_disk_in&rev_u",
                         "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN"}) {
    SCOPED_TRACE(id);
    rig.store.Write("HardwareID", "DiskVen_01", id);
    EXPECT_TRUE(rig.Locate());
  }
  rig.store.Write("HardwareID", "DiskVen_01", "Disk&Ven_Morvent");
  EXPECT_FALSE(rig.Locate());
  // An entry without either value ends the list, so entry 2 is never read.
  rig.store.Write("DiskVen_98", "DiskVen_01", "");
  rig.store.Write("HardwareID", "DiskVen_01", "");
  rig.store.Write("DiskVen_98", "DiskVen_02", "Morvent");
  EXPECT_FALSE(rig.Locate());
  // A package tries its preset identity only.
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetInquiryText = "Morvent  USB";
  EXPECT_TRUE(rig.Locate());
  rig.process.presetInquiryText = "";
  rig.process.presetHardwareId = "";
  EXPECT_FALSE(rig.Locate());
}

TEST(SysfsDiscovery, ANodeThatDoesNotOpenOrIsBusyIsNamedWithWhatToDo) {
  LocatorRig rig("sysfs_denied");
  rig.AddMorvent(2, "sdb");
  rig.nodes.refused[rig.tree.Node("sg2")] = EACCES;
  EXPECT_FALSE(rig.Locate());
  EXPECT_EQ(rig.LastLog(1), rig.Expected("denied"));
  // A disk node given by hand, unknown to sysfs: the rule names the kernel's name for it.
  EXPECT_NE(PermissionAdvice("/nonexistent/sdq", nullptr)
                .find("(group unknown): join group unknown, or add a udev rule such as SUBSYSTEM==\"block\", "
                      "KERNEL==\"sdq\""),
            std::string::npos);
  // A device another program holds is busy, said in one line naming it.
  for (const auto& [error, name] : {std::pair{ENXIO, "no-device"}, {EBUSY, "busy"}}) {
    rig.nodes.refused[rig.tree.Node("sg2")] = error;
    EXPECT_FALSE(rig.Locate());
    EXPECT_EQ(rig.LastLog(1), rig.Expected(name));
  }
}

TEST(SysfsDiscovery, AMountedDiskOrPartitionIsRefusedUnlessForced) {
  LocatorRig rig("sysfs_mounted");
  rig.AddMorvent(2, "sdb");
  const std::string sdb = rig.tree.Node("sdb");
  // Another disk whose name only begins the same, and a partition of ours under a blank.
  rig.tree.Mount(sdb + "b1 /mnt/other vfat rw 0 0");
  EXPECT_TRUE(rig.Locate());
  rig.tree.Mount(sdb + "1 /media/USB\\040DISK vfat rw 0 0");
  EXPECT_FALSE(rig.Locate());
  EXPECT_EQ(rig.LastLog(1), rig.Expected("mounted"));
  EXPECT_EQ(rig.nodes.opened.size(), 1u);  // the refused run opened nothing
  ASSERT_TRUE(rig.Locate("", true));
  EXPECT_EQ(rig.LastLog(2), rig.Expected("forced"));
  // The disk node given by hand is checked too, and an unreadable mounts file refuses.
  EXPECT_FALSE(rig.Locate(sdb));
  std::filesystem::remove(rig.tree.paths.mountsFile);
  EXPECT_FALSE(rig.Locate());
  EXPECT_EQ(rig.LastLog(1), rig.Expected("mounts-unreadable"));
  EXPECT_TRUE(rig.Locate("", true));
}

// The mount check follows what a node is, not how it is spelt: every spelling of the disk, a
// link to it, its generic node, and another partition of a disk with one mounted; a mount
// made through a link counts too.
TEST(SysfsDiscovery, EverySpellingOfAMountedDiskIsRefused) {
  LocatorRig rig("sysfs_spellings");
  rig.AddMorvent(2, "sdb");
  rig.tree.AddPartition("sdb", 1);
  rig.tree.AddPartition("sdb", 2);
  const std::string dev = rig.tree.paths.devRoot;
  std::filesystem::create_directories(dev + "/disk/by-id");
  std::filesystem::create_symlink("../../sdb", dev + "/disk/by-id/usb-Morvent_USB-MSC_Disk-0:0");
  std::filesystem::create_symlink("../../sdb1", dev + "/disk/by-id/usb-Morvent_USB-MSC_Disk-0:0-part1");
  const Lines spellings = {dev + "//sdb",  dev + "/./sdb", dev + "/disk/by-id/usb-Morvent_USB-MSC_Disk-0:0",
                           dev + "/sdb2",  dev + "/sg2",   dev + "/disk/../sdb1"};
  for (const std::string& node : spellings) {
    SCOPED_TRACE(node);
    EXPECT_TRUE(rig.Locate(node));  // nothing mounted yet
  }
  rig.tree.Mount(dev + "/sdb1 /media/usb vfat rw 0 0");
  for (const std::string& node : spellings) {
    SCOPED_TRACE(node);
    rig.nodes.opened.clear();
    EXPECT_FALSE(rig.Locate(node));
    EXPECT_NE(rig.Log().back().find(" is mounted (" + dev + "/sdb1 on /media/usb): unmount it first"), std::string::npos)
        << rig.Log().back();
    EXPECT_TRUE(rig.nodes.opened.empty());
  }
  // Mounted through a link to its partition, found by discovery.
  std::filesystem::remove(rig.tree.paths.mountsFile);
  rig.tree.Mount(dev + "/disk/by-id/usb-Morvent_USB-MSC_Disk-0:0-part1 /media/usb vfat rw 0 0");
  EXPECT_FALSE(rig.Locate());
  EXPECT_FALSE(rig.Locate(dev + "/sdb2"));
  // A node sysfs knows nothing of still names its disk through what it resolves to.
  LocatorRig bare("sysfs_spellings_bare");
  const std::string bareDev = bare.tree.paths.devRoot;
  test::WriteFile(bareDev + "/sdc", "");
  test::WriteFile(bareDev + "/sdc2", "");
  std::filesystem::create_symlink("sdc2", bareDev + "/by-label");
  bare.tree.Mount(bareDev + "/sdc1 /media/c vfat rw 0 0");
  for (const std::string& node : {bareDev + "/sdc", bareDev + "/.//sdc2", bareDev + "/by-label"}) {
    SCOPED_TRACE(node);
    EXPECT_FALSE(bare.Locate(node));
  }
}

TEST(SysfsDiscovery, HostileAttributesAreBoundedAndOddEntriesSkipped) {
  LocatorRig rig("sysfs_hostile");
  rig.tree.Add(5, std::string(100000, 'M'), "", "", "1b3f", "2002", "sdd");
  std::filesystem::create_directories(rig.tree.paths.sysfsRoot + "/class/scsi_generic/sg7");  // no device link
  const std::vector<SgDevice> devices = ScanScsiGeneric(rig.tree.paths);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].inquiryText, std::string(8, 'M') + std::string(20, ' '));
  EXPECT_EQ(devices[0].blockNode, rig.tree.Node("sdd"));
  EXPECT_EQ(devices[0].serial, "SN0005");
  EXPECT_EQ(UsbStorHardwareIds("Ven,x"),
            (Lines{"USBSTOR\\DiskVen_x_______________________", "USBSTOR\\Disk&Ven_Ven_x&Prod_&Rev_",
                   "USBSTOR\\Disk&Ven_Ven_x&Prod_"}));
}

}  // namespace
}  // namespace romsetter::test
