#include "flash/boot_upgrade.h"

#include "flash/flash_programmer.h"
#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

struct BootRig : FlashRig {
  explicit BootRig(std::uint32_t pages = 5) : FlashRig(true, "boot_upgrade") { image = LoadBoot(pages); }
  bool Run() { return BootUpgrader(*context).UpgradeBootFromFile(); }
  Bytes image;
};

TEST(BootUpgrade, WritesTheFileAndSendsNoRestart) {
  BootRig rig;
  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.device.trace().front().command, "UPT_BOOT_ERASE_MEM");
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"Boot file Upgrading...",
                                                   "Loaded elapsed 0 seconds for F/W:" + rig.selections.bootPath,
                                                   "Written total of the Boot Page size = 0x0005"}));
  for (std::uint32_t k = 0; k < 5; ++k) EXPECT_EQ(rig.Flash(0x100 + k), PageOf(rig.image, k));
  EXPECT_EQ(rig.window.progress.back(), 100);
  EXPECT_TRUE(rig.device.TraceOf("UPT_FW_RESTART_SYS").empty());
}

TEST(BootUpgrade, ARewriteReusesThePageAndTheFileDoesNotMoveOn) {
  BootRig rig;
  rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", 0x101, 0, 9);
  ASSERT_TRUE(rig.Run());
  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_EQ(writes[1].data, PageOf(rig.image, 1));
  EXPECT_EQ(writes[2].data, PageOf(rig.image, 1));
  EXPECT_EQ(writes[2].pageAddress, 0x101u);
  EXPECT_EQ(writes[2].pageNumber, 2u);
  EXPECT_EQ(writes[3].data, PageOf(rig.image, 2));
  EXPECT_TRUE(InOrder(rig.Lines(), {"Mark 1 Error page.", "Written total of the Boot Page size = 0x0005"}));
  EXPECT_FALSE(FileExists(rig.paths.bootWriteDump));
}

TEST(BootUpgrade, DebugOptionDumpsTheFailingPageAndMarksNothing) {
  BootRig rig;
  rig.selections.debugWritePageError = true;
  rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", 0x102, 0, 9);
  EXPECT_FALSE(rig.Run());
  const Bytes written = PageOf(rig.image, 2);
  Bytes readBack = written;
  readBack[9] ^= 0xFF;
  const std::string dumpWritten = ReadFile(rig.paths.bootWriteDump);
  const std::string dumpRead = ReadFile(rig.paths.bootReadDump);
  EXPECT_EQ(Bytes(dumpWritten.begin(), dumpWritten.end()), written);
  EXPECT_EQ(Bytes(dumpRead.begin(), dumpRead.end()), readBack);
  EXPECT_TRUE(rig.Marks().empty());
  EXPECT_EQ(rig.Writes().size(), 3u);
  const auto lines = rig.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], Format("Error occurs at [9]: Src = 0x%02X, Err = 0x%02X",
                                            static_cast<unsigned>(readBack[9]), static_cast<unsigned>(written[9])));
  EXPECT_EQ(lines.back(), "Debug_Write_Page_Error");
}

// The file has changed since its check: fewer whole pages than counted.
class ShrunkBootFile : public ::testing::TestWithParam<std::size_t> {};
INSTANTIATE_TEST_SUITE_P(Flash, ShrunkBootFile, ::testing::Values(3 * 512, 3 * 512 + 100));

TEST_P(ShrunkBootFile, EndsAtTheFirstMissingPage) {
  BootRig rig;
  WriteFile(rig.selections.bootPath, std::string(rig.image.begin(), rig.image.begin() + GetParam()));
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.Writes().size(), 3u);
  EXPECT_EQ(rig.Lines().back(), "No data any more...");
}

TEST(BootUpgrade, MissingFileIsToldInABox) {
  BootRig rig;
  rig.selections.bootPath = rig.dir + "/gone.nor";
  EXPECT_FALSE(rig.Run());
  ASSERT_EQ(rig.window.messages.size(), 1u);
  EXPECT_EQ(rig.window.messages[0].text, "can't open Boot file");
  EXPECT_EQ(rig.window.messages[0].caption, "F/W Upgrade");
  EXPECT_EQ(rig.window.messages[0].icon, MessageIcon::Error);
  EXPECT_TRUE(rig.Writes().empty());
}

TEST(BootUpgrade, FailedEraseWritesNothing) {
  BootRig rig;
  rig.AddFault(FaultKind::BadStatus, "UPT_BOOT_ERASE_MEM", 0);
  rig.device.config().faults.back().anyPage = true;
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"<FAIL> UPT_BOOT_ERASE_MEM", "UPT_BOOT_ERASE_MEM Failed!!"}));
  EXPECT_TRUE(rig.Writes().empty());
}

TEST(BootUpgrade, RegionFullAndUnusableCountsStop) {
  {
    BootRig rig;
    rig.link->memoryMap.bootSize = 3;
    EXPECT_FALSE(rig.Run());
    EXPECT_EQ(rig.Writes().size(), 3u);
    EXPECT_EQ(rig.Lines().back(), "Device Memory is not enough.");
  }
  {
    BootRig rig;
    rig.link->memoryMap.bootSize = 0;
    EXPECT_FALSE(rig.Run());
    EXPECT_TRUE(rig.device.trace().empty());
    EXPECT_EQ(rig.Lines().back(), "Device Memory is not enough.");
  }
  {
    BootRig rig;
    rig.link->imagePages.bootImagePages = 0;
    EXPECT_FALSE(rig.Run());
    EXPECT_TRUE(rig.device.trace().empty());
    EXPECT_EQ(rig.Lines().back(), "Boot image has no pages to write.");
  }
}

}  // namespace
}  // namespace romsetter::test
