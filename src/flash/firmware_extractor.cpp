#include "flash/firmware_extractor.h"

#include <algorithm>
#include <cstdio>

#include "flash/flash_programmer.h"

namespace romsetter {

FirmwareExtractor::Result FirmwareExtractor::ExtractFirmware() {
  DeviceLink& link = ctx_.link;
  LogSink& log = ctx_.log;
  cursor_.Reset();

  if (process_.extractOutputPath.empty()) process_.extractOutputPath = ctx_.paths.extractDefault;
  FileDialogRequest request;
  request.initialName = process_.extractOutputPath;
  request.defaultExtension = "Read_FW.bin";
  request.filter = "(*.bin)|*.bin|All Files (*.*)|*.*||";
  request.overwritePrompt = true;
  // A cancelled dialog still extracts, to the path of last time.
  if (const std::optional<std::string> chosen = ctx_.messages.OpenFileDialog(request); chosen && !chosen->empty()) {
    process_.extractOutputPath = *chosen;
  }
  const std::string& path = process_.extractOutputPath;

  ctx_.progress.Repaint();
  log.Log("F/W Reading...");
  if (ctx_.rules().extractQueriesFirmware &&
      !memory_.GetMemInfo(RegionQuery::Firmware, ctx_.pages, ctx_.selections.norSelected)) {
    log.Log("Error: To get FW size");
    return Result::DeviceFailed;
  }

  // A small-block device keeps its firmware in the small-block region, so that is the one read.
  const MemoryMap& map = ctx_.map;
  const std::uint32_t first = map.FirmwareAddr1();
  const std::uint32_t pages = ctx_.pages.FirmwarePages(map.SmallBlock());
  if (pages > kPageNumberLimit) {
    log.Logf("FW image has %u pages, more than page numbers can count.", static_cast<unsigned>(pages));
    return Result::DeviceFailed;
  }
  // At least one page is read, also for an image of no pages.
  if (!PageAddressesFit(log, "FW", first, std::max<std::uint32_t>(pages, 1))) return Result::DeviceFailed;

  PageBuffer page;
  page.fill(0xFF);
  if (!link.WritePage(kPreparationPage + cursor_.pageOffset, cursor_.pageNumber, PageArea::Firmware, page)) {
    log.Log("Write 0xff*512 Failed!!");
    return Result::DeviceFailed;
  }

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    const std::string text = Format("The Output BIN file %s can't be opened.", path.c_str());
    log.Log(text);
    ctx_.messages.ShowMessage(text, process_.applicationName, MessageIcon::Error);
    return Result::FileFailed;
  }

  Result result = Result::Done;
  do {
    if (!link.ReadPage(first + cursor_.pageOffset, cursor_.pageNumber, PageArea::Firmware, page)) {
      log.Log("Read FW Page Failed!!");
      result = Result::DeviceFailed;
      break;
    }
    if (std::fwrite(page.data(), 1, page.size(), file) != page.size()) {
      log.Logf("Writing %s failed.", path.c_str());
      result = Result::FileFailed;
      break;
    }
    ++cursor_.pageNumber;
    ++cursor_.pageOffset;
  } while (cursor_.pageOffset < pages);  // pageNumber <= page count
  if (std::fclose(file) != 0 && result == Result::Done) {
    log.Logf("Writing %s failed.", path.c_str());
    result = Result::FileFailed;
  }

  // The preparation page changed the device, whatever became of the reading.
  ctx_.messages.ShowMessage("The device must be formatted by user.", process_.applicationName, MessageIcon::None);
  if (result == Result::Done) log.Logf("OutPut %s OK!", path.c_str());
  return result;
}

}  // namespace romsetter
