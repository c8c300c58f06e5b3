#pragma once
// Writes the font data into the device's font region and stamps the region's last page with
// the flag "AAZZ".  The font goes to Font_1; when Font_1 cannot be written and verified, the
// whole font is written again from its first page to Font_2 (a fallback, not a second copy).
#include <cstdint>
#include <vector>

#include "flash/page_engine.h"

namespace romsetter {

enum class FontLocation { Font1, Font2 };

class FontProgrammer {
 public:
  // The programmer keeps the current font start between calls, so it lives as long as the
  // job that reads it afterwards.
  explicit FontProgrammer(FlashContext& context) : ctx_(context) {}

  // False, with a line logged, when the font data cannot go into the font region of the
  // memory map: no region, no pages, a buffer shorter than fontImagePages × 512, not fewer
  // pages than the region (its last page is the flag page; "Font file Size is larger then
  // device memory."), or a region that would pass page address 0xFFFFFFFF.  ProgramFont
  // checks this first; over pass-through the job can call it before it erases.
  bool FontImageFits(const std::vector<std::uint8_t>& fontData);

  // Pass-through only, after the job's EraseRegion(FONT_ERASE_FONT_BLKS): a good erase puts
  // the font at Font_1; a failed one logs "Font page erased Failure!!" and puts it at Font_2,
  // which is then written without a further erase.  Call it before every pass-through run.
  void PrepareStart(bool eraseOk);

  // Writes the FontData slot (fontImagePages pages); the overload takes the data from the
  // caller (the job's copy of a package's font data).  Over ASPI it erases the region itself
  // and sends no FONT_END_OF_UPDATE; over pass-through it sends FONT_END_OF_UPDATE after the
  // flag page.  True when every page and the flag page verified.
  bool ProgramFont();
  bool ProgramFont(const std::vector<std::uint8_t>& fontData);

  // Where the last run wrote (or was to write) the font; the job names it in its failure line.
  FontLocation location() const { return location_; }
  std::uint32_t currentFontStart() const;
  const PageCursor& cursor() const { return cursor_; }
  // The page last written or read into (the flag page after the flag step).
  const PageBuffer& page() const { return page_; }

 private:
  enum class Attempt {
    Done,         // font and flag verified
    FlagFailed,   // font written, flag page not: no fall-back
    Failed,       // falls back to Font_2 when at Font_1
    Differs,      // a page read back wrong: as Failed, with its own line at Font_2
    Abort,        // ASPI command failure: false at once
  };

  Attempt WriteAttempt(const std::uint8_t* data, std::uint32_t pages, std::uint16_t regionSize);
  Attempt StampFlag(std::uint32_t pages, std::uint16_t regionSize, std::uint32_t started);

  FlashContext& ctx_;
  FontLocation location_ = FontLocation::Font1;
  PageCursor cursor_;
  PageBuffer page_{};
  PageBuffer readBack_{};
};

}  // namespace romsetter
