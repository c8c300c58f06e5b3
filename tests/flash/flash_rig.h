#pragma once
// One DeviceLink over the emulated device on either transport, with everything the page
// loops need, and small helpers to read back what happened.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_transport.h"
#include "flash/page_engine.h"
#include "support/test_support.h"

namespace romsetter::test {

using Bytes = std::vector<std::uint8_t>;

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

struct FlashRig {
  explicit FlashRig(bool aspi, const std::string& name = "flash")
      : drive(device),
        library({&device}),
        aspiTransport(library, 1),
        dir(ScratchDir(name)),
        log(dir + "/Romsetter.log", window),
        paths(FixedPaths::UnderFolder(dir)) {
    if (aspi) {
      link = std::make_unique<DeviceLink>(aspiTransport, log, window, selections);
      aspiTransport.BeginJob();
      aspiTransport.CreateEvent();
    } else {
      link = std::make_unique<DeviceLink>(drive, log, window, selections);
    }
    context = std::make_unique<FlashContext>(FlashContext{*link, images, clock, process, paths});
    process.extractOutputPath = dir + "/read_fw.bin";
  }

  // A big-block firmware image of `pages` pages, with the region set alike in the memory map
  // and in the device (so erases the device runs cover it).
  Bytes LoadFirmware(std::uint32_t pages, std::uint16_t regionSize = 0x100, std::uint32_t addr1 = 0x1000) {
    Bytes image = MakeImage(pages);
    images.Replace(ImageSlot::BigFirmware, image);
    link->imagePages.bigImagePages = pages;
    link->memoryMap.flashType = 1;
    link->memoryMap.fwSize = regionSize;
    link->memoryMap.fwAddr1 = addr1;
    link->memoryMap.backupAddr1 = device.config().backupAddr1;
    link->memoryMap.backupAddr2 = device.config().backupAddr2;
    device.config().firmware = {regionSize, addr1, 0};
    selections.bigFirmwarePath = "big.bin";
    return image;
  }

  // A boot image, in memory and as the boot file.
  Bytes LoadBoot(std::uint32_t pages, std::uint16_t regionSize = 0x40, std::uint32_t addr1 = 0x100) {
    Bytes image = MakeImage(pages);
    images.Replace(ImageSlot::BootCode, image);
    link->imagePages.bootImagePages = pages;
    link->memoryMap.bootSize = regionSize;
    link->memoryMap.bootAddr1 = addr1;
    device.config().boot = {regionSize, addr1, 0};
    selections.bootPath = dir + "/boot.nor";
    WriteFile(selections.bootPath, std::string(image.begin(), image.end()));
    return image;
  }

  void AddFault(FaultKind kind, const std::string& command, std::uint32_t page, std::uint32_t occurrence = 0,
                std::uint32_t byteIndex = 0) {
    EmulatorFault f;
    f.kind = kind;
    f.command = command;
    f.anyPage = false;
    f.page = page;
    f.occurrence = occurrence;
    f.byteIndex = byteIndex;
    device.AddFault(f);
  }

  std::vector<std::string> Lines() const { return StripNumbers(window.allStatus); }
  std::vector<TraceEntry> Writes() const { return device.TraceOf("UPT_WRITE_PAGE"); }
  std::vector<TraceEntry> Reads() const { return device.TraceOf("UPT_READ_PAGE"); }
  std::vector<TraceEntry> Marks() const { return device.TraceOf("UPT_MARK_ERROR_PAGE"); }
  Bytes Flash(std::uint32_t address) const {
    const auto page = device.ReadFlash(address);
    return Bytes(page.begin(), page.end());
  }

  EmulatedDevice device;
  EmulatedTransport drive;
  EmulatedAspiLibrary library;
  AspiTransport aspiTransport;
  RecordingWindow window;
  std::string dir;
  ActivityLog log;
  Selections selections;
  std::unique_ptr<DeviceLink> link;
  ImageStore images;
  FakeClock clock;
  ProcessState process;
  FixedPaths paths;
  std::unique_ptr<FlashContext> context;
};

inline std::string TransportName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Aspi" : "PassThrough";
}

// True when `expected` occur in `lines` in this order (other lines may come between).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& expected) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    if (at < expected.size() && line == expected[at]) ++at;
  }
  if (at == expected.size()) return ::testing::AssertionSuccess();
  std::string all;
  for (const std::string& l : lines) all += "\n  " + l;
  return ::testing::AssertionFailure() << "missing \"" << expected[at] << "\" in order; lines:" << all;
}

}  // namespace romsetter::test
