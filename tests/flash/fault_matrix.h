#pragma once
// Every image kind against every device fault at the first, a middle and the last page, on
// any transport (the drive maker gives one other than the emulated drive; tests/linux: SG_IO).
// The NOR firmware skips pages 1-2 (its gap), so its middle page is the first one after the gap.
#include <algorithm>
#include <tuple>

#include "flash/flash_programmer.h"
#include "flash/flash_rig.h"

namespace romsetter::test {
namespace fault_matrix {

constexpr std::uint32_t kPages = 6;
constexpr std::uint32_t kByte = 508;  // where a corrupted read-back differs

// The NOR firmware has a gap at pages 1-2.  Each family's lines are in the flash-copy-lines
// transcript; here what each fault does to the device, the result and the bar.
struct KindRow {
  const char* name;
  ImageKind image;
  std::uint32_t base;
  std::uint16_t gapStart = 0, gapLength = 0;
  bool InGap(std::uint32_t page) const { return page >= gapStart && page < gapStart + gapLength; }
};
inline const KindRow kKinds[] = {{"Firmware", ImageKind::Firmware, 0x1000},
                                 {"Backup1", ImageKind::Backup, 0x2000},
                                 {"Backup2", ImageKind::Backup, 0x3000},
                                 {"Boot", ImageKind::BootCode, 0x100},
                                 {"NorFirmware", ImageKind::Firmware, 0x1000, 1, 2}};

// The course of the faulty page as letters: W write failed, R read failed, m marked, M mark
// failed, d difference at kByte, e difference of a page that was never programmed, B the
// rewrite bound (kMaxPageRewrites times "dm", then "d" and b, the stop without a mark).  A
// course not ending in m stops the copy.
struct FaultRow {
  const char* name;
  FaultKind kind;
  const char* command;
  std::uint32_t occurrence;
  const char* course[2];
};
inline const FaultRow kFaults[] = {
    {"WriteNotDelivered", FaultKind::NotDelivered, "UPT_WRITE_PAGE", 1, {"W", "W"}},
    // Over pass-through a write's status is not consulted: its read-back catches the page.
    {"WriteBadStatus", FaultKind::BadStatus, "UPT_WRITE_PAGE", 1, {"em", "W"}},
    {"ReadTimeout", FaultKind::NoCompletion, "UPT_READ_PAGE", 1, {"R", "R"}},
    {"CorruptOnce", FaultKind::CorruptOnce, "UPT_READ_PAGE", 0, {"dm", "dm"}},
    {"BadPage", FaultKind::BadPage, "UPT_READ_PAGE", 0, {"B", "B"}},
    {"WriteChangesNothing", FaultKind::WriteIgnored, "UPT_WRITE_PAGE", 1, {"em", "em"}},
    {"MarkTimeout", FaultKind::NoCompletion, "UPT_MARK_ERROR_PAGE", 0, {"dM", "dM"}},  // after one difference
    {"MarkBadStatus", FaultKind::BadStatus, "UPT_MARK_ERROR_PAGE", 0, {"dm", "dm"}},  // a mark needs no good status
    {"Detach", FaultKind::Detach, "UPT_WRITE_PAGE", 1, {"W", "W"}},
};

constexpr int kKindCount = 5;
constexpr int kFaultCount = 9;

// Lines, result, and nothing written after a stop.
inline void CheckCase(bool aspi, int kindIndex, int faultIndex, std::uint32_t page, const DriveMaker& makeDrive = nullptr) {
  const KindRow& kind = kKinds[kindIndex];
  const FaultRow& fault = kFaults[faultIndex];
  FlashRig rig(aspi, "fault_matrix", makeDrive);
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

  std::string course = fault.course[aspi];
  if (course == "B") {
    course.clear();
    for (int i = 0; i < kMaxPageRewrites; ++i) course += "dm";
    course += "db";
  }
  const bool stops = course.back() != 'm';
  // The commands the faulty page receives, up to the stop or the rewrite that verifies.
  std::vector<std::string> commands;
  for (char step : course) {
    if (std::string("WRde").find(step) != std::string::npos) commands.push_back("UPT_WRITE_PAGE");
    if (std::string("Rde").find(step) != std::string::npos) commands.push_back("UPT_READ_PAGE");
    if (step == 'm' || step == 'M') commands.push_back("UPT_MARK_ERROR_PAGE");
  }
  if (!stops) commands.insert(commands.end(), {"UPT_WRITE_PAGE", "UPT_READ_PAGE"});
  // Over ASPI a failed Backup_1 does not keep Backup_2 from running; a detached device fails it too.
  const bool secondCopyRuns = aspi && kindIndex == 1 && stops;
  const bool detached = fault.kind == FaultKind::Detach;
  const auto lines = rig.Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Error occurs at [", 0) == 0; }),
            std::count_if(course.begin(), course.end(), [](char step) { return step == 'd' || step == 'e'; }));
  // A backup with a failed copy is not reported as written, although ASPI writes the other.
  EXPECT_EQ(result, !stops);

  // Every write of the faulty page is the same data with the same page number.
  for (const TraceEntry& w : rig.Writes()) {
    if (w.pageAddress != address) continue;
    EXPECT_EQ(w.pageNumber, page + 1);
    EXPECT_EQ(w.data, PageOf(image, page));
  }
  const auto& trace = rig.device.trace();
  std::vector<std::string> atPage;
  auto stop = trace.end();
  for (auto it = trace.begin(); it != trace.end(); ++it) {
    if (it->pageAddress != address) continue;
    atPage.push_back(it->command);
    if (atPage.size() == commands.size()) stop = it;
  }
  EXPECT_EQ(atPage, commands);

  // The bar moves once per verified page, never on a rewrite: {16, 33, 50, 66, 83, 100} for a
  // whole copy.  A backup shows Backup_1's pages, then Backup_2's.
  std::vector<int> progress;
  const auto copy = [&](std::uint32_t upTo) {
    for (std::uint32_t k = 0; k < upTo; ++k) {
      if (!kind.InGap(k)) progress.push_back(static_cast<int>((k + 1) * 100 / kPages));
    }
  };
  if (kindIndex == 2) copy(kPages);
  copy(stops ? page : kPages);
  if (kindIndex == 1 && (!stops || (secondCopyRuns && !detached))) copy(kPages);
  EXPECT_EQ(rig.window.progress, progress);
  if (!stops) {
    for (std::uint32_t k = 0; k < kPages; ++k) {
      EXPECT_EQ(rig.Flash(kind.base + k), kind.InGap(k) ? Bytes(512, 0xFF) : PageOf(image, k)) << k;
    }
    EXPECT_TRUE(rig.Lines().back().find("Page size = 0x0006") != std::string::npos) << rig.Lines().back();
    return;
  }
  // Nothing follows the stop, but over ASPI the second backup copy after a failed first one:
  // all of it, or its first write on a detached device.
  ASSERT_NE(stop, trace.end());
  const std::size_t after = secondCopyRuns ? (detached ? 1 : 2 * kPages) : 0;
  EXPECT_EQ(static_cast<std::size_t>(trace.end() - stop - 1), after);
  for (auto it = stop + 1; it != trace.end(); ++it) EXPECT_GE(it->pageAddress, kKinds[2].base) << it->command;
}

}  // namespace fault_matrix
}  // namespace romsetter::test
