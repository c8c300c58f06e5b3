#include "flash/flash_programmer.h"

#include <cstring>
#include <string>

#include "flash/boot_upgrade.h"

namespace romsetter {

namespace {

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

bool FlashProgrammer::PlanCopies(ImageKind kind, std::vector<CopyPlan>& plans) {
  LogSink& log = ctx_.log;
  const FlashRules& rules = ctx_.rules();
  const MemoryMap& map = ctx_.map;
  const Selections& selections = ctx_.selections;
  plans.clear();

  if (kind == ImageKind::BootCode) {
    const std::vector<std::uint8_t>& image = ctx_.images.Slot(ImageSlot::BootCode);
    const std::uint32_t pages = ctx_.pages.bootImagePages;
    if (!ImageHoldsPages(log, "BootCode", image, pages)) return false;
    plans.push_back({*rules.boot, map.bootAddr1, map.bootSize, pages, image.data(), 0, 0, selections.bootPath});
  } else {
    const bool small = map.SmallBlock();
    const std::vector<std::uint8_t>& image =
        ctx_.images.Slot(small ? ImageSlot::SmallFirmware : ImageSlot::BigFirmware);
    const std::uint32_t pages = ctx_.pages.FirmwarePages(small);
    const std::string& fileName = small ? selections.smallFirmwarePath : selections.bigFirmwarePath;
    if (kind == ImageKind::Backup) {
      if (!ImageHoldsPages(log, "Backup", image, pages)) return false;
      for (int copy = 0; copy < 2; ++copy) {
        plans.push_back({rules.backup[copy], copy == 0 ? map.backupAddr1 : map.backupAddr2, map.FirmwareSize(), pages,
                         image.data(), 0, 0, fileName});
      }
    } else {
      if (!ImageHoldsPages(log, "F/W", image, pages)) return false;
      // Only the firmware region of a NOR device has a stretch that is not written.
      const bool gap = selections.norSelected;
      plans.push_back({rules.firmware, map.FirmwareAddr1(), map.FirmwareSize(), pages, image.data(),
                       gap ? map.fwGapLength : std::uint16_t{0}, gap ? map.fwGapStart : std::uint16_t{0}, fileName});
    }
  }
  for (const CopyPlan& plan : plans) {
    if (plan.regionSize == 0) {
      log.Log(plan.lines.memory);
      return false;
    }
    if (!PageAddressesFit(log, plan.lines.label, plan.base, plan.pageCount)) return false;
  }
  return true;
}

bool FlashProgrammer::ReadyToProgram(ImageKind kind) {
  if (kind == ImageKind::Font || (kind == ImageKind::BootCode && ctx_.rules().boot == nullptr)) return true;
  std::vector<CopyPlan> plans;
  return PlanCopies(kind, plans);
}

bool FlashProgrammer::ProgramImage(ImageKind kind) {
  LogSink& log = ctx_.log;
  const FlashRules& rules = ctx_.rules();

  if (kind == ImageKind::BootCode && rules.boot == nullptr) return BootUpgrader(ctx_).UpgradeBootFromFile();
  if (kind == ImageKind::Font) {
    log.Log("No page engine for image kind 2.");
    return false;
  }
  // Everything that could stop a copy is known before its region is erased.
  std::vector<CopyPlan> plans;
  if (!PlanCopies(kind, plans)) return false;
  if (kind == ImageKind::BootCode) {
    log.Log("BootCode Upgrading, Please Wait...");
    return CopyImage(plans[0]);
  }

  const bool backup = kind == ImageKind::Backup;
  if (rules.programmersErase) {
    if (!EraseRegion(ctx_, backup ? EraseCommand::Backup : EraseCommand::Firmware)) {
      log.Log("Erase FW Block Failed!!");
      return false;
    }
    log.Log(rules.afterOwnEraseLine);
  }

  if (!backup) {
    if (rules.firmwareStartLine != nullptr) log.Log(rules.firmwareStartLine);
    return CopyImage(plans[0]);
  }

  bool ok = true;
  for (int copy = 0; copy < 2; ++copy) {
    log.Log(kBackupStart[copy]);
    const bool copied = CopyImage(plans[copy]);
    // Where the next copy still runs, a backup that is missing a copy is not reported as written.
    if (!copied && rules.failedBackupCopyEndsBackup) return false;
    ok = ok && copied;
  }
  return ok;
}

bool FlashProgrammer::CopyImage(const CopyPlan& plan) {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  cursor_.Reset();
  const std::uint32_t started = ctx_.clock.NowSeconds();

  int rewrites = 0;
  for (;;) {
    const std::uint32_t address = plan.base + cursor_.pageOffset;
    std::memcpy(page_.data(), plan.image + std::size_t{cursor_.pageOffset} * kPageSize, kPageSize);
    if (!link.WritePage(address, cursor_.pageNumber, PageArea::Firmware, page_)) {
      log.Log(plan.lines.writeFailed);
      return false;
    }
    ctx_.progress.OnPage(ProgressObserver::PageEvent::Written);
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
      ctx_.progress.OnPage(ProgressObserver::PageEvent::Remapped);
      ++rewrites;
      continue;  // same data, same address, same page number
    }
    rewrites = 0;
    PageVerified(ctx_, plan.lines.name, cursor_.pageNumber, plan.pageCount);
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
  const char* word = ctx_.rules().imageWord;
  log.Logf("Loaded elapsed %d seconds for FlashType:%d %s:%s", seconds, flashType, word, plan.fileName.c_str());
  log.Logf("Written total of the %s Page size = 0x%04X", word, total);
  return true;
}

}  // namespace romsetter
