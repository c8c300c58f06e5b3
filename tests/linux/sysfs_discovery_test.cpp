// Linux discovery over sysfs trees built for each case: matching, refusing two, the mount and
// permission checks, and the node given on the command line.  The cases are steps kept in
// data/sysfs_discovery_cases.txt, whose head says what each step does.
#include "device/linux/sysfs_discovery.h"

#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <memory>
#include <sstream>

#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "base/text.h"
#include "device/linux/sg_io_transport.h"
#include "support/data_rows.h"
#include "linux/sysfs_tree.h"

namespace romsetter::test {
namespace {

using Lines = std::vector<std::string>;

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
    store.Write("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   ");
    store.Write("HardwareID", "DiskVen_00", "DiskMorvent__USB-MSC_Disk_INT___");
    store.Write("USBSTOR_SUBKEY", "DiskVen_00", "Disk&Ven_Morvent&Prod__USB-MSC_Disk_IN&Rev_T");
  }
  // One run, its log and its opens kept apart from the runs before.
  std::optional<LocatedDrive> Locate(const std::string& node, bool force, const std::string& only) {
    window.allStatus.clear();
    nodes.opened.clear();
    SysfsDriveLocator locator(tree.paths, node, force);
    if (!only.empty()) locator.RestrictTo(only);
    std::optional<LocatedDrive> found = locator.Locate(drive, store, process, log);
    EXPECT_EQ(nodes.openNow, 0);
    return found;
  }
  // A step with its case's folder and the group owning the scratch nodes in place.
  std::string Filled(const std::string& step) const {
    return ReplaceAll(ReplaceAll(step, "{root}", tree.root), "{group}", getgrgid(getegid())->gr_name);
  }

  SysfsTree tree;
  RecordingWindow window;
  ActivityLog log;
  InMemoryProfileStore store;
  ProcessState process;
  FakeNodes nodes;
  SgIoTransport drive{nodes.Calls()};
};

TEST(SysfsDiscovery, CasesKeptAsDataEndAsTheySay) {
  const std::map<std::string, int> errors = {{"EACCES", EACCES}, {"ENXIO", ENXIO}, {"EBUSY", EBUSY}};
  std::unique_ptr<LocatorRig> rig;
  std::optional<LocatedDrive> found;
  Lines expectedLog;  // of the last run, when given
  const auto checkLog = [&] {
    if (rig != nullptr && !expectedLog.empty()) {
      EXPECT_EQ(StripNumbers(rig->window.allStatus), expectedLog);
    }
    expectedLog.clear();
  };
  for (const std::string& line : DataLines("linux/data/sysfs_discovery_cases.txt")) {
    SCOPED_TRACE(line);
    const std::string filled = rig != nullptr ? rig->Filled(line) : line;
    std::istringstream in(filled.back() == '|' ? filled.substr(0, filled.size() - 1) : filled);
    std::string step, a, b, text;
    in >> step;
    ASSERT_TRUE(rig != nullptr || step == "case") << "a step before the first case";
    if (step == "case") {
      checkLog();
      in >> a;
      rig = std::make_unique<LocatorRig>("sysfs_" + a);
    } else if (step == "internal") {
      rig->tree.Add(0, "ATA     ", "Samsung SSD 860 ", "1B6Q", "", "", "sda");
    } else if (step == "add") {
      int host = 0;
      in >> host >> a >> b;
      rig->tree.Add(host, "Morvent", " USB-MSC Disk IN", b, "1b3f", "2002", a == "-" ? "" : a);
    } else if (step == "partition") {
      in >> a >> b;
      rig->tree.AddPartition(a, std::stoi(b));
    } else if (step == "file" || step == "symlink") {
      if (step == "symlink") in >> b;
      in >> a;
      std::filesystem::create_directories(std::filesystem::path(a).parent_path());
      if (step == "file") WriteFile(a, "");
      if (step == "symlink") std::filesystem::create_symlink(b, a);
    } else if (step == "rm") {
      in >> a;
      std::filesystem::remove_all(a);
    } else if (step == "mount") {
      std::getline(in >> std::ws, text);
      rig->tree.Mount(text);
    } else if (step == "refuse") {
      in >> a >> b;
      rig->nodes.refused[a] = errors.at(b);
    } else if (step == "set") {
      in >> a >> b;
      std::getline(in >> std::ws, text);
      rig->store.Write(a, b, text);
    } else if (step == "package") {
      std::getline(in >> std::ws, text);
      rig->process.packageMode = PackageMode::Package;
      rig->process.presetInquiryText = text;
    } else if (step == "found" || step == "none") {
      checkLog();
      in >> a;
      bool force = false;
      for (std::string option; in >> option;) {
        if (option == "force") force = true;
        if (option == "only") in >> b;
      }
      found = rig->Locate(a == "-" ? "" : a, force, b);
      EXPECT_EQ(found.has_value(), step == "found");
    } else if (step == "is") {
      in >> a;
      std::getline(in >> std::ws, text);
      ASSERT_TRUE(found);
      const std::map<std::string, std::string> fields = {
          {"device", found->devicePath}, {"in-disk", found->inDiskName}, {"hardware-id", found->identity.hardwareId},
          {"instance-key", found->identity.instanceKeyPath}, {"inquiry", found->identity.inquiryText}};
      EXPECT_EQ(fields.at(a), text);
    } else if (step == "log") {
      std::getline(in >> std::ws, text);
      expectedLog.push_back(text);
    } else if (step == "opened") {
      EXPECT_EQ(rig->nodes.opened, Lines(std::istream_iterator<std::string>(in), {}));
    } else if (step == "matching") {
      rig->window.allStatus.clear();
      EXPECT_EQ(SysfsDriveLocator(rig->tree.paths).MatchingNodes(rig->store, rig->process),
                Lines(std::istream_iterator<std::string>(in), {}));
      EXPECT_EQ(rig->window.allStatus, Lines{});
    } else {
      ADD_FAILURE() << "no such step";
    }
  }
  checkLog();
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
  // A disk node given by hand, unknown to sysfs: the rule names the kernel's name for it.
  EXPECT_NE(PermissionAdvice("/nonexistent/sdq", nullptr)
                .find("(group unknown): join group unknown, or add a udev rule such as SUBSYSTEM==\"block\", "
                      "KERNEL==\"sdq\""),
            std::string::npos);
}

}  // namespace
}  // namespace romsetter::test
