// Every image kind on both transports against every device fault at the first, a middle and the
// last page.  What each case does is kept as data, one line a case (flash/data/fault_matrix.txt;
// ROMSETTER_REWRITE_TRANSCRIPTS=1 rewrites it); each family's lines are in the flash-copy-lines
// transcript.
#include "flash/flash_programmer.h"

#include <cstdlib>

#include "base/format.h"
#include "flash/flash_rig.h"
#include "support/data_rows.h"

namespace romsetter::test {
namespace {

constexpr std::uint32_t kPages = 6;
constexpr std::uint32_t kByte = 508;  // where a corrupted read-back differs

// The NOR firmware skips pages 1-2 (its gap), so its middle page is the first one after the gap.
const struct KindRow {
  const char* name;
  ImageKind image;
  std::uint32_t base;
  std::uint16_t gapStart = 0, gapLength = 0;
} kKinds[] = {{"Firmware", ImageKind::Firmware, 0x1000},
              {"Backup1", ImageKind::Backup, 0x2000},
              {"Backup2", ImageKind::Backup, 0x3000},
              {"Boot", ImageKind::BootCode, 0x100},
              {"NorFirmware", ImageKind::Firmware, 0x1000, 1, 2}};

// A fault of the mark comes after one difference of the read-back.
const struct FaultRow {
  const char* name;
  FaultKind kind;
  const char* command;
  std::uint32_t occurrence;
} kFaults[] = {{"WriteNotDelivered", FaultKind::NotDelivered, "UPT_WRITE_PAGE", 1},
               {"WriteBadStatus", FaultKind::BadStatus, "UPT_WRITE_PAGE", 1},
               {"ReadTimeout", FaultKind::NoCompletion, "UPT_READ_PAGE", 1},
               {"CorruptOnce", FaultKind::CorruptOnce, "UPT_READ_PAGE", 0},
               {"BadPage", FaultKind::BadPage, "UPT_READ_PAGE", 0},
               {"WriteChangesNothing", FaultKind::WriteIgnored, "UPT_WRITE_PAGE", 1},
               {"MarkTimeout", FaultKind::NoCompletion, "UPT_MARK_ERROR_PAGE", 0},
               {"MarkBadStatus", FaultKind::BadStatus, "UPT_MARK_ERROR_PAGE", 0},
               {"Detach", FaultKind::Detach, "UPT_WRITE_PAGE", 1}};

// One case as its line: the result, the "Error occurs" lines, what the faulty page received
// (Write, Read, Mark), the bar, and how many commands came after the faulty page's last one.
std::string CaseLine(bool aspi, const KindRow& kind, const FaultRow& fault, std::uint32_t page) {
  FlashRig rig(aspi, "fault_matrix");
  const Bytes image = rig.LoadFirmware(kPages);
  rig.LoadBoot(kPages);
  rig.selections.norSelected = kind.gapLength != 0;
  rig.map.fwGapStart = kind.gapStart;
  rig.map.fwGapLength = rig.device.config().gapLength = kind.gapLength;
  const std::uint32_t address = kind.base + page;
  if (std::string(fault.command) == "UPT_MARK_ERROR_PAGE") {
    rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", address, 0, kByte);
  }
  rig.AddFault(fault.kind, fault.command, address, fault.occurrence, kByte);
  const bool result = FlashProgrammer(*rig.context).ProgramImage(kind.image);

  // Every write of the faulty page is the same data with the same page number.
  for (const TraceEntry& w : rig.Writes()) {
    if (w.pageAddress != address) continue;
    EXPECT_EQ(w.pageNumber, page + 1);
    EXPECT_EQ(w.data, PageOf(image, page));
  }
  const auto lines = rig.Lines();
  if (result) {
    for (std::uint32_t k = 0; k < kPages; ++k) {
      const bool inGap = k >= kind.gapStart && k < kind.gapStart + kind.gapLength;
      EXPECT_EQ(rig.Flash(kind.base + k), inGap ? Bytes(512, 0xFF) : PageOf(image, k)) << k;
    }
    EXPECT_NE(lines.back().find("Page size = 0x0006"), std::string::npos) << lines.back();
  }
  const auto errors = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("Error occurs at [", 0) == 0;
  });
  std::string line = Format("%s_%s_%s_Page%u %s %d ", aspi ? "Aspi" : "PassThrough", kind.name, fault.name,
                            static_cast<unsigned>(page), result ? "written" : "failed", static_cast<int>(errors));
  std::size_t after = 0;
  for (const TraceEntry& e : rig.device.trace()) {
    ++after;
    if (e.pageAddress != address) continue;
    line += e.command.substr(4, 1);  // UPT_WRITE_PAGE, UPT_READ_PAGE, UPT_MARK_ERROR_PAGE
    after = 0;
  }
  // Nothing follows a stop but, over ASPI, the second backup copy after a failed first one.
  for (std::size_t k = rig.device.trace().size() - after; !result && k < rig.device.trace().size(); ++k) {
    EXPECT_GE(rig.device.trace()[k].pageAddress, kKinds[2].base) << rig.device.trace()[k].command;
  }
  std::string bar = rig.window.progress.empty() ? "-" : "";
  for (int percent : rig.window.progress) bar += Format(bar.empty() ? "%d" : ",%d", percent);
  return line + " " + bar + Format(" %u", static_cast<unsigned>(after));
}

TEST(FaultMatrix, EveryCaseAsKept) {
  std::vector<std::string> got;
  for (bool aspi : {false, true}) {
    for (const KindRow& kind : kKinds) {
      for (const FaultRow& fault : kFaults) {
        for (std::uint32_t page : {0u, kPages / 2, kPages - 1}) got.push_back(CaseLine(aspi, kind, fault, page));
      }
    }
  }
  const std::string path = ROMSETTER_SOURCE_DIR "/tests/flash/data/fault_matrix.txt";
  const char* rewrite = std::getenv("ROMSETTER_REWRITE_TRANSCRIPTS");
  if (rewrite && *rewrite == '1') {
    std::string text;
    for (const std::string& line : ReadLines(path)) text += line.rfind('#', 0) == 0 ? line + "\n" : "";
    for (const std::string& line : got) text += line + "\n";
    WriteFile(path, text);
  }
  const auto kept = DataLines("flash/data/fault_matrix.txt");
  ASSERT_EQ(got.size(), kept.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], kept[i]);
}

}  // namespace
}  // namespace romsetter::test
