#pragma once
// Shared pieces of the verified page loops: image kinds, the page cursor, the comparison
// and the progress position.
#include <cstddef>
#include <cstdint>

#include "base/clock.h"
#include "base/fixed_paths.h"
#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/selections.h"
#include "base/user_ports.h"
#include "device/device_link.h"
#include "device/memory_map.h"
#include "flash/flash_rules.h"
#include "package/image_store.h"

namespace romsetter {

// Bit values; the job adds up the kinds whose step succeeded.
enum class ImageKind : int { Firmware = 1, Font = 2, BootCode = 4, Backup = 8 };
constexpr int KindBit(ImageKind kind) { return static_cast<int>(kind); }

struct PageCursor {
  std::uint16_t pageNumber = 1;  // sent with every page; 0 is reserved for the error mark
  std::uint32_t pageOffset = 0;  // image page index and distance from the copy's start
  void Reset() {
    pageNumber = 1;
    pageOffset = 0;
  }
};

// What the page loops work with; all owned elsewhere for at least one job.
struct FlashContext {
  DeviceLink& link;
  LogSink& log;
  ProgressObserver& progress;
  MessagePort& messages;
  const MemoryMap& map;
  const ImageStore& images;
  const ImagePageCounts& pages;
  Clock& clock;
  const Selections& selections;  // the run's own, as it was asked (never the window's)
  const ProcessState& process;
  const FixedPaths& paths;

  const FlashRules& rules() const { return FlashRulesOf(link.family()); }
};

// Whole-region erase (with the NOR-mode notice and, where the family has it, the
// caption-flash timer) and the NAND format, with the family's failure lines.
bool EraseRegion(FlashContext& ctx, EraseCommand command);
bool FormatDevice(FlashContext& ctx);

// 0 when the first `length` bytes are equal, else 1 after adding one status-list line for
// the first differing byte.
int ComparePages(LogSink& log, const std::uint8_t* readBack, const std::uint8_t* written, std::size_t length);

// trunc(pageNumber * 100 / pageCount); 0 for an empty image.
int ProgressPosition(std::uint32_t pageNumber, std::uint32_t pageCount);

// Page `pageNumber` of the copy named `copy` read back equal: moves the bar and tells the
// observer.  Every verified page of a copy goes through here, never a rewrite.
void PageVerified(FlashContext& ctx, const char* copy, std::uint32_t pageNumber, std::uint32_t pageCount);

}  // namespace romsetter
