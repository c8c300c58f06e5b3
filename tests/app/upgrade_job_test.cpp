#include "app/upgrade_job.h"

#include <gtest/gtest.h>

#include "app/removal_warnings.h"
#include "app/update_controls.h"
#include "job_rig.h"

namespace romsetter {
namespace {

using test::Fault;
using test::JobRig;

class EachTransport : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Job, EachTransport, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Aspi" : "PassThrough"; });

TEST_P(EachTransport, UnknownFlashTypeStopsBeforeTheDevice) {
  JobRig rig(GetParam());
  rig.device.Detach();  // never queried: the flash type is still 0xFF
  rig.WithFirmware();
  EXPECT_EQ(rig.Run(), JobOutcome::Refused);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Romsetter: FlashType 0xff."}));
  EXPECT_EQ(rig.window.messages[0].icon, MessageIcon::Error);
  EXPECT_EQ(rig.Count("UPT_WRITE_PAGE"), 0u);
}

TEST_P(EachTransport, SmallBlockDeviceNeedsTheSmallImage) {
  EmulatedDeviceConfig config = test::NandDevice();
  config.firmware.addr2 = 0x02000000;  // flash type 2
  JobRig rig(GetParam(), config);
  rig.WithFirmware();
  rig.sel().smallFirmwarePath = "NONE";
  EXPECT_EQ(rig.Run(), JobOutcome::Refused);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Romsetter: The SMALL block file is \"NONE\". (FlashType:2)"}));
}

TEST(JobNone, WholeNameIgnoringCaseAgainstTheEnablingRulesSubstring) {
  EXPECT_TRUE(IsNoneName("none"));
  EXPECT_TRUE(IsNoneName("NoNe"));
  EXPECT_FALSE(IsNoneName("NONE0"));
  EXPECT_FALSE(IsNoneName("D:\\NONEXT\\fw.bin"));
  EXPECT_FALSE(UsableFileName("D:\\NONEXT\\fw.bin"));
  EXPECT_TRUE(UsableFileName("D:\\none\\fw.bin"));  // only capitals count for the buttons

  JobRig rig(false);
  rig.WithFirmware();
  rig.sel().bigFirmwarePath = "none";
  EXPECT_EQ(rig.Run(), JobOutcome::Refused);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Romsetter: The BIG(default) block file is \"NONE\". (FlashType:1)"}));
}

TEST_P(EachTransport, FormatAloneRestartsWithoutASummaryLine) {
  JobRig rig(GetParam());
  rig.sel().formatChecked = true;
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.core->job.doneKinds(), 0);
  EXPECT_EQ(rig.Count("DEV_FORMAT_16"), 1u);
  EXPECT_EQ(rig.Count("UPT_FW_RESTART_SYS"), 1u);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Successful: Please Unplug the Device first!"}));
  for (const std::string& line : rig.Lines()) EXPECT_EQ(line.find("*****"), std::string::npos) << line;
}

TEST_P(EachTransport, FontOnlyIsNotRestarted) {
  JobRig rig(GetParam());
  rig.WithFonts();
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.core->job.doneKinds(), 2);
  EXPECT_TRUE(rig.Logged(" ***** Font Upgrade successfully!!"));
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Successful: The font has been updated into the Device."}));
  EXPECT_EQ(rig.Count("UPT_FW_RESTART_SYS"), 0u);
  EXPECT_EQ(rig.Count("FONT_END_OF_UPDATE"), 1u);  // by the font writer, or over ASPI by the job
  EXPECT_TRUE(test::FileExists(rig.dir + "/fonts.h"));
}

TEST(JobAspi, FontEndFailureFailsTheFontOnlyRun) {
  JobRig rig(true);
  rig.device.AddFault(Fault(FaultKind::NoCompletion, "FONT_END_OF_UPDATE"));
  rig.WithFonts();
  EXPECT_EQ(rig.Run(), JobOutcome::DeviceFailure);
  EXPECT_FALSE(rig.Logged(" ***** Font Upgrade successfully!!"));
  EXPECT_TRUE(rig.window.messages.empty());
  EXPECT_FALSE(test::FileExists(rig.dir + "/fonts.h"));
}

TEST(JobAspi, FontWithFirmwareSendsNoFontEnd) {
  JobRig rig(true);
  rig.WithFirmware();
  rig.WithFonts();
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.Count("FONT_END_OF_UPDATE"), 0u);
  EXPECT_TRUE(rig.Logged(" ***** F/W and Font Upgrade successfully!!"));
}

TEST_P(EachTransport, FailedFirmwareThenGoodBackupCountsOnlyTheBackup) {
  JobRig rig(GetParam());
  rig.device.AddFault(Fault(FaultKind::NotDelivered, "UPT_WRITE_PAGE", 0x1000));
  rig.WithFirmware();
  rig.sel().backupChecked = true;
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.core->job.doneKinds(), 8);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"Successful: Please Unplug the Device first!"}));
  for (const std::string& line : rig.Lines()) EXPECT_EQ(line.find("*****"), std::string::npos) << line;
}

TEST(JobPassThrough, NorBootRegionOfSizeZeroIsSkippedAndNotCounted) {
  EmulatedDeviceConfig config = test::NorDevice();
  config.boot.size = 0;
  JobRig rig(false, config);
  rig.WithBoot();
  rig.WithFirmware();
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.core->job.doneKinds(), 1);
  EXPECT_TRUE(rig.Logged("User can't upgrade the boot code."));
  EXPECT_TRUE(rig.Logged(" ***** F/W Upgrade successfully!!"));
  EXPECT_EQ(rig.Count("UPT_BOOT_ERASE_MEM"), 0u);
}

TEST(JobAspi, NorBootRegionOfSizeZeroCountsAsDone) {
  EmulatedDeviceConfig config = test::NorDevice();
  config.boot.size = 0;
  JobRig rig(true, config);
  rig.WithBoot();
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  EXPECT_EQ(rig.core->job.doneKinds(), 4);
  EXPECT_TRUE(rig.Logged(" ***** Boot Upgrade successfully!!"));
  EXPECT_EQ(rig.Count("UPT_WRITE_PAGE"), 0u);
}

TEST(JobPassThrough, FailedFontEraseSendsTheFontToItsSecondPlaceAndNamesIt) {
  JobRig rig(false);
  rig.device.AddFault(Fault(FaultKind::NotDelivered, "FONT_ERASE_FONT_BLKS"));
  rig.device.AddFault(Fault(FaultKind::NotDelivered, "FONT_WRITE_PAGE", 0x5000));
  rig.WithFonts();
  EXPECT_EQ(rig.Run(), JobOutcome::DeviceFailure);
  const auto lines = rig.Lines();
  auto at = [&](const char* text) { return std::find(lines.begin(), lines.end(), text) - lines.begin(); };
  EXPECT_LT(at("Font page erased Failure!!"), at("Font_2 Upgrading, Please Wait..."));
  EXPECT_LT(at("Font_2 Upgrading, Please Wait..."), at("Font_2 upgrade failure!!"));
  EXPECT_FALSE(rig.Logged("Font_1 Upgrading, Please Wait..."));
  EXPECT_TRUE(rig.window.messages.empty());
}

TEST(JobPassThrough, FontThatFillsTheRegionIsRefusedBeforeTheErase) {
  JobRig rig(false);
  rig.WithFonts(0x40 * 512);  // exactly the region: its last page would carry the flag
  EXPECT_EQ(rig.Run(), JobOutcome::DeviceFailure);
  EXPECT_TRUE(rig.Logged("Font file Size is larger then device memory."));
  EXPECT_EQ(rig.Count("FONT_ERASE_FONT_BLKS"), 0u);
  EXPECT_EQ(rig.Count("FONT_WRITE_PAGE"), 0u);
}

TEST(JobExtract, PassThroughExtractsRightAfterInitialisation) {
  JobRig rig(false);
  rig.WithFirmware(3);
  rig.sel().formatChecked = true;
  rig.window.dialogAnswers.push_back(rig.dir + "/out.bin");
  EXPECT_EQ(rig.Run(JobMode::Extract), JobOutcome::Success);
  EXPECT_EQ(rig.Count("DEV_FORMAT_16"), 0u);
  EXPECT_EQ(test::ReadFile(rig.dir + "/out.bin").size(), 3u * 512);
  EXPECT_FALSE(rig.process.extractMode);
  EXPECT_EQ(rig.Count("UPT_FW_RESTART_SYS"), 0u);
}

TEST(JobExtract, AspiFormatsFirstThenExtracts) {
  JobRig rig(true);
  rig.WithFirmware(3);
  rig.sel().formatChecked = true;
  rig.window.dialogAnswers.push_back(rig.dir + "/out.bin");
  EXPECT_EQ(rig.Run(JobMode::Extract), JobOutcome::Success);
  std::vector<std::string> order;
  for (const TraceEntry& e : rig.device.trace()) {
    if (e.command == "DEV_FORMAT_16" || e.command == "UPT_WRITE_PAGE") order.push_back(e.command);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"DEV_FORMAT_16", "UPT_WRITE_PAGE"}));  // the preparation page
  EXPECT_EQ(test::ReadFile(rig.dir + "/out.bin").size(), 3u * 512);
}

TEST(JobPackage, FontDataIsPaddedWithErasedBytesAndNothingIsWrittenBack) {
  JobRig rig(false);
  rig.process.packageMode = PackageMode::Package;
  rig.process.presetHardwareId = kEmulatedHardwareId;
  rig.process.presetInstanceKeyPath = kEmulatedStorageKey;
  rig.process.presetInquiryText = "Morvent  USB-MSC Disk INT   ";
  rig.sel().loadFont = true;
  const auto font = PatternBytes(600, 3);
  rig.core->images.Replace(ImageSlot::FontData, font);
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
  const auto second = rig.device.ReadFlash(0x4001);
  EXPECT_TRUE(std::equal(font.begin() + 512, font.end(), second.begin()));
  EXPECT_TRUE(std::all_of(second.begin() + 88, second.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(rig.Logged("Loaded elapsed 0 seconds for FontData:"));
  EXPECT_EQ(rig.profile.Read("Romsetter", "FW_Version", "<none>"), "<none>");
  EXPECT_EQ(rig.core->images.Slot(ImageSlot::FontData), font);  // the package's own copy is kept
}

TEST(JobPassThrough, NoDriveLeavesThePresenceAndShowsTheOpenFailure) {
  JobRig rig(false);
  rig.sel().formatChecked = true;
  rig.device.Detach();
  EXPECT_EQ(rig.Run(), JobOutcome::NoDevice);
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"F/W Upgrade: The device opened failure!!,please check the connection!"}));
  EXPECT_TRUE(rig.core->link->devicePresent);
  EXPECT_FALSE(rig.drive.DriveOpen());
}

TEST(JobAspi, TargetNotFoundClearsThePresence) {
  EmulatedDeviceConfig config = test::NandDevice();
  config.inquiry = "Someone  Other Disk        ";
  JobRig rig(true, config);
  rig.sel().formatChecked = true;
  EXPECT_EQ(rig.Run(), JobOutcome::NoDevice);
  EXPECT_TRUE(rig.Logged("InDisk be removed. Device opened Failure!!"));
  EXPECT_FALSE(rig.core->link->devicePresent);
  EXPECT_FALSE(rig.aspi.InJob());
  EXPECT_EQ(rig.library.openEvents(), 0);
}

// Every sum of kinds a run can reach, with its closing line.
struct SumCase {
  const char* name;
  bool nor, boot, firmware, backup, font, failFirmware;
  int doneKinds;
  const char* line;  // "" when the sum has none
};

void PrintTo(const SumCase& c, std::ostream* os) { *os << c.name; }

class Sums : public ::testing::TestWithParam<SumCase> {};

TEST_P(Sums, ReachTheirClosingLine) {
  const SumCase& c = GetParam();
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "ASPI" : "pass-through");
    JobRig rig(aspi, c.nor ? test::NorDevice() : test::NandDevice());
    if (c.boot) rig.WithBoot();
    if (c.nor) rig.sel().norSelected = true;
    if (c.firmware) rig.WithFirmware();
    if (c.font) rig.WithFonts();
    rig.sel().backupChecked = c.backup;
    if (c.failFirmware) rig.device.AddFault(Fault(FaultKind::NotDelivered, "UPT_WRITE_PAGE", 0x1000));
    EXPECT_EQ(rig.Run(), JobOutcome::Success);
    EXPECT_EQ(rig.core->job.doneKinds(), c.doneKinds);
    EXPECT_STREQ(SummaryLine(c.doneKinds), c.line);
    int summaryLines = 0;
    for (const std::string& l : rig.Lines()) summaryLines += l.rfind(" *****", 0) == 0;
    EXPECT_EQ(summaryLines, *c.line != '\0' || c.doneKinds == 2 ? 1 : 0);
    if (*c.line != '\0') {
      EXPECT_TRUE(rig.Logged(c.line));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Job, Sums,
    ::testing::Values(SumCase{"Firmware", false, false, true, false, false, false, 1, " ***** F/W Upgrade successfully!!"},
                      SumCase{"FirmwareFont", false, false, true, false, true, false, 3,
                              " ***** F/W and Font Upgrade successfully!!"},
                      SumCase{"Boot", true, true, false, false, false, false, 4, " ***** Boot Upgrade successfully!!"},
                      SumCase{"BootFirmware", true, true, true, false, false, false, 5,
                              " ***** F/W and Boot Upgrade successfully!!"},
                      SumCase{"BootFont", true, true, false, false, true, false, 6,
                              " ***** Boot and Font Upgrade successfully!!"},
                      SumCase{"All", true, true, true, false, true, false, 7,
                              " ***** Boot , F/W and Font Upgrade successfully!!"},
                      SumCase{"Backup", false, false, true, true, false, true, 8, ""},
                      SumCase{"FirmwareBackup", false, false, true, true, false, false, 9,
                              " ***** F/W and BackUp F/W Upgrade successfully!!"},
                      SumCase{"BackupFont", false, false, true, true, true, true, 10, ""},
                      SumCase{"FirmwareBackupFont", false, false, true, true, true, false, 11,
                              " ***** F/W, BackUp F/W and Font Upgrade successfully!!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Presence, ArrivalAndRemovalProbeAfterTheirSleeps) {
  JobRig rig(false);
  rig.sel().checkProduct = true;
  rig.core->link->devicePresent = false;
  EXPECT_TRUE(rig.core->presence.OnDeviceChange(DevicePresence::kDeviceArrival, DevicePresence::kDeviceTypeVolume));
  EXPECT_TRUE(rig.core->link->devicePresent);
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03  Product:MV-Demo Player");
  EXPECT_FALSE(rig.drive.DriveOpen());

  rig.device.Detach();
  EXPECT_TRUE(rig.core->presence.OnDeviceChange(DevicePresence::kDeviceRemoveComplete,
                                                 DevicePresence::kDeviceTypeVolume));
  EXPECT_FALSE(rig.core->link->devicePresent);
  EXPECT_EQ(rig.window.versionLine, "");
  EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{2000u, 1000u}));
  EXPECT_FALSE(rig.window.IsEnabled(Control::Upgrade, true));

  // Other device types and events are left to the default processing.
  EXPECT_FALSE(rig.core->presence.OnDeviceChange(DevicePresence::kDeviceArrival, 3));
  EXPECT_FALSE(rig.core->presence.OnDeviceChange(0x8001, DevicePresence::kDeviceTypeVolume));
}

TEST(Presence, WarningWindowsCloseOnePerActivation) {
  JobRig rig(false);
  const auto& titles = RemovalWarningTitles();
  EXPECT_EQ(titles[0], std::string("\xAB\x44\xA6\x77\xA5\xFE\xA4\xE8\xA6\xA1\xB2\xBE\xB0\xA3\xB8\xCB\xB8\x6D"));
  EXPECT_EQ(titles[5], std::string("\xBF\xC9\xD2\xD4\xB7\xC5\xD0\xC4\xD2\xC6\xB3\xFD\xD3\xB2\xCC\xE5"));
  for (const auto& t : titles) EXPECT_TRUE(t.size() == 16 || t.size() == 18);
  rig.window.openWindows = {titles[4], titles[1]};
  rig.core->presence.OnActivate();
  EXPECT_EQ(rig.window.closedTitles, (std::vector<std::string>{titles[1]}));  // the earlier title in the list
  rig.core->presence.OnActivate();
  EXPECT_EQ(rig.window.closedTitles, (std::vector<std::string>{titles[1], titles[4]}));
  rig.core->presence.OnActivate();
  EXPECT_EQ(rig.window.closedTitles.size(), 2u);
  EXPECT_EQ(rig.clock.sleeps.size(), 2u);
}

}  // namespace
}  // namespace romsetter
