#pragma once
// The four payload images held in memory: filled by the image checks, the font list and the
// package unpacker; read by the programming engine and the job.
#include <cstdint>
#include <memory>
#include <vector>

namespace romsetter {

// A device reports a region's size in 16 bits: no image, font data included, can have more pages.
constexpr std::uint32_t kMaxImagePages = 0xFFFF;

// Pages of each image, set by the image checks, the font list and the package unpacker.
struct ImagePageCounts {
  std::uint32_t bigImagePages = 0;
  std::uint32_t smallImagePages = 0;
  std::uint32_t bootImagePages = 0;
  std::uint32_t fontImagePages = 0;

  std::uint32_t FirmwarePages(bool smallBlock) const { return smallBlock ? smallImagePages : bigImagePages; }
};

enum class ImageSlot { BigFirmware = 0, SmallFirmware = 1, BootCode = 2, FontData = 3 };

// Each slot is held through a pointer to bytes that never change once loaded, so copies of a
// store (one per device job) share the images without copying them or racing on them.
class ImageStore {
 public:
  using Bytes = std::vector<std::uint8_t>;

  const Bytes& Slot(ImageSlot slot) const {
    const std::shared_ptr<const Bytes>& held = slots_[static_cast<int>(slot)];
    return held ? *held : Empty();
  }
  bool Held(ImageSlot slot) const { return !Slot(slot).empty(); }
  // Replaces a slot as a whole, so a failed load never leaves it half replaced.
  void Replace(ImageSlot slot, Bytes data) {
    slots_[static_cast<int>(slot)] = std::make_shared<const Bytes>(std::move(data));
  }
  void Release(ImageSlot slot) { slots_[static_cast<int>(slot)].reset(); }
  void ReleaseAll() {
    for (int i = 0; i < 4; ++i) Release(static_cast<ImageSlot>(i));
  }

 private:
  static const Bytes& Empty() {
    static const Bytes empty;
    return empty;
  }
  std::shared_ptr<const Bytes> slots_[4];
};

}  // namespace romsetter
