// The whole upgrade through SgIoTransport on a drive found by sysfs discovery.  The lines and
// flash of a job over SG_IO are the upgrade-sgio transcript's, and how each fault ends over
// SG_IO is the transport's conformance suite; here the drive comes from the search.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/linux/sg_io_transport.h"
#include "device/linux/sysfs_discovery.h"
#include "emulator/linux/emulated_sg_io.h"
#include "linux/sysfs_tree.h"
#include "support/job_rig.h"

namespace romsetter::test {
namespace {

TEST(SgIoJob, AFullNandUpgradeRunsOnTheDriveSysfsFinds) {
  SysfsTree tree("sg_io_job_sysfs");
  tree.Add(2, "Morvent", " USB-MSC Disk IN", "T", "1b3f", "2002", "sdb");
  JobRig rig(false, Device(), "sg_io_job");
  EmulatedSgIo sgIo(rig.device, tree.Node("sg2"));
  SgIoTransport sg(sgIo.Calls());
  SysfsDriveLocator locator(tree.paths);
  AppPorts ports{rig.window, rig.profile, rig.registry, rig.clock, FixedPaths::UnderFolder(rig.dir)};
  ports.session = MakeDriveSession(sg, &locator);
  ports.assumePresent = true;
  rig.core = std::make_unique<AppCore>(ports, rig.process);
  rig.core->StartUp({}, false);
  rig.sel().bootPath = rig.sel().smallFirmwarePath = "NONE";
  rig.WithFirmware();
  rig.WithFonts();
  rig.sel().backupChecked = true;
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.Messages(), Lines{"Successful: Please Unplug the Device first!"});
  const Lines log = rig.Log();
  EXPECT_EQ(log.back(), " ***** F/W, BackUp F/W and Font Upgrade successfully!!");
  const std::string node = tree.Node("sg2");
  for (const std::string& line : {"Bingo " + node + " (DiskVen_00)!", "01 CreatFile(" + node + ")",
                                  "\"" + node + "\" is got for InDisk!!"}) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
  // The entry matched, as the settings store reads it.
  EXPECT_EQ(rig.core->identity().inquiryText, "Morvent  USB-MSC Disk INT");
  rig.core.reset();  // before the drive it may hold
}

}  // namespace
}  // namespace romsetter::test
