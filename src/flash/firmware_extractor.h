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

  enum class Result {
    Done,          // every page read and written to the file ("OutPut %s OK!" logged)
    DeviceFailed,  // the device did not give the region
    FileFailed,    // the output file could not be opened or written
  };

  // Asks for the output file, writes the preparation page, reads the firmware region into
  // the file and tells the user to format the device.
  Result ExtractFirmware();

  const PageCursor& cursor() const { return cursor_; }

  static constexpr std::uint32_t kPreparationPage = 0x20000;

 private:
  FlashContext& ctx_;
  MemoryQuery& memory_;
  ProcessState& process_;
  PageCursor cursor_;
};

}  // namespace romsetter
