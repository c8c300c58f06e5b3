#pragma once
// The emulated device and what the page loops need, on either transport.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/memory_query.h"
#include "flash/page_engine.h"
#include "support/link_rig.h"

namespace romsetter::test {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kAnyPage = 0xFFFFFFFF;

// Page k of a test image; no byte is 0xFF, so an unwritten (erased) page always differs at byte 0.
inline std::uint8_t ImageByte(std::uint32_t page, std::size_t i) {
  return static_cast<std::uint8_t>((page * 31 + i) % 255);
}
inline Bytes MakeImage(std::uint32_t pages) {
  Bytes image(std::size_t{pages} * 512);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = ImageByte(static_cast<std::uint32_t>(i / 512), i % 512);
  return image;
}
inline Bytes PageOf(const Bytes& image, std::uint32_t page) {
  return Bytes(image.begin() + page * 512, image.begin() + (page + 1) * 512);
}

// The page loops' context over a LinkRig; tests set the memory map as a query would.
struct FlashRig : LinkRig {
  explicit FlashRig(bool aspi, const std::string& name = "flash", const DriveMaker& makeDrive = nullptr)
      : LinkRig(aspi, name, CRuntimeErrorText, makeDrive) {
    memory = std::make_unique<MemoryQuery>(*link, log, map);
    context = std::make_unique<FlashContext>(FlashContext{*link, log, window, window, map, images, pages, clock,
                                                          selections, process, paths});
  }

  // A big-block firmware image, with the region set alike in the memory map and the device.
  Bytes LoadFirmware(std::uint32_t pages, std::uint16_t regionSize = 0x100, std::uint32_t addr1 = 0x1000) {
    Bytes image = MakeImage(pages);
    images.Replace(ImageSlot::BigFirmware, image);
    this->pages.bigImagePages = pages;
    map.flashType = 1;
    map.fwSize = regionSize;
    map.fwAddr1 = addr1;
    map.backupAddr1 = device.config().backupAddr1;
    map.backupAddr2 = device.config().backupAddr2;
    device.config().firmware = {regionSize, addr1, 0};
    selections.bigFirmwarePath = "big.bin";
    return image;
  }

  // A boot image, in memory and as the boot file.
  Bytes LoadBoot(std::uint32_t pages, std::uint16_t regionSize = 0x40, std::uint32_t addr1 = 0x100) {
    Bytes image = MakeImage(pages);
    images.Replace(ImageSlot::BootCode, image);
    this->pages.bootImagePages = pages;
    map.bootSize = regionSize;
    map.bootAddr1 = addr1;
    device.config().boot = {regionSize, addr1, 0};
    selections.bootPath = dir + "/boot.nor";
    WriteFile(selections.bootPath, std::string(image.begin(), image.end()));
    return image;
  }

  void AddFault(FaultKind kind, const std::string& command, std::uint32_t page = kAnyPage, std::uint32_t occurrence = 0,
                std::uint32_t byteIndex = 0) {
    device.AddFault({kind, command, page == kAnyPage, page, occurrence, byteIndex});
  }

  std::vector<TraceEntry> Writes() const { return device.TraceOf("UPT_WRITE_PAGE"); }
  std::vector<TraceEntry> Reads() const { return device.TraceOf("UPT_READ_PAGE"); }
  std::vector<TraceEntry> Marks() const { return device.TraceOf("UPT_MARK_ERROR_PAGE"); }
  Bytes Flash(std::uint32_t address) const {
    const auto page = device.ReadFlash(address);
    return Bytes(page.begin(), page.end());
  }

  Selections selections;
  std::unique_ptr<MemoryQuery> memory;
  MemoryMap map;
  ImagePageCounts pages;
  ImageStore images;
  FakeClock clock;
  ProcessState process;
  FixedPaths paths = FixedPaths::UnderFolder(dir);
  std::unique_ptr<FlashContext> context;
};

}  // namespace romsetter::test
