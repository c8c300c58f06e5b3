#include "app/upgrade_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/app_core.h"
#include "app/checked_images.h"
#include "app/in_memory_profile_store.h"
#include "app/removal_warnings.h"
#include "app/update_controls.h"
#include "support/data_rows.h"
#include "package/sample_images.h"
#include "support/job_rig.h"

namespace romsetter::test {
namespace {

class EachTransport : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Job, EachTransport, ::testing::Values(false, true), TransportName);

TEST(JobNone, WholeNameIgnoringCase) {
  EXPECT_TRUE(IsNoneName("NoNe"));
  EXPECT_FALSE(IsNoneName("NONE0") || IsNoneName("D:\\NONEXT\\fw.bin"));
}

// Upgrade is enabled only for choices a run can carry out on a present device (that the
// dialog's button follows is the dialog suite's).
TEST(JobControls, UpgradeIsEnabledOnlyForARunThatCanStart) {
  for (const auto& c : DataRows("app/data/enabling_rules.txt", 8)) {
    Selections s;
    s.norSelected = c[2] == "nor";
    s.loadFirmware = c[3] == "load-fw";
    s.formatChecked = c[4] == "format";
    s.loadFont = c[5] != "-";
    s.fontListPath = c[5];
    s.bigFirmwarePath = c[6];
    s.smallFirmwarePath = c[7];
    RecordingWindow window;
    UpdateControls(s, c[1] == "present", false, window);
    EXPECT_EQ(window.IsEnabled(Control::Upgrade), c[0] == "enabled") << c[1] << " " << c[5] << " " << c[6];
  }
}

// The fonts reached the device but their header did not reach the disk: the device part is
// finished (and restarted when it holds firmware), the run is not a success.
TEST_P(EachTransport, UnwrittenHeaderAfterTheFontsIsAFileFailure) {
  for (bool firmware : {false, true}) {
    SCOPED_TRACE(firmware ? "firmware and fonts" : "fonts alone");
    JobRig rig(GetParam());
    rig.WithFonts();
    if (firmware) rig.WithFirmware();
    std::filesystem::create_directory(rig.sel().reportPath);  // a folder where the header goes
    EXPECT_EQ(rig.Run(), JobOutcome::FileFailed);
    EXPECT_GT(rig.Count("FONT_WRITE_PAGE"), 0u);
    EXPECT_EQ(rig.Count("UPT_FW_RESTART_SYS"), firmware ? 1u : 0u);
    for (const RecordedMessage& m : rig.window.messages) EXPECT_NE(m.caption, "Successful");
    ASSERT_FALSE(rig.window.messages.empty());
    EXPECT_NE(rig.window.messages.back().text.find("can't be written"), std::string::npos);
  }
}

// An erase is sent only when the write that follows it can be made: whatever would refuse the
// write (no image, addresses past the end, a boot file gone since its check) refuses first.
TEST_P(EachTransport, NoRegionIsErasedThatTheRunCannotRewrite) {
  const bool aspi = GetParam();
  {
    SCOPED_TRACE("backup without a firmware image");
    JobRig rig(aspi);
    rig.sel().formatChecked = rig.sel().backupChecked = true;
    EXPECT_EQ(rig.Run(), JobOutcome::Refused);
    EXPECT_EQ(rig.Count("BACKUP_FW_ERASE_MEM") + rig.Count("DEV_FORMAT_16"), 0u);
    const std::string why = "BackupFW writes the F/W image: check Load F/W to write the backup copies.";
    EXPECT_EQ(rig.Messages(), Lines{"F/W Upgrade: " + why});
    EXPECT_EQ(rig.Log().back(), why);
  }
  for (const auto& c : DataRows("app/data/unerasable_ranges.txt", 6)) {
    SCOPED_TRACE(c[5]);
    const bool nor = c[1] == "nor";
    EmulatedDeviceConfig config = Device(nor);
    config.firmware.addr1 = std::stoul(c[2], nullptr, 0);
    config.backupAddr1 = std::stoul(c[3], nullptr, 0);
    config.boot.addr1 = std::stoul(c[4], nullptr, 0);
    JobRig rig(aspi, config);
    if (nor) rig.WithBoot();
    rig.WithFirmware();
    rig.sel().backupChecked = !nor;
    EXPECT_EQ(rig.Run(), JobOutcome::DeviceFailure);
    EXPECT_EQ(rig.Count(c[0]), 0u);
    const Lines log = rig.Log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
      return l.find("pass 0xFFFFFFFF.") != std::string::npos;
    }));
  }
  // The boot file changed after its check: over ASPI the boot code is read from the file.
  for (bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "boot file cut short" : "boot file removed");
    JobRig rig(aspi, Device(true));
    rig.WithBoot();
    rig.window.onStatus = [&](const std::string& line) {
      if (line.find("Initiating InDisk...") == std::string::npos) return;
      if (truncate) WriteFile(rig.sel().bootPath, "short");
      else std::filesystem::remove(rig.sel().bootPath);
    };
    const JobOutcome outcome = rig.Run();
    EXPECT_EQ(rig.Count("UPT_BOOT_ERASE_MEM"), aspi ? 0u : 1u);
    EXPECT_EQ(outcome, aspi ? JobOutcome::DeviceFailure : JobOutcome::Success);
    if (!aspi) {
      const auto first = rig.device.ReadFlash(rig.device.config().boot.addr1);
      const auto image = BalancedImage(4, 13);
      EXPECT_TRUE(std::equal(first.begin(), first.end(), image.begin()));
    }
  }
}

// A job's message boxes run a message loop: a volume that comes or goes then must not probe
// the device under the job (closing its drive, freeing its ASPI request); the last event is
// handled once the job has ended.
TEST_P(EachTransport, APresenceEventDuringAJobsBoxWaitsForTheJobToEnd) {
  JobRig rig(GetParam());
  rig.WithFirmware();
  rig.sel().formatChecked = rig.sel().backupChecked = true;
  rig.sel().checkProduct = true;
  rig.Fail(FaultKind::BadStatus, "DEV_FORMAT_16");  // its box is up while the job goes on
  std::size_t commands = 0;
  rig.window.onMessage = [&](const std::string&) {
    commands = rig.device.trace().size();
    for (std::uint32_t event : {DevicePresence::kDeviceRemoveComplete, DevicePresence::kDeviceArrival}) {
      EXPECT_TRUE(rig.core->OnDeviceChange(event, DevicePresence::kDeviceTypeVolume));
    }
    EXPECT_EQ(rig.device.trace().size(), commands);
    EXPECT_TRUE(rig.clock.sleeps.empty());
  };
  EXPECT_EQ(rig.Run(), JobOutcome::DeviceFailure);
  const auto image = BalancedImage(8, 11);
  for (std::uint32_t copy : {rig.device.config().backupAddr1, rig.device.config().backupAddr2}) {
    for (std::uint32_t page = 0; page < 8; ++page) {
      const auto written = rig.device.ReadFlash(copy + page);
      EXPECT_TRUE(std::equal(written.begin(), written.end(), image.begin() + page * 512)) << copy << "+" << page;
    }
  }
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{DevicePresence::kArrivalSleepMs});  // the last event only
  EXPECT_TRUE(rig.core->devicePresent());
  EXPECT_FALSE(rig.window.versionLine.empty());
  rig.window.onMessage = nullptr;
  rig.clock.sleeps.clear();
  EXPECT_TRUE(rig.core->OnDeviceChange(DevicePresence::kDeviceArrival, DevicePresence::kDeviceTypeVolume));
  EXPECT_EQ(rig.clock.sleeps.size(), 1u);  // between jobs: at once
}

// The drive's own refusals.  The job holds the volume locked (and dismounted) from its open;
// a refused lock is told in a line and the job goes on as before.  An open refused to a
// standard user on Vista and later ends with the Upgrade's own box: run as administrator.
TEST(JobPassThrough, ARefusedLockIsToldAndARefusedOpenSaysToRunAsAdministrator) {
  for (const std::uint32_t refusal : {0u, 32u}) {  // 32: ERROR_SHARING_VIOLATION
    SCOPED_TRACE(refusal);
    JobRig rig(false);
    rig.drive.lockError = refusal;
    rig.WithFirmware();
    EXPECT_EQ(rig.Run(), JobOutcome::Success);
    EXPECT_EQ(rig.drive.locks, 1);
    const Lines lines = rig.Log();
    const std::string told = "Can't lock the volume of E: (error 32), it stays mounted during the upgrade.";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), told), refusal == 0 ? 0 : 1);
  }
  JobRig rig(false);
  rig.drive.openError = 5;  // ERROR_ACCESS_DENIED
  rig.WithFirmware();
  EXPECT_EQ(rig.Run(), JobOutcome::NoDevice);
  EXPECT_EQ(rig.Messages(),
            Lines{"F/W Upgrade: Access to the device is denied.\nPlease run the program as administrator!"});
  EXPECT_EQ(rig.Count("UPT_WRITE_PAGE"), 0u);
}

TEST_P(EachTransport, ExtractFollowsInitialisationOrOverAspiTheFormat) {
  JobRig rig(GetParam());
  rig.WithFirmware(3);
  rig.sel().formatChecked = true;
  rig.window.dialogAnswers.push_back(rig.dir + "/out.bin");
  EXPECT_EQ(rig.Run(JobMode::Extract), JobOutcome::Success);
  Lines order;
  for (const TraceEntry& e : rig.device.trace()) {
    if (e.command == "DEV_FORMAT_16" || e.command == "UPT_WRITE_PAGE" || e.command == "UPT_FW_RESTART_SYS") {
      order.push_back(e.command);
    }
  }
  EXPECT_EQ(order, GetParam() ? (Lines{"DEV_FORMAT_16", "UPT_WRITE_PAGE"}) : Lines{"UPT_WRITE_PAGE"});
  EXPECT_EQ(ReadFile(rig.dir + "/out.bin").size(), 3u * 512);
}

TEST(JobPackage, FontDataIsPaddedWithErasedBytesAndNothingIsWrittenBack) {
  JobRig rig(false);
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetHardwareId = kEmulatedHardwareId;
  rig.process.presetInstanceKeyPath = kEmulatedStorageKey;
  rig.process.presetInquiryText = "Morvent  USB-MSC Disk INT   ";
  rig.sel().loadFont = true;
  const auto font = PatternBytes(600, 3);
  ImageStore package;
  package.Replace(ImageSlot::FontData, font);
  rig.core->StartUp(std::move(package), false);
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  const auto second = rig.device.ReadFlash(0x4001);
  EXPECT_TRUE(std::equal(font.begin() + 512, font.end(), second.begin()));
  EXPECT_TRUE(std::all_of(second.begin() + 88, second.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(rig.profile.Read("Romsetter", "FW_Version", "<none>"), "<none>");
  EXPECT_EQ(rig.core->images().Slot(ImageSlot::FontData), font);  // the package's own copy is kept
}

// No device to take: one elsewhere than the drive or target named for the run, or none at all
// (after which only ASPI counts it as gone); nothing is left open.
TEST_P(EachTransport, NoDeviceToTakeIsNoDevice) {
  JobRig rig(GetParam());
  AppPorts ports{rig.window, rig.profile, rig.registry, rig.clock, FixedPaths::UnderFolder(rig.dir)};
  ports.session = GetParam() ? MakeAspiSession(rig.aspi) : MakeDriveSession(rig.drive);
  ports.onlyDrive = 'Z';
  ports.onlyTarget = ScsiTarget{3, 7};
  AppCore named(ports, rig.process);
  EXPECT_EQ(named.Run(JobRequest{JobMode::Upgrade, rig.sel()}), JobOutcome::NoDevice);

  rig.device.Detach();
  EXPECT_EQ(rig.Run(), JobOutcome::NoDevice);
  EXPECT_EQ(rig.core->devicePresent(), !GetParam());
  EXPECT_FALSE(rig.drive.DriveOpen() || rig.aspi.InJob());
}

// A NOR device is never formatted, whether its boot code was written or it has no boot region
// (the command line refuses the choice; the failures that stop later steps are in transcripts).
TEST(JobPlan, NorIsNeverFormatted) {
  for (const std::uint16_t bootSize : {0x40, 0}) {
    for (const bool aspi : {false, true}) {
      EmulatedDeviceConfig config = Device(true);
      config.boot.size = bootSize;
      JobRig rig(aspi, config);
      rig.WithBoot();
      rig.sel().formatChecked = true;
      rig.Run();
      EXPECT_EQ(rig.Count("DEV_FORMAT_16"), 0u) << bootSize << aspi;
    }
  }
}

TEST(Presence, ArrivalAndRemovalProbeAfterTheirSleeps) {
  JobRig rig(false);
  AppCore& core = *rig.core;
  rig.sel().checkProduct = true;
  core.ProbeDevice();  // a version shown, for the removal to clear
  ASSERT_FALSE(rig.window.versionLine.empty());
  rig.device.Detach();
  EXPECT_TRUE(core.OnDeviceChange(DevicePresence::kDeviceRemoveComplete, DevicePresence::kDeviceTypeVolume));
  EXPECT_FALSE(core.devicePresent() || rig.window.IsEnabled(Control::Upgrade, true));
  EXPECT_EQ(rig.window.versionLine, "");
  rig.device.Attach();
  EXPECT_TRUE(core.OnDeviceChange(DevicePresence::kDeviceArrival, DevicePresence::kDeviceTypeVolume));
  EXPECT_TRUE(core.devicePresent() && !rig.window.versionLine.empty());
  EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{1000u, 2000u}));
  EXPECT_FALSE(core.OnDeviceChange(DevicePresence::kDeviceArrival, 3));  // not a volume: default processing
}

TEST(Presence, WarningWindowsCloseOnePerActivation) {
  JobRig rig(false);
  const auto& titles = RemovalWarningTitles();
  rig.window.openWindows = {titles[4], titles[1]};
  rig.core->OnActivate();
  EXPECT_EQ(rig.window.closedTitles, (Lines{titles[1]}));  // the earlier title in the list
  rig.core->OnActivate();
  rig.core->OnActivate();
  EXPECT_EQ(rig.window.closedTitles, (Lines{titles[1], titles[4]}));
  EXPECT_EQ(rig.clock.sleeps.size(), 2u);
}

// Several devices: the images are loaded and checked once; each job then logs what its own
// check would have logged, takes the pages from the shared images, and reads no file.
TEST_P(EachTransport, AJobOverImagesCheckedOnceLogsAndWritesAsAJobThatChecksThemItself) {
  JobRig alone(GetParam());
  alone.WithFirmware(12);
  alone.WithFonts();
  alone.sel().backupChecked = true;
  ASSERT_EQ(alone.Run(), JobOutcome::Success);

  JobRig before(GetParam(), Device(true));  // its device is never asked anything
  before.device.Detach();
  before.sel() = alone.sel();
  std::filesystem::remove(alone.sel().reportPath);
  CheckedImages checked;
  ASSERT_EQ(PreloadImages(*before.core, checked), JobOutcome::Success);
  EXPECT_EQ(before.device.trace().size(), 0u);  // the run's own log of the checks: several-devices transcript
  EXPECT_TRUE(FileExists(alone.sel().reportPath));
  std::filesystem::remove(alone.sel().bigFirmwarePath);
  std::filesystem::remove(alone.dir + "/A.FNT");

  JobRig job(GetParam(), Device(), "", &checked);
  job.sel() = alone.sel();
  ASSERT_EQ(job.Run(), JobOutcome::Success);
  EXPECT_EQ(job.Log(), alone.Log());
  for (const char* command : {"UPT_WRITE_PAGE", "FONT_WRITE_PAGE"}) {
    ASSERT_EQ(job.Count(command), alone.Count(command)) << command;
    EXPECT_EQ(job.device.TraceOf(command).back().digest, alone.device.TraceOf(command).back().digest) << command;
  }
}

TEST(WorstOutcome, ADeviceFailureOutranksNoDeviceWhichOutranksARefusalThenAFileThenSuccess) {
  const JobOutcome order[] = {JobOutcome::Success, JobOutcome::FileFailed, JobOutcome::Refused, JobOutcome::NoDevice,
                              JobOutcome::DeviceFailure};
  for (std::size_t i = 0; i < 5; ++i) {
    for (std::size_t j = 0; j < 5; ++j) {
      EXPECT_EQ(WorstOutcome(order[i], order[j]), order[std::max(i, j)]) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace romsetter::test
