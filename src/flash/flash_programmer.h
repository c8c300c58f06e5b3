#pragma once
// Writes the firmware, its two backup copies and the boot code page by page, reading every
// page back before the next one is touched.
#include <cstdint>
#include <vector>

#include "flash/page_engine.h"

namespace romsetter {

// A page that keeps reading back wrong while the device accepts the mark is not rewritten
// for ever: after this many rewrites the copy ends with the kind's mark-failure line.
constexpr int kMaxPageRewrites = 8;

// Page numbers travel as 16 bits, so no image may have more pages than this.
constexpr std::uint32_t kPageNumberLimit = 0xFFFF;

// False, after a line naming `label`, for an image of no pages or of more than kPageNumberLimit.
bool PageCountUsable(LogSink& log, const char* label, std::uint32_t pages);
// False, after a line naming `label`, when `pages` pages from `base` would pass 0xFFFFFFFF.
bool PageAddressesFit(LogSink& log, const char* label, std::uint32_t base, std::uint32_t pages);

// Before a read-back the destination is filled with the complement of the page written, so
// bytes a short reply leaves untouched can never pass for verified data.
void PoisonReadBack(const PageBuffer& written, PageBuffer& readBack);

class FlashProgrammer {
 public:
  explicit FlashProgrammer(FlashContext& context) : ctx_(context) {}

  // kind: firmware, backup or boot code.  The firmware and backup regions are erased here
  // where the family's programmers erase their own regions (else the caller has erased
  // them), and the boot code goes through BootUpgrader where the family has no boot copy
  // lines.  True only when every copy verified.
  bool ProgramImage(ImageKind kind);
  // Whether ProgramImage(kind) finds everything a write needs (an image that holds its pages,
  // a region, page addresses that fit), with its lines: a caller that erases the region
  // itself asks first, so no region is erased that cannot be written again.
  bool ReadyToProgram(ImageKind kind);

  const PageCursor& cursor() const { return cursor_; }

 private:
  struct CopyPlan;

  // The copies `kind` writes (firmware one, backup two, boot code one); false, with the
  // line of whatever would stop a copy before its first page.
  bool PlanCopies(ImageKind kind, std::vector<CopyPlan>& plans);
  bool CopyImage(const CopyPlan& plan);

  FlashContext& ctx_;
  PageCursor cursor_;
  PageBuffer page_{};
  PageBuffer readBack_{};
};

}  // namespace romsetter
