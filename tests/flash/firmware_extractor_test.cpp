#include "flash/firmware_extractor.h"

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

struct ExtractRig : FlashRig {
  explicit ExtractRig(bool aspi, std::uint32_t pages = 3) : FlashRig(aspi, "extract") {
    image = LoadFirmware(pages);
    for (std::uint32_t k = 0; k < pages; ++k) {
      EmulatedDevice::Page page;
      std::copy_n(image.begin() + k * 512, 512, page.begin());
      device.WriteFlash(0x1000 + k, page);
    }
  }
  bool Run() { return FirmwareExtractor(*context, process).ExtractFirmware(); }
  std::string Output() const { return ReadFile(process.extractOutputPath); }
  Bytes image;
};

class ExtractBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, ExtractBoth, ::testing::Values(false, true), TransportName);

TEST_P(ExtractBoth, ReadsEveryImagePageIntoTheChosenFile) {
  ExtractRig rig(GetParam());
  const std::string chosen = rig.dir + "/chosen.bin";
  rig.window.dialogAnswers.push_back(chosen);

  ASSERT_TRUE(rig.Run());

  ASSERT_EQ(rig.window.dialogs.size(), 1u);
  const FileDialogRequest& d = rig.window.dialogs[0];
  EXPECT_EQ(d.initialName, rig.dir + "/read_fw.bin");
  EXPECT_EQ(d.defaultExtension, "Read_FW.bin");
  EXPECT_EQ(d.filter, "(*.bin)|*.bin|All Files (*.*)|*.*||");
  EXPECT_TRUE(d.overwritePrompt);
  EXPECT_EQ(rig.process.extractOutputPath, chosen);
  EXPECT_EQ(rig.Output(), std::string(rig.image.begin(), rig.image.end()));

  // The preparation page goes out before anything is read.
  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].pageAddress, 0x20000u);
  EXPECT_EQ(writes[0].pageNumber, 1u);
  EXPECT_EQ(writes[0].data, Bytes(512, 0xFF));
  const auto reads = rig.Reads();
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[2].pageAddress, 0x1002u);
  EXPECT_EQ(reads[2].pageNumber, 3u);

  EXPECT_EQ(rig.Lines().front(), "F/W Reading...");
  EXPECT_EQ(rig.Lines().back(), "OutPut " + chosen + " OK!");
  ASSERT_EQ(rig.window.messages.size(), 1u);
  EXPECT_EQ(rig.window.messages[0].text, "The device must be formatted by user.");
  EXPECT_EQ(rig.window.messages[0].caption, "Romsetter");
  EXPECT_EQ(rig.window.messages[0].icon, MessageIcon::None);
}

TEST_P(ExtractBoth, AReadFailureKeepsThePagesReadSoFar) {
  ExtractRig rig(GetParam(), 5);
  rig.AddFault(FaultKind::BadStatus, "UPT_READ_PAGE", 0x1002);
  EXPECT_FALSE(rig.Run());  // cancelled dialog: the previous path
  EXPECT_EQ(rig.Output(), std::string(rig.image.begin(), rig.image.begin() + 1024));
  EXPECT_EQ(rig.Lines().back(), "Read FW Page Failed!!");
  ASSERT_EQ(rig.window.messages.size(), 1u);
  EXPECT_EQ(rig.window.messages[0].text, "The device must be formatted by user.");
}

TEST(Extract, NoImageReadsOnePageOverPassThroughAndNothingOverAspi) {
  ExtractRig passThrough(false, 0);
  EXPECT_TRUE(passThrough.Run());
  EXPECT_EQ(passThrough.Output().size(), 512u);
  EXPECT_EQ(passThrough.Reads().size(), 1u);

  ExtractRig aspi(true, 0);
  EXPECT_FALSE(aspi.Run());
  EXPECT_EQ(aspi.Lines().back(), "Error: To get FW size");
  EXPECT_TRUE(aspi.device.trace().empty());
  EXPECT_FALSE(FileExists(aspi.process.extractOutputPath));
  EXPECT_TRUE(aspi.window.messages.empty());
}

TEST(Extract, FailedPreparationPageOrOutputFileEndIt) {
  {
    ExtractRig rig(false);
    rig.AddFault(FaultKind::NotDelivered, "UPT_WRITE_PAGE", 0x20000);
    EXPECT_FALSE(rig.Run());
    EXPECT_EQ(rig.Lines().back(), "Write 0xff*512 Failed!!");
    EXPECT_FALSE(FileExists(rig.process.extractOutputPath));
    EXPECT_TRUE(rig.Reads().empty());
  }
  {
    ExtractRig rig(false);
    rig.process.extractOutputPath = rig.dir + "/no/such/folder/out.bin";
    EXPECT_FALSE(rig.Run());
    const std::string text = "The Output BIN file " + rig.process.extractOutputPath + " can't be opened.";
    EXPECT_EQ(rig.Lines().back(), text);
    ASSERT_EQ(rig.window.messages.size(), 1u);
    EXPECT_EQ(rig.window.messages[0].text, text);
    EXPECT_EQ(rig.window.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(rig.Reads().empty());
  }
}

TEST(Extract, SmallBlockDeviceReadsTheSmallBlockRegion) {
  ExtractRig rig(false, 4);
  rig.link->memoryMap.flashType = kFlashTypeSmallBlock;
  rig.link->memoryMap.fwAddr1Small = 0x1001;
  rig.link->imagePages.smallImagePages = 2;
  EXPECT_TRUE(rig.Run());
  EXPECT_EQ(rig.Output(), std::string(rig.image.begin() + 512, rig.image.begin() + 1536));
}

}  // namespace
}  // namespace romsetter::test
