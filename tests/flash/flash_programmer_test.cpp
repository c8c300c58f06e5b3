#include "flash/flash_programmer.h"

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

class ProgramBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, ProgramBoth, ::testing::Values(false, true), TransportName);

// A clock whose every reading is a few seconds after the last.
struct SteppingClock : FakeClock {
  std::uint32_t NowSeconds() override { return now += 7; }
};

TEST_P(ProgramBoth, EveryPageIsWrittenReadAndLandsInOrder) {
  const bool aspi = GetParam();
  FlashRig rig(aspi);
  const Bytes image = rig.LoadFirmware(64);
  SteppingClock clock;
  FlashContext context{*rig.link, rig.images, clock, rig.process, rig.paths};
  FlashProgrammer programmer(context);

  ASSERT_TRUE(programmer.ProgramImage(kImageFirmware));

  const auto writes = rig.Writes();
  const auto reads = rig.Reads();
  ASSERT_EQ(writes.size(), 64u);
  ASSERT_EQ(reads.size(), 64u);
  for (std::uint32_t k = 0; k < 64; ++k) {
    EXPECT_EQ(writes[k].pageAddress, 0x1000 + k);
    EXPECT_EQ(writes[k].pageNumber, k + 1);
    EXPECT_EQ(reads[k].pageAddress, 0x1000 + k);
    EXPECT_EQ(rig.Flash(0x1000 + k), PageOf(image, k));
  }
  EXPECT_TRUE(rig.Marks().empty());
  EXPECT_EQ(rig.window.progress.back(), 100);
  EXPECT_EQ(rig.window.progress.size(), 64u);
  if (aspi) {
    EXPECT_EQ(rig.device.trace().front().command, "UPT_FW_ERASE_MEM");
    EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"F/W Upgrading...",
                                                     "Loaded elapsed 7 seconds for FlashType:1 F/W:big.bin",
                                                     "Written total of the F/W Page size = 0x0040"}));
  } else {
    EXPECT_EQ(rig.device.trace().front().command, "UPT_WRITE_PAGE");  // the caller erases
    EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"F/W Upgrading, Please Wait...",
                                                     "Loaded elapsed 7 seconds for FlashType:1 BIN:big.bin",
                                                     "Written total of the BIN Page size = 0x0040"}));
  }
}

TEST_P(ProgramBoth, ShortReadBackNeverPassesForVerified) {
  FlashRig rig(GetParam());
  rig.LoadFirmware(2);
  rig.device.config().replyLimit = 100;
  FlashProgrammer programmer(*rig.context);
  EXPECT_FALSE(programmer.ProgramImage(kImageFirmware));
  EXPECT_EQ(rig.Marks().size(), static_cast<std::size_t>(kMaxPageRewrites));
  EXPECT_TRUE(InOrder(rig.Lines(), {"Error occurs at [100]: Src = 0x9B, Err = 0x64"}));
}

TEST_P(ProgramBoth, BackupWritesTwoCopiesEachCountedFromOne) {
  const bool aspi = GetParam();
  FlashRig rig(aspi);
  const Bytes image = rig.LoadFirmware(3);
  FlashProgrammer programmer(*rig.context);

  ASSERT_TRUE(programmer.ProgramImage(kImageBackup));

  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 6u);
  for (std::uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(writes[k].pageAddress, 0x2000 + k);
    EXPECT_EQ(writes[k + 3].pageAddress, 0x3000 + k);
    EXPECT_EQ(writes[k].pageNumber, k + 1);
    EXPECT_EQ(writes[k + 3].pageNumber, k + 1);
    EXPECT_EQ(rig.Flash(0x3000 + k), PageOf(image, k));
  }
  const std::string elapsed = aspi ? "Loaded elapsed 0 seconds for FlashType:1 F/W:big.bin"
                                   : "Loaded elapsed 0 seconds for FlashType:1 BIN:big.bin";
  const std::string total = aspi ? "Written total of the F/W Page size = 0x0003" : "Written total of the BIN Page size = 0x0003";
  std::vector<std::string> expected{"Backup_1 F/W Upgrading, Please Wait...", elapsed, total,
                                    "Backup_2 F/W Upgrading, Please Wait...", elapsed, total};
  if (aspi) {
    expected.insert(expected.begin(), "F/W Upgrading...");
    EXPECT_EQ(rig.device.trace().front().command, "BACKUP_FW_ERASE_MEM");
  }
  EXPECT_EQ(rig.Lines(), expected);
}

TEST_P(ProgramBoth, SmallBlockDeviceTakesTheSmallImageRegionAndName) {
  FlashRig rig(GetParam());
  rig.LoadFirmware(4);
  const Bytes small = MakeImage(2);
  rig.images.Replace(ImageSlot::SmallFirmware, small);
  rig.link->imagePages.smallImagePages = 2;
  rig.link->memoryMap.flashType = kFlashTypeSmallBlock;
  rig.link->memoryMap.fwSizeSmall = 0x10;
  rig.link->memoryMap.fwAddr1Small = 0x1000;
  rig.selections.smallFirmwarePath = "small.bin";
  FlashProgrammer programmer(*rig.context);

  ASSERT_TRUE(programmer.ProgramImage(kImageFirmware));
  EXPECT_EQ(rig.Writes().size(), 2u);
  EXPECT_TRUE(InOrder(rig.Lines(), {GetParam() ? "Loaded elapsed 0 seconds for FlashType:2 F/W:small.bin"
                                               : "Loaded elapsed 0 seconds for FlashType:2 BIN:small.bin"}));
}

TEST_P(ProgramBoth, AnImageLargerThanItsRegionStopsWhenTheRegionIsFull) {
  const bool aspi = GetParam();
  FlashRig rig(aspi);
  rig.LoadFirmware(10, 4);
  FlashProgrammer programmer(*rig.context);
  EXPECT_FALSE(programmer.ProgramImage(kImageFirmware));
  EXPECT_EQ(rig.Writes().size(), 4u);
  EXPECT_EQ(rig.Lines().back(), aspi ? "(FW) Device Memory is not enough." : "(F/W) Device Memory is not enough.");
}

// Region size, page count, image length and addresses that cannot be written are refused
// before anything reaches the device.
struct Refusal {
  const char* name;
  std::uint32_t pages;
  std::size_t imagePages;
  std::uint16_t region;
  std::uint32_t addr;
  const char* line;
};

class Refused : public ::testing::TestWithParam<Refusal> {};
INSTANTIATE_TEST_SUITE_P(
    Flash, Refused,
    ::testing::Values(Refusal{"NoPages", 0, 0, 0x100, 0x1000, "F/W image has no pages to write."},
                      Refusal{"ShortSlot", 4, 3, 0x100, 0x1000, "F/W image holds 1536 bytes, less than its 4 pages."},
                      Refusal{"TooManyPages", 0x10000, 1, 0x100, 0x1000,
                              "F/W image has 65536 pages, more than page numbers can count."},
                      Refusal{"EmptyRegion", 4, 4, 0, 0x1000, "(F/W) Device Memory is not enough."},
                      Refusal{"AddressWraps", 4, 4, 0x100, 0xFFFFFFFE,
                              "(F/W) Page addresses from 0xFFFFFFFE for 4 pages pass 0xFFFFFFFF."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Refused, NothingIsSent) {
  const Refusal& r = GetParam();
  FlashRig rig(false);
  rig.LoadFirmware(4, r.region, r.addr);
  rig.images.Replace(ImageSlot::BigFirmware, MakeImage(static_cast<std::uint32_t>(r.imagePages)));
  rig.link->imagePages.bigImagePages = r.pages;
  FlashProgrammer programmer(*rig.context);
  EXPECT_FALSE(programmer.ProgramImage(kImageFirmware));
  EXPECT_TRUE(rig.device.trace().empty());
  EXPECT_EQ(rig.Lines().back(), r.line);
}

TEST(FlashProgrammer, AspiEraseFailureEndsBeforeTheStartLine) {
  FlashRig rig(true);
  rig.LoadFirmware(2);
  rig.AddFault(FaultKind::BadStatus, "BACKUP_FW_ERASE_MEM", 0);
  rig.device.config().faults.back().anyPage = true;
  FlashProgrammer programmer(*rig.context);
  EXPECT_FALSE(programmer.ProgramImage(kImageBackup));
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"Erase FW Block Failed!!"}));
  EXPECT_TRUE(rig.Writes().empty());
}

// NOR firmware: pages from the gap's start on are skipped, and the page numbers jump with them.
struct GapCase {
  const char* name;
  bool nor;
  std::uint16_t gapStart, gapLength;
  std::uint32_t skipFrom, skipTo;  // image pages never written
  const char* total;
};

class NorGap : public ::testing::TestWithParam<GapCase> {};
INSTANTIATE_TEST_SUITE_P(Flash, NorGap,
                         ::testing::Values(GapCase{"Skipped", true, 8, 4, 8, 12, "0x0014"},
                                           GapCase{"StartAtZeroNeverReached", true, 0, 4, 0, 0, "0x0014"},
                                           GapCase{"NoLength", true, 8, 0, 0, 0, "0x0014"},
                                           GapCase{"StartAtPageCount", true, 20, 4, 0, 0, "0x0018"},
                                           GapCase{"NandIgnoresIt", false, 8, 4, 0, 0, "0x0014"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(NorGap, PagesAndNumbersFollowTheGap) {
  const GapCase& c = GetParam();
  FlashRig rig(false);
  const Bytes image = rig.LoadFirmware(20, 0x20);
  rig.selections.norSelected = c.nor;
  rig.link->memoryMap.fwGapStart = c.gapStart;
  rig.link->memoryMap.fwGapLength = c.gapLength;
  ASSERT_TRUE(FlashProgrammer(*rig.context).ProgramImage(kImageFirmware));

  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 20 - (c.skipTo - c.skipFrom));
  std::uint32_t k = 0;
  for (const TraceEntry& w : writes) {
    if (k == c.skipFrom) k = c.skipTo;
    EXPECT_EQ(w.pageAddress, 0x1000 + k);
    EXPECT_EQ(w.pageNumber, k + 1);
    EXPECT_EQ(w.data, PageOf(image, k));
    ++k;
  }
  EXPECT_EQ(rig.Lines().back(), std::string("Written total of the BIN Page size = ") + c.total);
}

}  // namespace
}  // namespace romsetter::test
