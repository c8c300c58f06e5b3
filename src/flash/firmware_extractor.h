#pragma once
// Reads the firmware region back into a file chosen by the user.
#include "base/process_state.h"
#include "device/memory_query.h"
#include "flash/page_engine.h"

namespace romsetter {

class FirmwareExtractor {
 public:
  // The output path the user confirms is kept in `process` for the next extraction.  Over
  // ASPI the firmware region is queried again through `memory`.
  FirmwareExtractor(FlashContext& context, MemoryQuery& memory, ProcessState& process)
      : ctx_(context), memory_(memory), process_(process) {}

  // Asks for the output file, writes the preparation page, reads the firmware region into
  // the file and tells the user to format the device.  True when every page was read
  // ("OutPut %s OK!" logged); callers need not look at it.
  bool ExtractFirmware();

  const PageCursor& cursor() const { return cursor_; }

  static constexpr std::uint32_t kPreparationPage = 0x20000;

 private:
  FlashContext& ctx_;
  MemoryQuery& memory_;
  ProcessState& process_;
  PageCursor cursor_;
};

}  // namespace romsetter
