// Whole-region erase and the NAND format: the busy notice, the caption-flash timer and the
// failure lines of both transports.
#include "flash/page_engine.h"

namespace romsetter {

namespace {

struct EraseEntry {
  EraseCommand command;
  const char* notice;
  const char* passThroughFailure;
  const char* aspiFailure;  // null: the ASPI transport has no line (and no notice) for it
};

constexpr EraseEntry kEraseTable[] = {
    {EraseCommand::Firmware, "The F/W of the flash ROM is being erased...", "UPT_FW_ERASE_MEM error!",
     "<FAIL> UPT_FW_ERASE_MEM"},
    {EraseCommand::Boot, "The Boot of the flash ROM is being erased...",
     "UPT_BOOT_ERASE_MEM error!", "<FAIL> UPT_BOOT_ERASE_MEM"},
    {EraseCommand::Font, "The font of the flash ROM is being erased...",
     "FONT_ERASE_FONT_BLKS error!", "<FAIL> FONT_ERASE_FONT_BLKS"},
    {EraseCommand::Backup, "The Backup FW of the flash ROM is being erased...",
     "BACKUP_FW_ERASE_MEM error!", nullptr},
};

const EraseEntry& EntryOf(EraseCommand command) {
  for (const EraseEntry& e : kEraseTable) {
    if (e.command == command) return e;
  }
  return kEraseTable[0];
}

constexpr const char* kFormatNotice = "The NAND flash is being format...";

bool ErasePassThrough(FlashContext& ctx, const EraseEntry& entry) {
  const bool nor = ctx.selections.norSelected;
  if (nor) {
    ctx.progress.StartTimer(kEraseTimerId, kEraseTimerPeriodMs);
    ctx.log.Log(entry.notice);
    ctx.progress.ShowEraseNotice(entry.notice);
  }
  const bool ok = ctx.link.Erase(entry.command).ok;
  if (!ok) ctx.log.Log(entry.passThroughFailure);
  if (nor) {
    ctx.progress.HideEraseNotice();
    ctx.progress.Repaint();
    ctx.progress.StopTimer(kEraseTimerId);
  }
  return ok;
}

bool EraseAspi(FlashContext& ctx, const EraseEntry& entry) {
  const bool nor = ctx.selections.norSelected;
  const bool announce = nor && entry.aspiFailure != nullptr;
  if (announce) {
    ctx.log.Log(entry.notice);
    ctx.progress.ShowEraseNotice(entry.notice);
  }
  const CommandOutcome outcome = ctx.link.Erase(entry.command);
  // A wait that ran out has no line of its own.
  if (outcome.transport.delivered && !outcome.ok && entry.aspiFailure != nullptr) ctx.log.Log(entry.aspiFailure);
  if (nor) {
    ctx.progress.HideEraseNotice();
    ctx.progress.Repaint();
  }
  return outcome.ok;
}

bool FormatPassThrough(FlashContext& ctx, const CommandOutcome& outcome) {
  if (!outcome.transport.delivered) {
    ctx.log.LogSystemError(outcome.transport.systemError);
    ctx.log.Log("DEV_FORMAT_16 Failed!!");
  } else if (!outcome.ok) {
    ctx.log.Log("DEV_FORMAT_16 Failed!!");
  }
  ctx.progress.HideEraseNotice();
  ctx.progress.Repaint();
  return outcome.ok;
}

bool FormatAspi(FlashContext& ctx, const CommandOutcome& outcome) {
  if (!outcome.transport.delivered) {
    ctx.log.Log("DEV_FORMAT_16 Failed!!");
  } else if (!outcome.ok) {
    // The notice stays up until the next one is shown and hidden.
    ctx.log.Log("<FAIL> DEV_FORMAT");
    return false;
  }
  ctx.progress.HideEraseNotice();
  ctx.progress.Repaint();
  return outcome.ok;
}

}  // namespace

bool EraseRegion(FlashContext& ctx, EraseCommand command) {
  const EraseEntry& entry = EntryOf(command);
  return ctx.aspi() ? EraseAspi(ctx, entry) : ErasePassThrough(ctx, entry);
}

bool FormatDevice(FlashContext& ctx) {
  ctx.log.Log(kFormatNotice);
  ctx.progress.ShowEraseNotice(kFormatNotice);
  const CommandOutcome outcome = ctx.link.Format();
  return ctx.aspi() ? FormatAspi(ctx, outcome) : FormatPassThrough(ctx, outcome);
}

}  // namespace romsetter
