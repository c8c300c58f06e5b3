#include "flash/firmware_extractor.h"

#include "flash/flash_programmer.h"
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
  bool Run() { return FirmwareExtractor(*context, *memory, process).ExtractFirmware() == FirmwareExtractor::Result::Done; }
  std::string Output() const { return ReadFile(process.extractOutputPath); }
  std::string Image(std::size_t bytes) const { return std::string(image.begin(), image.begin() + bytes); }
  Bytes image;
};

class ExtractBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, ExtractBoth, ::testing::Values(false, true), TransportName);

TEST_P(ExtractBoth, ReadsEveryImagePageIntoTheChosenFile) {
  ExtractRig rig(GetParam());
  const std::string chosen = rig.dir + "/chosen.bin";
  rig.window.dialogAnswers.push_back(chosen);
  ASSERT_TRUE(rig.Run());

  EXPECT_EQ(rig.window.dialogs.at(0).initialName, rig.dir + "/read_fw.bin");
  EXPECT_EQ(rig.process.extractOutputPath, chosen);
  EXPECT_EQ(rig.Output(), rig.Image(3 * 512));
  // The preparation page goes out before anything is read.
  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].pageAddress, 0x20000u);
  EXPECT_EQ(writes[0].data, Bytes(512, 0xFF));
  EXPECT_EQ(rig.Reads().at(2).pageNumber, 3u);  // its lines and box: the upgrade transcripts
}

TEST_P(ExtractBoth, AReadFailureKeepsThePagesReadSoFar) {
  ExtractRig rig(GetParam(), 5);
  rig.AddFault(FaultKind::BadStatus, "UPT_READ_PAGE", 0x1002);
  EXPECT_FALSE(rig.Run());  // cancelled dialog: the previous path
  EXPECT_EQ(rig.Output(), rig.Image(1024));
  EXPECT_EQ(rig.Lines().back(), "Read FW Page Failed!!");
  ASSERT_EQ(rig.window.messages.size(), 1u);  // the device was changed all the same
}

TEST(Extract, NoImageReadsOnePageOverPassThroughAndNothingOverAspi) {
  ExtractRig passThrough(false, 0);
  EXPECT_TRUE(passThrough.Run());
  EXPECT_EQ(passThrough.Output().size(), 512u);
  EXPECT_EQ(passThrough.Reads().size(), 1u);
}

// Nothing is read and no file is written; only an output that cannot be opened has its box.
TEST(Extract, RefusalsReadNothing) {
  const std::pair<void (*)(ExtractRig&), const char*> cases[] = {
      {[](ExtractRig& r) { r.pages.bigImagePages = 0; }, "Error: To get FW size"},
      {[](ExtractRig& r) { r.AddFault(FaultKind::NotDelivered, "UPT_WRITE_PAGE", 0x20000); },
       "Write 0xff*512 Failed!!"},
      {[](ExtractRig& r) { r.process.extractOutputPath = r.dir + "/no/such/folder/out.bin"; },
       "The Output BIN file %s can't be opened."}};
  for (const auto& [setUp, line] : cases) {
    SCOPED_TRACE(line);
    ExtractRig rig(true);
    setUp(rig);
    EXPECT_FALSE(rig.Run());
    EXPECT_EQ(rig.Lines().back(), Format(line, rig.process.extractOutputPath.c_str()));
    EXPECT_TRUE(rig.Reads().empty());
    EXPECT_FALSE(FileExists(rig.process.extractOutputPath));
    EXPECT_EQ(rig.window.messages.size(), line[0] == 'T' ? 1u : 0u);
  }
}

// The small-block image goes to, and comes back from, the small-block region under its own name.
TEST(Extract, SmallBlockDeviceProgramsAndReadsTheSmallBlockRegion) {
  ExtractRig rig(false, 4);
  const Bytes small = MakeImage(2);
  rig.images.Replace(ImageSlot::SmallFirmware, small);
  rig.selections.smallFirmwarePath = "small.bin";
  rig.pages.smallImagePages = 2;
  rig.map.flashType = kFlashTypeSmallBlock;
  rig.map.fwSizeSmall = 0x10;
  rig.map.fwAddr1Small = 0x1001;
  ASSERT_TRUE(FlashProgrammer(*rig.context).ProgramImage(ImageKind::Firmware));
  const auto lines = rig.Lines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Loaded elapsed 0 seconds for FlashType:2 BIN:small.bin",
                                      "Written total of the BIN Page size = 0x0002"}));
  EXPECT_TRUE(rig.Run());
  EXPECT_EQ(rig.Output(), std::string(small.begin(), small.end()));
}

}  // namespace
}  // namespace romsetter::test
