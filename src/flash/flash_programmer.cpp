#include "flash/flash_programmer.h"

#include <cstring>
#include <string>

#include "flash/boot_upgrade.h"

namespace romsetter {

namespace {

// The lines one copy logs on its own; each transport and copy has its own wording.
struct CopyLines {
  const char* label;  // names the copy in the lines this program adds
  const char* writeFailed;
  const char* readFailed;
  const char* marked;
  const char* markFailed;
  const char* memory;
};

constexpr CopyLines kPassFirmware{"F/W",
                                  "F/W WritePage failure!!",
                                  "F/W ReadPage failure!!",
                                  "F/W Mark 1 Error page.",
                                  "F/W Fail to Mark 1 Error page.",
                                  "(F/W) Device Memory is not enough."};
constexpr CopyLines kPassBoot{"BootCode",
                              "BootCode WritePage failure!!",
                              "BootCode ReadPage failure!!",
                              "BootCode Mark 1 Error page.",
                              "BootCode Fail to Mark 1 Error page.",
                              "(BootCode) Device Memory is not enough."};
constexpr CopyLines kPassBackup[2] = {{"Backup_1", "Backup_1 WritePage failure!!", "Backup_1 ReadPage failure!!",
                                       "BACKUP_1 Mark 1 Error page.", "BACKUP_1 Fail to Mark 1 Error page.",
                                       "(Backup_1) Device Memory is not enough."},
                                      {"Backup_2", "Backup_2 WritePage failure!!", "Backup_2 ReadPage failure!!",
                                       "BACKUP_2 Mark 1 Error page.", "BACKUP_2 Fail to Mark 1 Error page.",
                                       "(Backup_2) Device Memory is not enough."}};
constexpr CopyLines kAspiFirmware{"FW",
                                  "Written FW Page Failed!!",
                                  "Read FW Page Failed!!",
                                  "(FW) Mark 1 Error page.",
                                  "(FW) Fail to Mark Error Page.",
                                  "(FW) Device Memory is not enough."};
constexpr CopyLines kAspiBackup[2] = {{"Backup_1", "Written Backup_1 Page Failed!!", "Read Backup_1 Page Failed!!",
                                       "(Backup_1) Mark 1 Error page.", "(Backup_1) Fail to Mark Error Page.",
                                       "(Backup_1) Device Memory is not enough."},
                                      {"Backup_2", "Written Backup_2 Page Failed!!", "Read Backup_2 Page Failed!!",
                                       "(Backup_2) Mark 1 Error page.", "(Backup_2) Fail to Mark Error Page.",
                                       "(Backup_2) Device Memory is not enough."}};

constexpr const char* kBackupStart[2] = {"Backup_1 F/W Upgrading, Please Wait...",
                                         "Backup_2 F/W Upgrading, Please Wait..."};

// The image in memory must hold every page its count promises.
bool ImageHoldsPages(LogSink& log, const char* label, const std::vector<std::uint8_t>& image,
                     std::uint32_t pages) {
  if (!PageCountUsable(log, label, pages)) return false;
  if (image.size() / kPageSize < pages) {
    log.Logf("%s image holds %zu bytes, less than its %u pages.", label, image.size(), static_cast<unsigned>(pages));
    return false;
  }
  return true;
}

}  // namespace

struct FlashProgrammer::CopyPlan {
  const CopyLines& lines;
  std::uint32_t base;
  std::uint16_t regionSize;
  std::uint32_t pageCount;
  const std::uint8_t* image;
  std::uint16_t gapLength;
  std::uint16_t gapStart;
  const std::string& fileName;
};

bool PageCountUsable(LogSink& log, const char* label, std::uint32_t pages) {
  if (pages == 0) {
    log.Logf("%s image has no pages to write.", label);
    return false;
  }
  if (pages > kPageNumberLimit) {
    log.Logf("%s image has %u pages, more than page numbers can count.", label, static_cast<unsigned>(pages));
    return false;
  }
  return true;
}

bool PageAddressesFit(LogSink& log, const char* label, std::uint32_t base, std::uint32_t pages) {
  if (pages == 0 || std::uint64_t{base} + pages - 1 <= 0xFFFFFFFFu) return true;
  log.Logf("(%s) Page addresses from 0x%08X for %u pages pass 0xFFFFFFFF.", label, static_cast<unsigned>(base),
           static_cast<unsigned>(pages));
  return false;
}

void PoisonReadBack(const PageBuffer& written, PageBuffer& readBack) {
  for (std::size_t i = 0; i < kPageSize; ++i) readBack[i] = static_cast<std::uint8_t>(~written[i]);
}

bool FlashProgrammer::ProgramImage(ImageKind kind) {
  LogSink& log = ctx_.log;
  const bool aspi = ctx_.aspi();
  const MemoryMap& map = ctx_.map;
  const Selections& selections = ctx_.selections;

  if (kind == ImageKind::BootCode) {
    if (aspi) return BootUpgrader(ctx_).UpgradeBootFromFile();
    const std::vector<std::uint8_t>& image = ctx_.images.Slot(ImageSlot::BootCode);
    const std::uint32_t pages = ctx_.pages.bootImagePages;
    if (!ImageHoldsPages(log, "BootCode", image, pages)) return false;
    log.Log("BootCode Upgrading, Please Wait...");
    return CopyImage({kPassBoot, map.bootAddr1, map.bootSize, pages, image.data(), 0, 0, selections.bootPath});
  }
  if (kind == ImageKind::Font) {
    log.Log("No page engine for image kind 2.");
    return false;
  }

  const bool small = map.SmallBlock();
  const std::vector<std::uint8_t>& image = ctx_.images.Slot(small ? ImageSlot::SmallFirmware : ImageSlot::BigFirmware);
  const std::uint32_t pages = ctx_.pages.FirmwarePages(small);
  const std::string& fileName = small ? selections.smallFirmwarePath : selections.bigFirmwarePath;
  const bool backup = kind == ImageKind::Backup;
  if (!ImageHoldsPages(log, backup ? "Backup" : "F/W", image, pages)) return false;

  if (aspi) {
    if (!EraseRegion(ctx_, backup ? EraseCommand::Backup : EraseCommand::Firmware)) {
      log.Log("Erase FW Block Failed!!");
      return false;
    }
    log.Log("F/W Upgrading...");
  }

  if (!backup) {
    if (!aspi) log.Log("F/W Upgrading, Please Wait...");
    // Only the firmware region of a NOR device has a stretch that is not written.
    const bool gap = selections.norSelected;
    return CopyImage({aspi ? kAspiFirmware : kPassFirmware, map.FirmwareAddr1(), map.FirmwareSize(), pages,
                      image.data(), gap ? map.fwGapLength : std::uint16_t{0}, gap ? map.fwGapStart : std::uint16_t{0},
                      fileName});
  }

  const std::uint32_t bases[2] = {map.backupAddr1, map.backupAddr2};
  bool ok = true;
  for (int copy = 0; copy < 2; ++copy) {
    log.Log(kBackupStart[copy]);
    const bool copied = CopyImage({aspi ? kAspiBackup[copy] : kPassBackup[copy], bases[copy], map.FirmwareSize(),
                                   pages, image.data(), 0, 0, fileName});
    // Over pass-through a failed copy ends the operation; over ASPI the next copy still runs,
    // but a backup that is missing a copy is not reported as written.
    if (!copied && !aspi) return false;
    ok = ok && copied;
  }
  return ok;
}

bool FlashProgrammer::CopyImage(const CopyPlan& plan) {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  cursor_.Reset();
  const std::uint32_t started = ctx_.clock.NowSeconds();

  if (plan.regionSize == 0) {
    log.Log(plan.lines.memory);
    return false;
  }
  if (!PageAddressesFit(log, plan.lines.label, plan.base, plan.pageCount)) return false;

  int rewrites = 0;
  for (;;) {
    const std::uint32_t address = plan.base + cursor_.pageOffset;
    std::memcpy(page_.data(), plan.image + std::size_t{cursor_.pageOffset} * kPageSize, kPageSize);
    if (!link.WritePage(address, cursor_.pageNumber, PageArea::Firmware, page_)) {
      log.Log(plan.lines.writeFailed);
      return false;
    }
    PoisonReadBack(page_, readBack_);
    if (!link.ReadPage(address, cursor_.pageNumber, PageArea::Firmware, readBack_)) {
      log.Log(plan.lines.readFailed);
      return false;
    }
    if (ComparePages(log, readBack_.data(), page_.data(), kPageSize) != 0) {
      if (rewrites == kMaxPageRewrites || !link.MarkErrorPage(address)) {
        log.Log(plan.lines.markFailed);
        return false;
      }
      log.Log(plan.lines.marked);
      ++rewrites;
      continue;  // same data, same address, same page number
    }
    rewrites = 0;
    ctx_.progress.SetProgress(ProgressPosition(cursor_.pageNumber, plan.pageCount));
    ++cursor_.pageNumber;
    ++cursor_.pageOffset;
    if (plan.gapLength + plan.gapStart != 0 && cursor_.pageOffset == plan.gapStart) {
      cursor_.pageOffset += plan.gapLength;
      cursor_.pageNumber = static_cast<std::uint16_t>(cursor_.pageNumber + plan.gapLength);
    }
    // pageNumber is always pageOffset + 1; testing the 32-bit offset keeps a page number
    // that wrapped past 0xFFFF from reopening the loop.
    if (cursor_.pageOffset >= plan.pageCount) break;
    const std::int64_t used = std::int64_t{cursor_.pageOffset} - plan.gapLength;
    if ((used < 0 ? -used : used) >= plan.regionSize) {
      log.Log(plan.lines.memory);
      return false;
    }
  }

  const int seconds = static_cast<int>(ctx_.clock.NowSeconds() - started);
  const int flashType = ctx_.map.flashType;
  const unsigned total = cursor_.pageOffset;
  if (ctx_.aspi()) {
    log.Logf("Loaded elapsed %d seconds for FlashType:%d F/W:%s", seconds, flashType, plan.fileName.c_str());
    log.Logf("Written total of the F/W Page size = 0x%04X", total);
  } else {
    log.Logf("Loaded elapsed %d seconds for FlashType:%d BIN:%s", seconds, flashType, plan.fileName.c_str());
    log.Logf("Written total of the BIN Page size = 0x%04X", total);
  }
  return true;
}

}  // namespace romsetter
