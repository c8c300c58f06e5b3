#pragma once
// The device's flash layout as it reported it.
#include <cstdint>

namespace romsetter {

constexpr std::uint8_t kFlashTypeUnknown = 0xFF;
constexpr std::uint8_t kFlashTypeSmallBlock = 2;
// The two codes of big-block flash (a NOR device reports one of them too); any code that is
// neither these nor small-block is one the program does not know.
constexpr bool IsBigBlockFlashType(std::uint8_t code) { return code == 0 || code == 1; }

struct MemoryMap {
  std::uint8_t flashType = kFlashTypeUnknown;
  std::uint16_t fwSize = 0;
  std::uint32_t fwAddr1 = 0, fwAddr2 = 0;
  std::uint16_t fwSizeSmall = 0;
  std::uint32_t fwAddr1Small = 0, fwAddr2Small = 0;
  // NOR gap of the last region query (each of codes 1, 6 and 9 overwrites it) ...
  std::uint16_t gapLength = 0, gapStart = 0;
  // ... and the gap that came with the firmware query, which is the one the firmware writer skips.
  std::uint16_t fwGapLength = 0, fwGapStart = 0;
  std::uint32_t backupAddr1 = 0, backupAddr2 = 0;
  std::uint16_t bootSize = 0;
  std::uint32_t bootAddr1 = 0, bootAddr2 = 0;
  std::uint16_t fontSize = 0;
  std::uint32_t fontAddr1 = 0, fontAddr2 = 0;

  bool SmallBlock() const { return flashType == kFlashTypeSmallBlock; }
  std::uint16_t FirmwareSize() const { return SmallBlock() ? fwSizeSmall : fwSize; }
  std::uint32_t FirmwareAddr1() const { return SmallBlock() ? fwAddr1Small : fwAddr1; }
  std::uint32_t FirmwareAddr2() const { return SmallBlock() ? fwAddr2Small : fwAddr2; }
};


}  // namespace romsetter
