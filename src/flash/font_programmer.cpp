#include "flash/font_programmer.h"

#include <cstring>

#include "flash/flash_programmer.h"

namespace romsetter {

namespace {

constexpr std::uint8_t kFlag[4] = {'A', 'A', 'Z', 'Z'};
constexpr std::size_t kFlagOffset = kPageSize - sizeof kFlag;

}  // namespace

std::uint32_t FontProgrammer::currentFontStart() const {
  const MemoryMap& map = ctx_.map;
  return location_ == FontLocation::Font1 ? map.fontAddr1 : map.fontAddr2;
}

bool FontProgrammer::FontImageFits(const std::vector<std::uint8_t>& fontData) {
  LogSink& log = ctx_.log;
  const MemoryMap& map = ctx_.map;
  const std::uint32_t pages = ctx_.pages.fontImagePages;
  const std::uint16_t regionSize = map.fontSize;
  if (regionSize == 0) {
    log.Log("The device reports no font region (FontSize=0x0000).");
    return false;
  }
  if (pages == 0) {
    log.Log("Font data has no pages to write.");
    return false;
  }
  // The region's last page carries the flag, so the font must leave it free.
  if (pages >= regionSize) {
    log.Log("Font file Size is larger then device memory.");
    return false;
  }
  if (fontData.size() / kPageSize < pages) {
    log.Logf("Font data holds %zu bytes, less than its %u pages.", fontData.size(), static_cast<unsigned>(pages));
    return false;
  }
  return PageAddressesFit(log, "Font_1", map.fontAddr1, regionSize) &&
         PageAddressesFit(log, "Font_2", map.fontAddr2, regionSize);
}

void FontProgrammer::PrepareStart(bool eraseOk) {
  location_ = eraseOk ? FontLocation::Font1 : FontLocation::Font2;
  if (!eraseOk) ctx_.log.Log("Font page erased Failure!!");
}

bool FontProgrammer::ProgramFont() { return ProgramFont(ctx_.images.Slot(ImageSlot::FontData)); }

bool FontProgrammer::ProgramFont(const std::vector<std::uint8_t>& fontData) {
  LogSink& log = ctx_.log;
  if (!FontImageFits(fontData)) return false;
  const std::uint32_t pages = ctx_.pages.fontImagePages;
  const std::uint16_t regionSize = ctx_.map.fontSize;

  if (ctx_.rules().programmersErase) {
    location_ = FontLocation::Font1;
    if (!EraseRegion(ctx_, EraseCommand::Font)) {
      log.Log("FONT_ERASE_FONT_BLKS Failed!!");
      return false;
    }
  }

  // At most two attempts: the location only ever moves from Font_1 to Font_2.
  bool retry = false;
  for (;;) {
    if (retry) log.Log("Font_1 WritePage FAILURE!!");
    const Attempt result = WriteAttempt(fontData.data(), pages, regionSize);
    if (result == Attempt::Done) return true;
    if (result == Attempt::FlagFailed || result == Attempt::Abort) return false;
    if (location_ == FontLocation::Font1) {
      location_ = FontLocation::Font2;
      retry = true;
      continue;
    }
    if (result == Attempt::Differs) log.Log("Font_2 WritePage FAILURE!!");
    return false;
  }
}

FontProgrammer::Attempt FontProgrammer::WriteAttempt(const std::uint8_t* data, std::uint32_t pages,
                                                     std::uint16_t regionSize) {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  const bool movesOn = ctx_.rules().fontPageFailureMovesOn;
  const MemoryMap& map = ctx_.map;
  const std::uint32_t start = currentFontStart();

  cursor_.Reset();
  // Equal addresses name Font_1 only.
  if (start == map.fontAddr1) {
    log.Log("Font_1 Upgrading, Please Wait...");
  } else if (start == map.fontAddr2) {
    log.Log("Font_2 Upgrading, Please Wait...");
  }
  const std::uint32_t started = ctx_.clock.NowSeconds();

  for (;;) {
    const std::uint32_t address = start + cursor_.pageOffset;
    std::memcpy(page_.data(), data + std::size_t{cursor_.pageOffset} * kPageSize, kPageSize);
    if (!link.WritePage(address, cursor_.pageNumber, PageArea::Font, page_)) {
      if (movesOn) return Attempt::Failed;
      log.Log("Written Font Page Failed!!");
      return Attempt::Abort;
    }
    ctx_.progress.OnPage(ProgressObserver::PageEvent::Written);
    PoisonReadBack(page_, readBack_);
    if (!link.ReadPage(address, cursor_.pageNumber, PageArea::Font, readBack_)) {
      if (movesOn) return Attempt::Failed;
      log.Log("Read Font Page Failed!!");
      return Attempt::Abort;
    }
    if (ComparePages(log, readBack_.data(), page_.data(), kPageSize) != 0) return Attempt::Differs;
    PageVerified(ctx_, "Font", cursor_.pageNumber, pages);
    ++cursor_.pageNumber;
    ++cursor_.pageOffset;
    if (cursor_.pageOffset >= pages) break;
    if (cursor_.pageOffset >= regionSize) {
      log.Log("Device Memory is not enough.");
      return Attempt::Failed;
    }
  }
  return StampFlag(pages, regionSize, started);
}

FontProgrammer::Attempt FontProgrammer::StampFlag(std::uint32_t pages, std::uint16_t regionSize,
                                                  std::uint32_t started) {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  const bool endsUpdate = ctx_.rules().fontWriterEndsUpdate;

  log.Log("Make flag \"AAZZ\"");
  cursor_.pageNumber = regionSize;
  cursor_.pageOffset = regionSize - 1u;
  const std::uint32_t address = currentFontStart() + cursor_.pageOffset;

  // Bytes a short reply leaves untouched stay 0xFF, which programs nothing when written back.
  page_.fill(0xFF);
  bool flagOk = false;
  if (!link.ReadPage(address, cursor_.pageNumber, PageArea::Font, page_)) {
    log.Log("Read flag Page Error");
  } else {
    std::memcpy(page_.data() + kFlagOffset, kFlag, sizeof kFlag);
    if (!link.WritePage(address, cursor_.pageNumber, PageArea::Font, page_)) {
      log.Log("Write flag Page Error");
    } else {
      ctx_.progress.OnPage(ProgressObserver::PageEvent::Written);
      PoisonReadBack(page_, readBack_);
      if (!link.ReadPage(address, cursor_.pageNumber, PageArea::Font, readBack_)) {
        log.Log("Read flag page error after written.");
      } else if (ComparePages(log, readBack_.data(), page_.data(), kPageSize) == 0) {
        log.Log("Compare flag page OK");
        ctx_.progress.OnPage(ProgressObserver::PageEvent::Verified);
        flagOk = true;
      } else {
        log.Log("Compare flag page error");
      }
    }
  }
  if (!endsUpdate && !flagOk) return Attempt::FlagFailed;

  const int seconds = static_cast<int>(ctx_.clock.NowSeconds() - started);
  if (ctx_.process.InPackageMode()) {
    log.Logf("Loaded elapsed %d seconds for FontData:%s", seconds, "");
  } else {
    log.Logf("Loaded elapsed %d seconds for FontList:%s", seconds, ctx_.selections.fontListPath.c_str());
  }
  log.Logf("Written total of the Font Page size = 0x%04X", static_cast<unsigned>(pages));

  if (!endsUpdate) return Attempt::Done;
  // Sent whatever became of the flag; only its own failure sends the font on to Font_2.
  if (!link.SendControl(ControlCommand::EndOfFontUpdate)) return Attempt::Failed;
  return flagOk ? Attempt::Done : Attempt::FlagFailed;
}

}  // namespace romsetter
