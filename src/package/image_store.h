#pragma once
// The four payload images held in memory: filled by the image checks, the font list and the
// package unpacker; read by the programming engine and the job.
#include <cstdint>
#include <vector>

namespace romsetter {

// Pages of each image, set by the image checks, the font list and the package unpacker.
struct ImagePageCounts {
  std::uint32_t bigImagePages = 0;
  std::uint32_t smallImagePages = 0;
  std::uint32_t bootImagePages = 0;
  std::uint32_t fontImagePages = 0;

  std::uint32_t FirmwarePages(bool smallBlock) const { return smallBlock ? smallImagePages : bigImagePages; }
};

enum class ImageSlot { BigFirmware = 0, SmallFirmware = 1, BootCode = 2, FontData = 3 };

class ImageStore {
 public:
  std::vector<std::uint8_t>& Slot(ImageSlot slot) { return slots_[static_cast<int>(slot)]; }
  const std::vector<std::uint8_t>& Slot(ImageSlot slot) const { return slots_[static_cast<int>(slot)]; }
  bool Held(ImageSlot slot) const { return !Slot(slot).empty(); }
  // Replaces a slot as a whole, so a failed load never leaves it half replaced.
  void Replace(ImageSlot slot, std::vector<std::uint8_t> data) { Slot(slot) = std::move(data); }
  void Release(ImageSlot slot) { std::vector<std::uint8_t>().swap(Slot(slot)); }
  void ReleaseAll() {
    for (int i = 0; i < 4; ++i) Release(static_cast<ImageSlot>(i));
  }

 private:
  std::vector<std::uint8_t> slots_[4];
};

}  // namespace romsetter
