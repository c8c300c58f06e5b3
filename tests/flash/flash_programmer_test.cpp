#include "flash/flash_programmer.h"

#include <algorithm>

#include "flash/flash_rig.h"
#include "support/data_rows.h"

namespace romsetter::test {
namespace {

class ProgramBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, ProgramBoth, ::testing::Values(false, true), TransportName);

bool Program(FlashRig& rig, ImageKind kind) { return FlashProgrammer(*rig.context).ProgramImage(kind); }
std::uint32_t Number(const std::string& field) { return static_cast<std::uint32_t>(std::stoul(field, nullptr, 0)); }

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
  for (const auto& row : DataRows("flash/data/unusable_inputs.txt", 6)) {
    const std::string& line = row.at(5);
    SCOPED_TRACE(line);
    FlashRig rig(false);
    rig.LoadFirmware(4, static_cast<std::uint16_t>(Number(row.at(2))), Number(row.at(3)));
    rig.images.Replace(ImageSlot::BigFirmware, MakeImage(Number(row.at(1))));
    rig.pages.bigImagePages = Number(row.at(0));
    EXPECT_FALSE(Program(rig, ImageKind::Firmware));
    EXPECT_EQ(rig.device.trace().size(), 2 * Number(row.at(4)));
    EXPECT_EQ(rig.Writes().size(), Number(row.at(4)));
    EXPECT_EQ(rig.Lines().back(), line);
  }
}

// NOR firmware: pages from the gap's start on are skipped with their page numbers, and the
// region check counts |offset - gapLength|, so a gap lets the copy run past the region's size
// and a long gap never reached still shortens it.  The lines' wording is in the transcripts.
TEST_P(ProgramBoth, NorGapSkipsPagesAndDiscountsTheRegion) {
  for (const auto& row : DataRows("flash/data/nor_gaps.txt", 9)) {
    const std::string& total = row.at(8);
    SCOPED_TRACE(testing::PrintToString(row));
    FlashRig rig(GetParam());
    const Bytes image = rig.LoadFirmware(Number(row.at(1)), static_cast<std::uint16_t>(Number(row.at(4))));
    rig.selections.norSelected = Number(row.at(0)) != 0;
    rig.map.fwGapStart = static_cast<std::uint16_t>(Number(row.at(2)));
    rig.map.fwGapLength = rig.device.config().gapLength = static_cast<std::uint16_t>(Number(row.at(3)));
    EXPECT_EQ(Program(rig, ImageKind::Firmware), total != "-");
    const auto writes = rig.Writes();
    ASSERT_EQ(writes.size(), Number(row.at(7)));
    std::uint32_t k = 0;
    for (const TraceEntry& w : writes) {
      if (k == Number(row.at(5))) k = Number(row.at(6));
      EXPECT_EQ(w.pageAddress, 0x1000 + k);
      EXPECT_EQ(w.pageNumber, k + 1);
      EXPECT_EQ(w.data, PageOf(image, k));
      ++k;
    }
    const std::string last = rig.Lines().back();
    EXPECT_EQ(last.substr(last.size() - 6), total != "-" ? total : "nough.") << last;
  }
}

}  // namespace
}  // namespace romsetter::test
