// The whole upgrade through SgIoTransport on a drive found by sysfs discovery: the same lines
// (but those that find the drive), verdict and flash as through the emulated pass-through.
// How each fault ends over SG_IO is the transport's conformance suite.
#include <gtest/gtest.h>

#include <memory>

#include "app/app_core.h"
#include "app/in_memory_profile_store.h"
#include "device/linux/sg_io_transport.h"
#include "device/linux/sysfs_discovery.h"
#include "emulator/emulated_registry.h"
#include "emulator/emulated_transport.h"
#include "emulator/linux/emulated_sg_io.h"
#include "linux/sysfs_tree.h"
#include "package/sample_images.h"

namespace romsetter::test {
namespace {

using Lines = std::vector<std::string>;
enum class Path { EmulatedPassThrough, SgIoWithSysfs };

struct JobRun {
  JobOutcome outcome = JobOutcome::DeviceFailure;
  Lines log, messages;
  std::vector<std::pair<std::uint32_t, EmulatedDevice::Page>> flash;
  std::size_t commands = 0;
  std::string inquiryText;  // what discovery matched
};

// A NAND upgrade of firmware, both backups and fonts, always in the same folder so the
// lines that name files are alike.
JobRun Upgrade(Path path) {
  EmulatedDeviceConfig config;
  config.firmware.addr2 = 0x01000000;  // flash type 1: big-block NAND
  EmulatedDevice device(config);
  SysfsTree tree("sg_io_job");
  const std::string dir = tree.root;
  tree.Add(2, "Morvent", " USB-MSC Disk IN", "T", "1b3f", "2002", "sdb");

  EmulatedTransport emulated(device);
  EmulatedSgIo sgIo(device, tree.Node("sg2"));
  SgIoTransport sg(sgIo.Calls());
  SysfsDriveLocator locator(tree.paths);
  InMemoryDeviceRegistry registry;
  PopulateEmulatedRegistry(EmulatorConfig{}, registry);
  InMemoryProfileStore profile;
  RecordingWindow window;
  FakeClock clock;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  AppPorts ports{window, profile, registry, clock, FixedPaths::UnderFolder(dir)};
  ports.session = MakeDriveSession(path == Path::EmulatedPassThrough ? static_cast<DriveTransport&>(emulated) : sg,
                                   path == Path::SgIoWithSysfs ? &locator : nullptr);
  ports.assumePresent = true;
  AppCore core(ports, process);
  core.StartUp({}, false);
  Selections& s = core.model().selections;
  s.bootPath = s.smallFirmwarePath = "NONE";
  s.loadFirmware = s.backupChecked = s.loadFont = true;
  s.bigFirmwarePath = dir + "/fw.bin";
  const std::vector<std::uint8_t> image = BalancedImage(8, 11), font = PatternBytes(1500, 12);
  WriteFile(s.bigFirmwarePath, std::string(image.begin(), image.end()));
  WriteFile(dir + "/A.FNT", std::string(font.begin(), font.end()));
  WriteFile(s.fontListPath = dir + "/fonts.tab", dir + "/A.FNT\r\n");
  s.reportPath = dir + "/fonts.h";

  JobRun run;
  run.outcome = core.Run(JobMode::Upgrade);
  run.log = StripNumbers(ReadLines(dir + "/Romsetter.log"));
  for (const auto& m : window.messages) run.messages.push_back(m.caption + ": " + m.text);
  for (std::uint32_t a : {0x1000u, 0x1007u, 0x2000u, 0x3007u, 0x4000u, 0x4002u, 0x43FFu}) {
    run.flash.emplace_back(a, device.ReadFlash(a));
  }
  run.commands = device.trace().size();
  run.inquiryText = core.identity().inquiryText;
  return run;
}

TEST(SgIoJob, AFullNandUpgradeLogsAndEndsAsOverTheEmulatedPassThrough) {
  const JobRun reference = Upgrade(Path::EmulatedPassThrough);
  ASSERT_EQ(reference.outcome, JobOutcome::Success);
  ASSERT_EQ(reference.messages, Lines{"Successful: Please Unplug the Device first!"});
  ASSERT_EQ(reference.log.back(), " ***** F/W, BackUp F/W and Font Upgrade successfully!!");
  // Found through sysfs: only the lines that find the drive differ.
  const JobRun found = Upgrade(Path::SgIoWithSysfs);
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
  const std::string node = ScratchDir("sg_io_job") + "/dev/sg2";
  EXPECT_NE(std::find(found.log.begin(), found.log.end(), "Bingo " + node + " (DiskVen_00)!"), found.log.end());
  EXPECT_NE(std::find(found.log.begin(), found.log.end(), "\"" + node + "\" is got for InDisk!!"), found.log.end());
}

}  // namespace
}  // namespace romsetter::test
