#include "flash/flash_rules.h"

#include <cstdlib>

namespace romsetter {

namespace {

constexpr CopyLines kPassBoot{"BootCode",
                              "BootCode",
                              "BootCode WritePage failure!!",
                              "BootCode ReadPage failure!!",
                              "BootCode Mark 1 Error page.",
                              "BootCode Fail to Mark 1 Error page.",
                              "(BootCode) Device Memory is not enough."};

constexpr FlashRules kPassThrough{
    {{EraseCommand::Firmware, "UPT_FW_ERASE_MEM error!"},
     {EraseCommand::Boot, "UPT_BOOT_ERASE_MEM error!"},
     {EraseCommand::Font, "FONT_ERASE_FONT_BLKS error!"},
     {EraseCommand::Backup, "BACKUP_FW_ERASE_MEM error!"}},
    /*eraseFlashesCaption=*/true,
    /*eraseTimeOutIsSilent=*/false,
    /*formatLogsSystemError=*/true,
    /*formatRefusedLine=*/"DEV_FORMAT_16 Failed!!",
    /*formatRefusalKeepsNotice=*/false,
    /*programmersErase=*/false,
    /*afterOwnEraseLine=*/nullptr,
    /*firmwareStartLine=*/"F/W Upgrading, Please Wait...",
    /*boot=*/&kPassBoot,
    /*firmware=*/
    {"F/W", "F/W", "F/W WritePage failure!!", "F/W ReadPage failure!!", "F/W Mark 1 Error page.",
     "F/W Fail to Mark 1 Error page.", "(F/W) Device Memory is not enough."},
    /*backup=*/
    {{"Backup_1", "Backup_1", "Backup_1 WritePage failure!!", "Backup_1 ReadPage failure!!", "BACKUP_1 Mark 1 Error page.",
      "BACKUP_1 Fail to Mark 1 Error page.", "(Backup_1) Device Memory is not enough."},
     {"Backup_2", "Backup_2", "Backup_2 WritePage failure!!", "Backup_2 ReadPage failure!!", "BACKUP_2 Mark 1 Error page.",
      "BACKUP_2 Fail to Mark 1 Error page.", "(Backup_2) Device Memory is not enough."}},
    /*failedBackupCopyEndsBackup=*/true,
    /*imageWord=*/"BIN",
    /*fontPageFailureMovesOn=*/true,
    /*fontWriterEndsUpdate=*/true,
    /*extractQueriesFirmware=*/false,
};

constexpr FlashRules kAspi{
    {{EraseCommand::Firmware, "<FAIL> UPT_FW_ERASE_MEM"},
     {EraseCommand::Boot, "<FAIL> UPT_BOOT_ERASE_MEM"},
     {EraseCommand::Font, "<FAIL> FONT_ERASE_FONT_BLKS"},
     {EraseCommand::Backup, nullptr}},
    /*eraseFlashesCaption=*/false,
    /*eraseTimeOutIsSilent=*/true,
    /*formatLogsSystemError=*/false,
    /*formatRefusedLine=*/"<FAIL> DEV_FORMAT",
    /*formatRefusalKeepsNotice=*/true,
    /*programmersErase=*/true,
    /*afterOwnEraseLine=*/"F/W Upgrading...",
    /*firmwareStartLine=*/nullptr,
    /*boot=*/nullptr,
    /*firmware=*/
    {"F/W", "FW", "Written FW Page Failed!!", "Read FW Page Failed!!", "(FW) Mark 1 Error page.",
     "(FW) Fail to Mark Error Page.", "(FW) Device Memory is not enough."},
    /*backup=*/
    {{"Backup_1", "Backup_1", "Written Backup_1 Page Failed!!", "Read Backup_1 Page Failed!!", "(Backup_1) Mark 1 Error page.",
      "(Backup_1) Fail to Mark Error Page.", "(Backup_1) Device Memory is not enough."},
     {"Backup_2", "Backup_2", "Written Backup_2 Page Failed!!", "Read Backup_2 Page Failed!!", "(Backup_2) Mark 1 Error page.",
      "(Backup_2) Fail to Mark Error Page.", "(Backup_2) Device Memory is not enough."}},
    /*failedBackupCopyEndsBackup=*/false,
    /*imageWord=*/"F/W",
    /*fontPageFailureMovesOn=*/false,
    /*fontWriterEndsUpdate=*/false,
    /*extractQueriesFirmware=*/true,
};

}  // namespace

// No default: a family without its table does not compile.
const FlashRules& FlashRulesOf(TransportFamily family) {
  switch (family) {
    case TransportFamily::PassThrough: return kPassThrough;
    case TransportFamily::Aspi: return kAspi;
  }
  std::abort();
}

const char* EraseFailureLine(const FlashRules& rules, EraseCommand command) {
  for (const EraseFailure& e : rules.eraseFailures) {
    if (e.command == command) return e.line;
  }
  return nullptr;
}

}  // namespace romsetter
