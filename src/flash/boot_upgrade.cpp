#include "flash/boot_upgrade.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flash/flash_programmer.h"

namespace romsetter {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A dump that cannot be created is skipped: it is a diagnosis aid, not part of the upgrade.
void WriteDump(const std::string& path, const PageBuffer& page) {
  if (File f{std::fopen(path.c_str(), "wb")}) std::fwrite(page.data(), 1, page.size(), f.get());
}

}  // namespace

void BootUpgrader::DumpPages() {
  WriteDump(ctx_.paths.bootWriteDump, page_);
  WriteDump(ctx_.paths.bootReadDump, readBack_);
}

bool BootUpgrader::UpgradeBootFromFile() {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  const MemoryMap& map = ctx_.map;
  const std::uint32_t pages = ctx_.pages.bootImagePages;
  cursor_.Reset();

  // What the file check and the device reported must make sense before the region is erased.
  if (!PageCountUsable(log, "Boot", pages)) return false;
  if (map.bootSize == 0 || pages > map.bootSize) {
    log.Log("Device Memory is not enough.");
    return false;
  }
  if (!PageAddressesFit(log, "Boot", map.bootAddr1, pages)) return false;

  // The file is read whole before the erase: one that went or shrank since its check must
  // not leave the boot region blank.  A page cut short counts as missing (its tail would be
  // the previous page's bytes).
  const std::string& path = ctx_.selections.bootPath;
  File file{std::fopen(path.c_str(), "rb")};
  if (!file) {
    ctx_.messages.ShowMessage("can't open Boot file", "F/W Upgrade", MessageIcon::Error);
    return false;
  }
  std::vector<std::uint8_t> image(std::size_t{pages} * kPageSize);
  if (std::fread(image.data(), 1, image.size(), file.get()) != image.size()) {
    log.Log("No data any more...");
    return false;
  }
  file.reset();

  if (!EraseRegion(ctx_, EraseCommand::Boot)) {
    log.Log("UPT_BOOT_ERASE_MEM Failed!!");
    return false;
  }
  log.Log("Boot file Upgrading...");
  const std::uint32_t started = ctx_.clock.NowSeconds();

  for (;;) {
    std::memcpy(page_.data(), image.data() + std::size_t{cursor_.pageOffset} * kPageSize, kPageSize);
    // The same page is written again while it is rewritten.
    for (int rewrites = 0;; ++rewrites) {
      const std::uint32_t address = map.bootAddr1 + cursor_.pageOffset;
      if (!link.WritePage(address, cursor_.pageNumber, PageArea::Firmware, page_)) {
        log.Log("Written Boot Page Failed!!");
        return false;
      }
      ctx_.progress.OnPage(ProgressObserver::PageEvent::Written);
      PoisonReadBack(page_, readBack_);
      if (!link.ReadPage(address, cursor_.pageNumber, PageArea::Firmware, readBack_)) {
        log.Log("Read Boot Page Failed!!");
        return false;
      }
      if (ComparePages(log, readBack_.data(), page_.data(), kPageSize) == 0) break;
      if (ctx_.selections.debugWritePageError) {
        DumpPages();
        log.Log("Debug_Write_Page_Error");
        return false;
      }
      if (rewrites == kMaxPageRewrites || !link.MarkErrorPage(address)) {
        log.Log("Fail to Mark Error Page.");
        return false;
      }
      log.Log("Mark 1 Error page.");
      ctx_.progress.OnPage(ProgressObserver::PageEvent::Remapped);
    }
    PageVerified(ctx_, "BootCode", cursor_.pageNumber, pages);
    ++cursor_.pageNumber;
    ++cursor_.pageOffset;
    if (cursor_.pageOffset >= pages) break;
    if (cursor_.pageOffset >= map.bootSize) {
      log.Log("Device Memory is not enough.");
      return false;
    }
  }

  log.Logf("Loaded elapsed %d seconds for F/W:%s", static_cast<int>(ctx_.clock.NowSeconds() - started), path.c_str());
  log.Logf("Written total of the Boot Page size = 0x%04X", static_cast<unsigned>(cursor_.pageOffset));
  return true;
}

}  // namespace romsetter
