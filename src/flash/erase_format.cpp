// Whole-region erase and the NAND format: the busy notice, the caption-flash timer and the
// failure lines of both transports.
#include "device/device_link.h"

namespace romsetter {

namespace {

struct EraseEntry {
  VendorCode command;  // its code is also the argument of EraseRegion
  const char* notice;
  const char* passThroughFailure;
  const char* aspiFailure;  // null: the ASPI transport has no line (and no notice) for it
};

constexpr EraseEntry kEraseTable[] = {
    {UPT_FW_ERASE_MEM, "The F/W of the flash ROM is being erased...", "UPT_FW_ERASE_MEM error!",
     "<FAIL> UPT_FW_ERASE_MEM"},
    {UPT_BOOT_ERASE_MEM, "The Boot of the flash ROM is being erased...",
     "UPT_BOOT_ERASE_MEM error!", "<FAIL> UPT_BOOT_ERASE_MEM"},
    {FONT_ERASE_FONT_BLKS, "The font of the flash ROM is being erased...",
     "FONT_ERASE_FONT_BLKS error!", "<FAIL> FONT_ERASE_FONT_BLKS"},
    {BACKUP_FW_ERASE_MEM, "The Backup FW of the flash ROM is being erased...",
     "BACKUP_FW_ERASE_MEM error!", nullptr},
};

const EraseEntry* FindErase(int code) {
  for (const EraseEntry& e : kEraseTable) {
    if (e.command == code) return &e;
  }
  return nullptr;
}

constexpr const char* kFormatNotice = "The NAND flash is being format...";

}  // namespace

bool DeviceLink::EraseRegion(int code) {
  const EraseEntry* entry = FindErase(code);
  if (entry == nullptr) {
    // Nothing is sent for a code the device does not know.
    if (aspi_ == nullptr) log_.Log("UnKnow ERASE command error!");
    return false;
  }
  const bool nor = selections_.norSelected;

  if (aspi_ == nullptr) {
    if (nor) {
      window_.StartTimer(kEraseTimerId, kEraseTimerPeriodMs);
      log_.Log(entry->notice);
      window_.ShowEraseNotice(entry->notice);
    }
    // The SCSI status of an erase is not consulted on this transport.
    const bool ok = SendErase(entry->command).delivered;
    if (!ok) log_.Log(entry->passThroughFailure);
    if (nor) {
      window_.HideEraseNotice();
      window_.Repaint();
      window_.StopTimer(kEraseTimerId);
    }
    return ok;
  }

  const bool announce = nor && entry->aspiFailure != nullptr;
  if (announce) {
    log_.Log(entry->notice);
    window_.ShowEraseNotice(entry->notice);
  }
  const ScsiResult result = SendErase(entry->command);
  // A wait that ran out has no line of its own.
  if (result.delivered && !result.statusGood && entry->aspiFailure != nullptr) log_.Log(entry->aspiFailure);
  if (nor) {
    window_.HideEraseNotice();
    window_.Repaint();
  }
  return result.delivered && result.statusGood;
}

bool DeviceLink::FormatDevice() {
  log_.Log(kFormatNotice);
  window_.ShowEraseNotice(kFormatNotice);
  const ScsiResult result = SendFormat();

  if (aspi_ == nullptr) {
    if (!result.delivered) {
      log_.LogSystemError(result.systemError);
      log_.Log("DEV_FORMAT_16 Failed!!");
    } else if (!result.statusGood) {
      log_.Log("DEV_FORMAT_16 Failed!!");
    }
    window_.HideEraseNotice();
    window_.Repaint();
    return result.delivered && result.statusGood;
  }

  if (!result.delivered) {
    log_.Log("DEV_FORMAT_16 Failed!!");
  } else if (!result.statusGood) {
    // The notice stays up until the next one is shown and hidden.
    log_.Log("<FAIL> DEV_FORMAT");
    return false;
  }
  window_.HideEraseNotice();
  window_.Repaint();
  return result.delivered;
}

}  // namespace romsetter
