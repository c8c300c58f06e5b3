#pragma once
// Shared pieces of the verified page loops: image kinds, the page cursor, the comparison
// and the progress position.
#include <cstddef>
#include <cstdint>

#include "app/activity_log.h"
#include "app/process_state.h"
#include "base/clock.h"
#include "base/fixed_paths.h"
#include "device/device_link.h"
#include "package/image_store.h"

namespace romsetter {

// Bit values; the job adds up the kinds whose step succeeded.
enum ImageKind : int { kImageFirmware = 1, kImageFont = 2, kImageBootCode = 4, kImageBackup = 8 };

struct PageCursor {
  std::uint16_t pageNumber = 1;  // sent with every page; 0 is reserved for the error mark
  std::uint32_t pageOffset = 0;  // image page index and distance from the copy's start
  void Reset() {
    pageNumber = 1;
    pageOffset = 0;
  }
};

// What the page loops work with; all owned elsewhere for the life of the process.
struct FlashContext {
  DeviceLink& link;
  ImageStore& images;
  Clock& clock;
  const ProcessState& process;
  const FixedPaths& paths;
};

// 0 when the first `length` bytes are equal, else 1 after adding one status-list line for
// the first differing byte.
int ComparePages(ActivityLog& log, const std::uint8_t* readBack, const std::uint8_t* written, std::size_t length);

// trunc(pageNumber * 100 / pageCount); 0 for an empty image.
int ProgressPosition(std::uint32_t pageNumber, std::uint32_t pageCount);

}  // namespace romsetter
