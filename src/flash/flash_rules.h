#pragma once
// What the page loops do differently over the two transport families: who erases, which
// failures end a copy, and the wording of every line that differs.  One table per family
// (flash_rules.cpp); the loops themselves have no family branches.
#include "device/scsi_transport.h"
#include "device/vendor_commands.h"

namespace romsetter {

// The lines one copy logs on its own.
struct CopyLines {
  const char* name;   // the copy as progress reports name it, the same on both families
  const char* label;  // names the copy in the lines this program adds
  const char* writeFailed;
  const char* readFailed;
  const char* marked;
  const char* markFailed;
  const char* memory;
};

struct EraseFailure {
  EraseCommand command;
  const char* line;  // null: the erase logs no failure line and shows no NOR notice
};

struct FlashRules {
  // Erase and format.
  EraseFailure eraseFailures[4];
  bool eraseFlashesCaption;         // the caption-flash timer runs through a NOR erase
  bool eraseTimeOutIsSilent;        // an erase that never completed logs no failure line
  bool formatLogsSystemError;       // before the line for a format that was not delivered
  const char* formatRefusedLine;    // a delivered format the device refused
  bool formatRefusalKeepsNotice;    // ...leaves the busy notice up until the next one
  // Firmware, backup and boot code.
  bool programmersErase;            // programmers erase their own regions; else the job erases first
  const char* afterOwnEraseLine;    // logged after a programmer's own erase
  const char* firmwareStartLine;    // before the firmware copy; null: none
  const CopyLines* boot;            // null: the boot code goes through the boot upgrader
  CopyLines firmware;
  CopyLines backup[2];
  bool failedBackupCopyEndsBackup;  // else the second copy still runs (and the backup still fails)
  const char* imageWord;            // in the elapsed and total lines of a copy
  // Fonts.
  bool fontPageFailureMovesOn;      // a failed font write or read goes on to Font_2
  bool fontWriterEndsUpdate;        // the elapsed lines and FONT_END_OF_UPDATE follow every flag
  // Extraction.
  bool extractQueriesFirmware;      // the firmware region is queried before it is read
};

const FlashRules& FlashRulesOf(TransportFamily family);

// The failure line of `command` in `rules`; null when it has none.
const char* EraseFailureLine(const FlashRules& rules, EraseCommand command);

}  // namespace romsetter
