// Whole-region erase and the NAND format: the busy notice, the caption-flash timer and the
// failure lines, as the transport family's rules have them.
#include "flash/flash_rules.h"
#include "flash/page_engine.h"

namespace romsetter {

namespace {

const char* NoticeOf(EraseCommand command) {
  switch (command) {
    case EraseCommand::Firmware: return "The F/W of the flash ROM is being erased...";
    case EraseCommand::Boot: return "The Boot of the flash ROM is being erased...";
    case EraseCommand::Font: return "The font of the flash ROM is being erased...";
    case EraseCommand::Backup: return "The Backup FW of the flash ROM is being erased...";
  }
  return "";
}

constexpr const char* kFormatNotice = "The NAND flash is being format...";

}  // namespace

bool EraseRegion(FlashContext& ctx, EraseCommand command) {
  const FlashRules& rules = ctx.rules();
  const char* failure = EraseFailureLine(rules, command);
  const bool nor = ctx.selections.norSelected;
  const bool timer = nor && rules.eraseFlashesCaption;
  if (timer) ctx.progress.FlashCaptionPeriodically(true);
  if (nor && failure != nullptr) {
    ctx.log.Log(NoticeOf(command));
    ctx.progress.ShowEraseNotice(NoticeOf(command));
  }
  const CommandOutcome outcome = ctx.link.Erase(command);
  if (!outcome.ok && failure != nullptr && (outcome.transport.delivered || !rules.eraseTimeOutIsSilent)) {
    ctx.log.Log(failure);
  }
  if (nor) {
    ctx.progress.HideEraseNotice();
    ctx.progress.Repaint();
  }
  if (timer) ctx.progress.FlashCaptionPeriodically(false);
  return outcome.ok;
}

bool FormatDevice(FlashContext& ctx) {
  const FlashRules& rules = ctx.rules();
  ctx.log.Log(kFormatNotice);
  ctx.progress.ShowEraseNotice(kFormatNotice);
  const CommandOutcome outcome = ctx.link.Format();
  if (!outcome.transport.delivered) {
    if (rules.formatLogsSystemError) ctx.log.LogSystemError(outcome.transport.systemError);
    ctx.log.Log("DEV_FORMAT_16 Failed!!");
  } else if (!outcome.ok) {
    ctx.log.Log(rules.formatRefusedLine);
    if (rules.formatRefusalKeepsNotice) return false;
  }
  ctx.progress.HideEraseNotice();
  ctx.progress.Repaint();
  return outcome.ok;
}

}  // namespace romsetter
