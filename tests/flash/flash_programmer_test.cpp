#include "flash/flash_programmer.h"

#include <algorithm>
#include <tuple>

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

class ProgramBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, ProgramBoth, ::testing::Values(false, true), TransportName);

bool Program(FlashRig& rig, ImageKind kind) { return FlashProgrammer(*rig.context).ProgramImage(kind); }

TEST_P(ProgramBoth, ShortReadBackNeverPassesForVerified) {
  FlashRig rig(GetParam());
  rig.LoadFirmware(2);
  rig.device.config().replyLimit = 100;
  EXPECT_FALSE(Program(rig, ImageKind::Firmware));
  EXPECT_EQ(rig.Marks().size(), static_cast<std::size_t>(kMaxPageRewrites));
  const auto lines = rig.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Error occurs at [100]: Src = 0x9B, Err = 0x64"), lines.end());
}

// Each copy takes its own start time: a clock read once for both would give Backup_2 10
// seconds.  Where each copy lands is in the fault matrix, the lines in the transcripts.
TEST_P(ProgramBoth, BackupCopiesAreEachTimedFromTheirOwnStart) {
  FlashRig rig(GetParam());
  rig.clock.step = 5;
  rig.LoadFirmware(3);
  ASSERT_TRUE(Program(rig, ImageKind::Backup));
  const auto lines = rig.Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Loaded elapsed 5 seconds", 0) == 0; }),
            2);
  EXPECT_EQ(rig.device.trace().front().command, GetParam() ? "BACKUP_FW_ERASE_MEM" : "UPT_WRITE_PAGE");
}

// Counts, image lengths, regions and addresses that cannot be written are refused before
// anything reaches the device; an image larger than its region stops when the region is full.
TEST(FlashProgrammer, UnusableInputIsRefused) {
  // Pages counted, pages in the image, region size, first address, pages written, last line.
  const std::tuple<std::uint32_t, std::uint32_t, std::uint16_t, std::uint32_t, std::size_t, const char*> cases[] = {
      {0, 0, 0x100, 0x1000, 0, "F/W image has no pages to write."},
      {4, 3, 0x100, 0x1000, 0, "F/W image holds 1536 bytes, less than its 4 pages."},
      {0x10000, 1, 0x100, 0x1000, 0, "F/W image has 65536 pages, more than page numbers can count."},
      {4, 4, 0, 0x1000, 0, "(F/W) Device Memory is not enough."},
      {4, 4, 0x100, 0xFFFFFFFE, 0, "(F/W) Page addresses from 0xFFFFFFFE for 4 pages pass 0xFFFFFFFF."},
      {10, 10, 4, 0x1000, 4, "(F/W) Device Memory is not enough."}};
  for (const auto& [pages, imagePages, region, addr, writes, line] : cases) {
    SCOPED_TRACE(line);
    FlashRig rig(false);
    rig.LoadFirmware(4, region, addr);
    rig.images.Replace(ImageSlot::BigFirmware, MakeImage(imagePages));
    rig.pages.bigImagePages = pages;
    EXPECT_FALSE(Program(rig, ImageKind::Firmware));
    EXPECT_EQ(rig.device.trace().size(), 2 * writes);
    EXPECT_EQ(rig.Writes().size(), writes);
    EXPECT_EQ(rig.Lines().back(), line);
  }
}

// NOR firmware: pages from the gap's start on are skipped with their page numbers, and the
// region check counts |offset - gapLength|, so a gap lets the copy run past the region's size
// and a long gap never reached still shortens it.  The lines' wording is in the transcripts.
TEST_P(ProgramBoth, NorGapSkipsPagesAndDiscountsTheRegion) {
  // NOR, image pages, gap start and length, region, image pages [from, to) never written,
  // pages written, the total when it completes.
  const std::tuple<bool, std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
                   std::size_t, const char*>
      cases[] = {{true, 20, 8, 4, 0x20, 8, 12, 16, "0x0014"},
                 {true, 20, 0, 4, 0x20, 0, 0, 20, "0x0014"},   // a start of 0 is never reached
                 {true, 20, 8, 0, 0x20, 0, 0, 20, "0x0014"},   // no length
                 {true, 20, 20, 4, 0x20, 0, 0, 20, "0x0018"},  // at the page count: only the count jumps
                 {false, 20, 8, 4, 0x20, 0, 0, 20, "0x0014"},  // NAND has no gap
                 {true, 20, 8, 4, 16, 8, 12, 16, "0x0014"},    // not discounted: stops after 12 pages
                 {true, 20, 8, 4, 15, 8, 12, 15, nullptr},     // not discounted: stops after 11 pages
                 {true, 6, 8, 12, 8, 0, 0, 1, nullptr},        // |1 - 12| >= 8; not discounted: completes
                 {true, 24, 8, 12, 12, 8, 20, 12, "0x0018"}};  // not discounted: stops after 8 pages
  for (const auto& [nor, pages, gapStart, gapLength, region, skipFrom, skipTo, written, total] : cases) {
    SCOPED_TRACE(testing::Message() << nor << " " << pages << " pages, gap " << gapStart << "+" << gapLength
                                    << " in " << region);
    FlashRig rig(GetParam());
    const Bytes image = rig.LoadFirmware(pages, region);
    rig.selections.norSelected = nor;
    rig.map.fwGapStart = gapStart;
    rig.map.fwGapLength = rig.device.config().gapLength = gapLength;
    EXPECT_EQ(Program(rig, ImageKind::Firmware), total != nullptr);
    const auto writes = rig.Writes();
    ASSERT_EQ(writes.size(), written);
    std::uint32_t k = 0;
    for (const TraceEntry& w : writes) {
      if (k == skipFrom) k = skipTo;
      EXPECT_EQ(w.pageAddress, 0x1000 + k);
      EXPECT_EQ(w.pageNumber, k + 1);
      EXPECT_EQ(w.data, PageOf(image, k));
      ++k;
    }
    const std::string last = rig.Lines().back();
    EXPECT_EQ(last.substr(last.size() - 6), total != nullptr ? total : "nough.") << last;
  }
}

}  // namespace
}  // namespace romsetter::test
