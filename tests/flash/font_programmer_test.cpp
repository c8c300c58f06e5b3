#include "flash/font_programmer.h"

#include <algorithm>
#include <tuple>

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

constexpr std::uint16_t kRegion = 16;  // M
constexpr std::uint32_t kFont1 = 0x4000, kFont2 = 0x5000, kFlag1 = kFont1 + kRegion - 1;
constexpr std::uint32_t kPages = 6;  // N

struct FontRig : FlashRig {
  explicit FontRig(bool aspi) : FlashRig(aspi, "font") {
    clock.step = 1;
    selections.fontListPath = "D:\\lists\\big5.tab";
    map.fontSize = kRegion;
    map.fontAddr1 = kFont1;
    map.fontAddr2 = kFont2;
    device.config().font = {kRegion, kFont1, kFont2};
    SetFont(kPages);
    // What the flag page holds before: its first 508 bytes must survive the stamp.
    flag.fill(0xFF);
    for (std::size_t i = 0; i < 508; ++i) flag[i] = static_cast<std::uint8_t>(0x80 | (i % 61));
    device.WriteFlash(kFlag1, flag);
  }
  void SetFont(std::uint32_t pages) {
    images.Replace(ImageSlot::FontData, MakeImage(pages));
    this->pages.fontImagePages = pages;
  }
  bool Run() {
    programmer.PrepareStart(true);
    return programmer.ProgramFont();
  }
  std::vector<TraceEntry> WritesFrom(std::uint32_t base) const {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : device.TraceOf("FONT_WRITE_PAGE")) {
      if (e.pageAddress >= base && e.pageAddress < base + kRegion) out.push_back(e);
    }
    return out;
  }
  // Pages 0..N-1 at base..base+N-1 with page numbers 1..N, then the flag at base + M - 1.
  void ExpectFontAt(std::uint32_t base) const {
    const auto writes = WritesFrom(base);
    ASSERT_EQ(writes.size(), kPages + 1);
    for (std::uint32_t k = 0; k < kPages; ++k) {
      EXPECT_EQ(writes[k].pageAddress, base + k);
      EXPECT_EQ(writes[k].pageNumber, k + 1);
      EXPECT_EQ(writes[k].data, PageOf(MakeImage(kPages), k));
    }
    EXPECT_EQ(writes[kPages].pageAddress, base + kRegion - 1);
    EXPECT_EQ(writes[kPages].pageNumber, kRegion);
  }

  EmulatedDevice::Page flag;
  FontProgrammer programmer{*context};
};

class FontBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, FontBoth, ::testing::Values(false, true), TransportName);

// The lines of a whole font (and a package's "FontData" in them) are in the transcripts.
TEST_P(FontBoth, WritesEveryPageAtFont1ThenTheFlag) {
  const bool aspi = GetParam();
  FontRig rig(aspi);
  ASSERT_TRUE(rig.Run());
  rig.ExpectFontAt(kFont1);
  auto expectedFlag = rig.flag;  // over ASPI the erase has cleared it
  if (aspi) expectedFlag.fill(0xFF);
  std::copy_n("AAZZ", 4, expectedFlag.end() - 4);
  EXPECT_EQ(rig.device.ReadFlash(kFlag1), expectedFlag);
  // Over ASPI the programmer erases and the job ends the update; over pass-through the other way round.
  EXPECT_EQ(rig.device.TraceOf("FONT_ERASE_FONT_BLKS").size(), aspi ? 1u : 0u);
  EXPECT_EQ(rig.device.trace().back().command, aspi ? "FONT_READ_PAGE" : "FONT_END_OF_UPDATE");
}

TEST_P(FontBoth, DifferenceOnPage5MovesTheWholeFontToFont2) {
  const bool aspi = GetParam();
  FontRig rig(aspi);
  rig.AddFault(FaultKind::CorruptOnce, "FONT_READ_PAGE", kFont1 + 5, 0, 3);
  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.WritesFrom(kFont1).size(), 6u);  // pages 0-5, no flag
  rig.ExpectFontAt(kFont2);
  EXPECT_EQ(rig.window.progress, (std::vector<int>{16, 33, 50, 66, 83, 16, 33, 50, 66, 83, 100}));
  EXPECT_EQ(rig.device.TraceOf("FONT_ERASE_FONT_BLKS").size(), aspi ? 1u : 0u);  // Font_2 not erased again
}

// A failed flag page step gives no fall-back; over pass-through the elapsed and total lines
// and the font end still follow, over ASPI nothing does.  The flag page is read into a page
// buffer of 0xFF, so a failed first read leaves nothing else there.
TEST_P(FontBoth, FlagFailuresEndTheRunWithTheirLine) {
  const bool aspi = GetParam();
  // The fault, the commands the flag page gets (the lines are in the flash-font-lines transcript).
  const std::tuple<FaultKind, const char*, std::uint32_t, std::size_t> cases[] = {
      {FaultKind::NotDelivered, "FONT_READ_PAGE", 1, 1},
      {FaultKind::NotDelivered, "FONT_WRITE_PAGE", 1, 2},
      {FaultKind::NotDelivered, "FONT_READ_PAGE", 2, 3},
      {FaultKind::WriteIgnored, "FONT_WRITE_PAGE", 1, 3}};
  for (const auto& [kind, command, occurrence, flagCommands] : cases) {
    SCOPED_TRACE(testing::Message() << command << " " << occurrence);
    FontRig rig(aspi);
    rig.AddFault(kind, command, kFlag1, occurrence);
    EXPECT_FALSE(rig.Run());

    const auto& trace = rig.device.trace();
    std::size_t atFlag = 0;
    for (const TraceEntry& e : trace) atFlag += e.pageAddress == kFlag1;
    EXPECT_EQ(atFlag, flagCommands);
    const auto last =
        std::find_if(trace.rbegin(), trace.rend(), [](const TraceEntry& e) { return e.pageAddress == kFlag1; });
    std::vector<std::string> after;
    for (auto it = last.base(); it != trace.end(); ++it) after.push_back(it->command);
    EXPECT_EQ(after, aspi ? std::vector<std::string>{} : std::vector<std::string>{"FONT_END_OF_UPDATE"});
    EXPECT_TRUE(rig.WritesFrom(kFont2).empty());

    // What the device returned of the flag page (over ASPI the erase cleared it), stamped.
    EmulatedDevice::Page buffer = rig.flag;
    if (aspi || (occurrence == 1 && std::string(command) == "FONT_READ_PAGE")) buffer.fill(0xFF);
    if (flagCommands > 1) std::copy_n("AAZZ", 4, buffer.end() - 4);
    EXPECT_EQ(rig.programmer.page(), buffer);
  }
}

// A page write or read failing over pass-through (or a failed font end) sends the whole font to
// Font_2, and over ASPI stops at once: the flash-font-lines transcript.
TEST_P(FontBoth, UnusableFontDataIsRefusedBeforeAnyCommand) {
  const std::pair<void (*)(FontRig&), const char*> cases[] = {
      {[](FontRig& r) { r.SetFont(kRegion); }, "Font file Size is larger then device memory."},
      {[](FontRig& r) { r.map.fontSize = 0; }, "The device reports no font region (FontSize=0x0000)."},
      {[](FontRig& r) { r.pages.fontImagePages = kPages + 1; },
       "Font data holds 3072 bytes, less than its 7 pages."}};
  for (const auto& [setUp, line] : cases) {
    SCOPED_TRACE(line);
    FontRig rig(GetParam());
    setUp(rig);
    EXPECT_FALSE(rig.Run());
    EXPECT_EQ(rig.Lines(), std::vector<std::string>{line});
    EXPECT_TRUE(rig.device.trace().empty());
  }
}

}  // namespace
}  // namespace romsetter::test
