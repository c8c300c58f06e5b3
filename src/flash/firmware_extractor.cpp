#include "flash/firmware_extractor.h"

#include <algorithm>
#include <cstdio>

#include "flash/flash_programmer.h"

namespace romsetter {

bool FirmwareExtractor::ExtractFirmware() {
  DeviceLink& link = ctx_.link;
  ActivityLog& log = link.log();
  WindowPort& window = link.window();
  cursor_.Reset();

  FileDialogRequest request;
  request.initialName = process_.extractOutputPath;
  request.defaultExtension = "Read_FW.bin";
  request.filter = "(*.bin)|*.bin|All Files (*.*)|*.*||";
  request.overwritePrompt = true;
  // A cancelled dialog still extracts, to the path of last time.
  if (const std::optional<std::string> chosen = window.OpenFileDialog(request); chosen && !chosen->empty()) {
    process_.extractOutputPath = *chosen;
  }
  const std::string& path = process_.extractOutputPath;

  window.Repaint();
  log.Log("F/W Reading...");
  if (link.IsAspi() && !link.GetMemInfo(1)) {
    log.Log("Error: To get FW size");
    return false;
  }

  // A small-block device keeps its firmware in the small-block region, so that is the one read.
  const MemoryMap& map = link.memoryMap;
  const std::uint32_t first = map.FirmwareAddr1();
  const std::uint32_t pages = link.imagePages.FirmwarePages(map);
  if (pages > kPageNumberLimit) {
    log.Logf("FW image has %u pages, more than page numbers can count.", static_cast<unsigned>(pages));
    return false;
  }
  // At least one page is read, also for an image of no pages.
  if (!PageAddressesFit(log, "FW", first, std::max<std::uint32_t>(pages, 1))) return false;

  link.pageBuffer.fill(0xFF);
  if (!link.WritePage(kPreparationPage + cursor_.pageOffset, cursor_.pageNumber, false)) {
    log.Log("Write 0xff*512 Failed!!");
    return false;
  }

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    const std::string text = Format("The Output BIN file %s can't be opened.", path.c_str());
    log.Log(text);
    window.ShowMessage(text, process_.applicationName, MessageIcon::Error);
    return false;
  }

  bool complete = true;
  PageBuffer page{};
  do {
    if (!link.ReadPage(page.data(), first + cursor_.pageOffset, cursor_.pageNumber, false)) {
      log.Log("Read FW Page Failed!!");
      complete = false;
      break;
    }
    if (std::fwrite(page.data(), 1, page.size(), file) != page.size()) {
      log.Logf("Writing %s failed.", path.c_str());
      complete = false;
      break;
    }
    ++cursor_.pageNumber;
    ++cursor_.pageOffset;
  } while (cursor_.pageOffset < pages);  // pageNumber <= page count
  if (std::fclose(file) != 0 && complete) {
    log.Logf("Writing %s failed.", path.c_str());
    complete = false;
  }

  // The preparation page changed the device, whatever became of the reading.
  window.ShowMessage("The device must be formatted by user.", process_.applicationName, MessageIcon::None);
  if (complete) log.Logf("OutPut %s OK!", path.c_str());
  return complete;
}

}  // namespace romsetter
