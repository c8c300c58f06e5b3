#include "flash/page_engine.h"

namespace romsetter {

int ComparePages(LogSink& log, const std::uint8_t* readBack, const std::uint8_t* written, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (readBack[i] != written[i]) {
      log.AddStatusLine(Format("Error occurs at [%d]: Src = 0x%02X, Err = 0x%02X", static_cast<int>(i),
                               static_cast<unsigned>(readBack[i]), static_cast<unsigned>(written[i])));
      return 1;
    }
  }
  return 0;
}

int ProgressPosition(std::uint32_t pageNumber, std::uint32_t pageCount) {
  if (pageCount == 0) return 0;
  return static_cast<int>(static_cast<double>(pageNumber) * 100.0 / static_cast<double>(pageCount));
}

void PageVerified(FlashContext& ctx, const char* copy, std::uint32_t pageNumber, std::uint32_t pageCount) {
  ctx.progress.SetProgress(ProgressPosition(pageNumber, pageCount));
  ctx.progress.OnPage(ProgressObserver::PageEvent::Verified);
  ctx.progress.CopyProgress(copy, pageNumber, pageCount);
}

}  // namespace romsetter
