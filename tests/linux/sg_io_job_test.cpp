// The whole upgrade through SgIoTransport on a drive found by sysfs discovery: the same lines
// (but those that find the drive), verdict and flash as through the emulated pass-through.
// How each fault ends over SG_IO is the transport's conformance suite.
#include <gtest/gtest.h>

#include "device/linux/sg_io_transport.h"
#include "device/linux/sysfs_discovery.h"
#include "emulator/linux/emulated_sg_io.h"
#include "linux/sysfs_tree.h"
#include "support/job_rig.h"

namespace romsetter::test {
namespace {

struct JobRun {
  JobOutcome outcome = JobOutcome::DeviceFailure;
  Lines log, messages;
  std::vector<EmulatedDevice::Page> flash;
  std::size_t commands = 0;
  std::string inquiryText;  // what discovery matched
};

// A NAND upgrade of firmware, both backups and fonts, always in the same folder so the lines
// that name files are alike; over SG_IO, the core is rebuilt on the drive sysfs finds.
JobRun Upgrade(bool sgIoWithSysfs, const SysfsTree& tree) {
  JobRig rig(false, Device(), "sg_io_job");
  EmulatedSgIo sgIo(rig.device, tree.Node("sg2"));
  SgIoTransport sg(sgIo.Calls());
  SysfsDriveLocator locator(tree.paths);
  if (sgIoWithSysfs) {
    AppPorts ports{rig.window, rig.profile, rig.registry, rig.clock, FixedPaths::UnderFolder(rig.dir)};
    ports.session = MakeDriveSession(sg, &locator);
    ports.assumePresent = true;
    rig.core = std::make_unique<AppCore>(ports, rig.process);
    rig.core->StartUp({}, false);
    rig.sel().bootPath = rig.sel().smallFirmwarePath = "NONE";
  }
  rig.WithFirmware();
  rig.WithFonts();
  rig.sel().backupChecked = true;
  JobRun run;
  run.outcome = rig.Run();
  run.log = rig.Log();
  run.messages = rig.Messages();
  for (std::uint32_t a : {0x1000u, 0x1007u, 0x2000u, 0x3007u, 0x4000u, 0x4002u, 0x43FFu}) {
    run.flash.push_back(rig.device.ReadFlash(a));
  }
  run.commands = rig.device.trace().size();
  run.inquiryText = rig.core->identity().inquiryText;
  rig.core.reset();  // before the drive it may hold
  return run;
}

TEST(SgIoJob, AFullNandUpgradeLogsAndEndsAsOverTheEmulatedPassThrough) {
  SysfsTree tree("sg_io_job_sysfs");
  tree.Add(2, "Morvent", " USB-MSC Disk IN", "T", "1b3f", "2002", "sdb");
  const JobRun reference = Upgrade(false, tree);
  ASSERT_EQ(reference.outcome, JobOutcome::Success);
  ASSERT_EQ(reference.messages, Lines{"Successful: Please Unplug the Device first!"});
  ASSERT_EQ(reference.log.back(), " ***** F/W, BackUp F/W and Font Upgrade successfully!!");
  // Found through sysfs: only the lines that find the drive differ.
  const JobRun found = Upgrade(true, tree);
  EXPECT_EQ(found.outcome, JobOutcome::Success);
  EXPECT_EQ(found.messages, reference.messages);
  EXPECT_EQ(found.flash, reference.flash);
  EXPECT_EQ(found.commands, reference.commands);
  EXPECT_EQ(found.inquiryText, "Morvent  USB-MSC Disk INT");  // the entry matched, as the settings store reads it
  auto withoutSearch = [](const Lines& lines) {
    Lines kept;
    bool searching = false;
    for (const std::string& l : lines) {
      if (l == "OpenDev() to Get InDisk Name") searching = true;
      if (!searching) kept.push_back(l);
      if (l.find("\" is got for InDisk!!") != std::string::npos) searching = false;
    }
    return kept;
  };
  EXPECT_EQ(withoutSearch(found.log), withoutSearch(reference.log));
  const std::string node = tree.Node("sg2");
  EXPECT_NE(std::find(found.log.begin(), found.log.end(), "Bingo " + node + " (DiskVen_00)!"), found.log.end());
  EXPECT_NE(std::find(found.log.begin(), found.log.end(), "\"" + node + "\" is got for InDisk!!"), found.log.end());
}

}  // namespace
}  // namespace romsetter::test
