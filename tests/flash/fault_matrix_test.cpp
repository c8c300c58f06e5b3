// Every image kind on both transports against every device fault, at the first, a middle
// and the last page: the lines, the result, and that nothing of the copy is written after
// it stopped.
#include <tuple>

#include "flash/flash_programmer.h"
#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

constexpr std::uint32_t kPages = 6;
constexpr std::uint32_t kByte = 508;  // where a corrupted read-back differs

enum Kind { Firmware, Backup1, Backup2, Boot };
enum Fault { WriteNotDelivered, WriteBadStatus, ReadBadStatus, ReadTimeout, CorruptOnce, BadPage, WriteChangesNothing,
             MarkTimeout, Detach };
const char* const kKindNames[] = {"Firmware", "Backup1", "Backup2", "Boot"};
const char* const kFaultNames[] = {"WriteNotDelivered", "WriteBadStatus", "ReadBadStatus", "ReadTimeout", "CorruptOnce",
                                   "BadPage", "WriteChangesNothing", "MarkTimeout", "Detach"};
const std::uint32_t kBases[] = {0x1000, 0x2000, 0x3000, 0x100};

// Write failed, read failed, marked, mark failed; [aspi][kind].  Over ASPI the boot code
// comes from its file.
const char* const kLines[2][4][4] = {
    {{"F/W WritePage failure!!", "F/W ReadPage failure!!", "F/W Mark 1 Error page.", "F/W Fail to Mark 1 Error page."},
     {"Backup_1 WritePage failure!!", "Backup_1 ReadPage failure!!", "BACKUP_1 Mark 1 Error page.",
      "BACKUP_1 Fail to Mark 1 Error page."},
     {"Backup_2 WritePage failure!!", "Backup_2 ReadPage failure!!", "BACKUP_2 Mark 1 Error page.",
      "BACKUP_2 Fail to Mark 1 Error page."},
     {"BootCode WritePage failure!!", "BootCode ReadPage failure!!", "BootCode Mark 1 Error page.",
      "BootCode Fail to Mark 1 Error page."}},
    {{"Written FW Page Failed!!", "Read FW Page Failed!!", "(FW) Mark 1 Error page.", "(FW) Fail to Mark Error Page."},
     {"Written Backup_1 Page Failed!!", "Read Backup_1 Page Failed!!", "(Backup_1) Mark 1 Error page.",
      "(Backup_1) Fail to Mark Error Page."},
     {"Written Backup_2 Page Failed!!", "Read Backup_2 Page Failed!!", "(Backup_2) Mark 1 Error page.",
      "(Backup_2) Fail to Mark Error Page."},
     {"Written Boot Page Failed!!", "Read Boot Page Failed!!", "Mark 1 Error page.", "Fail to Mark Error Page."}}};

// The expected course of the faulty page, as letters: W write failed, R read failed,
// d difference at kByte, e difference of a page that was never programmed, m marked,
// M mark failed.  Upper-case first letter of a course that stops the copy: see Stops().
std::string CourseOf(Fault fault, bool aspi) {
  switch (fault) {
    case WriteNotDelivered: return "W";
    // Over pass-through a write's SCSI status is not consulted: the page that did not take
    // is caught by its read-back instead.
    case WriteBadStatus: return aspi ? "W" : "em";
    case ReadBadStatus:
    case ReadTimeout: return "R";
    case CorruptOnce: return "dm";
    case BadPage: {
      std::string c;
      for (int i = 0; i < kMaxPageRewrites; ++i) c += "dm";
      return c + "dM";
    }
    case WriteChangesNothing: return "em";
    case MarkTimeout: return "dM";
    case Detach: return "W";
  }
  return "";
}
bool Stops(const std::string& course) { return course.back() != 'm'; }

void Inject(FlashRig& rig, Fault fault, std::uint32_t address) {
  switch (fault) {
    case WriteNotDelivered: return rig.AddFault(FaultKind::NotDelivered, "UPT_WRITE_PAGE", address, 1);
    case WriteBadStatus: return rig.AddFault(FaultKind::BadStatus, "UPT_WRITE_PAGE", address, 1);
    case ReadBadStatus: return rig.AddFault(FaultKind::BadStatus, "UPT_READ_PAGE", address, 1);
    case ReadTimeout: return rig.AddFault(FaultKind::NoCompletion, "UPT_READ_PAGE", address, 1);
    case CorruptOnce: return rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", address, 0, kByte);
    case BadPage: return rig.AddFault(FaultKind::BadPage, "UPT_READ_PAGE", address, 0, kByte);
    case WriteChangesNothing: return rig.AddFault(FaultKind::WriteIgnored, "UPT_WRITE_PAGE", address, 1);
    case MarkTimeout:
      rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", address, 0, kByte);
      return rig.AddFault(FaultKind::NoCompletion, "UPT_MARK_ERROR_PAGE", address);
    case Detach: return rig.AddFault(FaultKind::Detach, "UPT_WRITE_PAGE", address, 1);
  }
}

bool IsFrameLine(const std::string& l) {
  for (const char* end : {"Upgrading...", "Please Wait..."}) {
    const std::string e(end);
    if (l.size() >= e.size() && l.compare(l.size() - e.size(), e.size(), e) == 0) return true;
  }
  return l.rfind("Loaded elapsed", 0) == 0 || l.rfind("Written total", 0) == 0;
}

using Case = std::tuple<bool, Kind, Fault, std::uint32_t>;
class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrix, LinesResultAndNothingWrittenAfterAStop) {
  const auto [aspi, kind, fault, page] = GetParam();
  FlashRig rig(aspi, "fault_matrix");
  const Bytes image = rig.LoadFirmware(kPages);
  rig.LoadBoot(kPages);
  const std::uint32_t base = kBases[kind];
  const std::uint32_t address = base + page;
  Inject(rig, fault, address);

  FlashProgrammer programmer(*rig.context);
  const bool result =
      programmer.ProgramImage(kind == Boot ? kImageBootCode : kind == Firmware ? kImageFirmware : kImageBackup);

  const std::string course = CourseOf(fault, aspi);
  const auto& names = kLines[aspi][kind];
  const std::uint8_t b = ImageByte(page, kByte);
  std::vector<std::string> expected;
  for (char step : course) {
    switch (step) {
      case 'W': expected.push_back(names[0]); break;
      case 'R': expected.push_back(names[1]); break;
      case 'm': expected.push_back(names[2]); break;
      case 'M': expected.push_back(names[3]); break;
      case 'd': expected.push_back(Format("Error occurs at [508]: Src = 0x%02X, Err = 0x%02X", b ^ 0xFFu, b)); break;
      case 'e': expected.push_back(Format("Error occurs at [0]: Src = 0xFF, Err = 0x%02X", ImageByte(page, 0))); break;
    }
  }
  // Over ASPI a failed Backup_1 does not keep Backup_2 from running; a detached device fails it too.
  const bool secondCopyRuns = aspi && kind == Backup1 && Stops(course);
  if (secondCopyRuns && fault == Detach) expected.push_back("Written Backup_2 Page Failed!!");
  std::vector<std::string> lines;
  for (const std::string& l : rig.Lines()) {
    if (!IsFrameLine(l)) lines.push_back(l);
  }
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(result, !Stops(course) || (secondCopyRuns && fault != Detach));

  // Every write of the faulty page is the same data with the same page number.
  for (const TraceEntry& w : rig.Writes()) {
    if (w.pageAddress != address) continue;
    EXPECT_EQ(w.pageNumber, page + 1);
    EXPECT_EQ(w.data, PageOf(image, page));
  }
  const auto& trace = rig.device.trace();
  if (!Stops(course)) {
    for (std::uint32_t k = 0; k < kPages; ++k) EXPECT_EQ(rig.Flash(base + k), PageOf(image, k)) << k;
    const std::string total = rig.Lines().back();
    EXPECT_EQ(total.substr(total.size() - 18), "Page size = 0x0006") << total;
    return;
  }
  std::size_t stop = 0;
  for (std::size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].pageAddress == address) stop = i;
  }
  for (std::size_t i = stop + 1; i < trace.size(); ++i) {
    EXPECT_TRUE(secondCopyRuns) << "command after the stop: " << trace[i].command;
    EXPECT_FALSE(trace[i].pageAddress >= base && trace[i].pageAddress < base + kPages) << trace[i].command;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Flash, FaultMatrix,
    ::testing::Combine(::testing::Bool(), ::testing::Values(Firmware, Backup1, Backup2, Boot),
                       ::testing::Values(WriteNotDelivered, WriteBadStatus, ReadBadStatus, ReadTimeout, CorruptOnce,
                                         BadPage, WriteChangesNothing, MarkTimeout, Detach),
                       ::testing::Values(0u, kPages / 2, kPages - 1)),
    [](const ::testing::TestParamInfo<Case>& info) {
      const Case& c = info.param;
      return std::string(std::get<0>(c) ? "Aspi_" : "PassThrough_") + kKindNames[std::get<1>(c)] + "_" +
             kFaultNames[std::get<2>(c)] + "_Page" + std::to_string(std::get<3>(c));
    });

}  // namespace
}  // namespace romsetter::test
