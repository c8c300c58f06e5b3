// The device's memory map, the initialisation that reads it, and the product query.
#include <array>
#include <cstring>

#include "device/memory_query.h"

namespace romsetter {

namespace {

struct QueryNames {
  const char* failed;      // not delivered / bad status over pass-through / ASPI wait ran out
  const char* failStatus;  // ASPI: completed with an error status
  const char* tooLarge;
};

QueryNames NamesOf(RegionQuery query) {
  switch (query) {
    case RegionQuery::Firmware:
      return {"UPT_FW_GET_SIZE Failed!!", "<FAIL> UPT_FW_GET_SIZE", "F/W file Size is larger then device memory."};
    case RegionQuery::Boot:
      return {"UPT_BOOT_GET_SIZE Failed!!", "<FAIL> UPT_BOOT_GET_SIZE", "Boot file Size is larger then device memory."};
    case RegionQuery::Font:
      return {"FONT_GET_BLK_INFO Failed!!", "<FAIL> FONT_GET_BLK_INFO", "Font file Size is larger then device memory."};
    case RegionQuery::Backup:
      break;
  }
  return {"BACKUP_FW_GET_SIZE_32 Failed!!", "<FAIL> BACKUP_FW_GET_SIZE",
          "Backup F/W file Size is larger then device memory."};
}

}  // namespace

std::string VersionLine(const std::array<std::uint8_t, kProductReplyLength>& reply) {
  const std::uint8_t* v = reply.data();
  std::string text = Format("Ver:%c%c%c%c%c%c%c%c", v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

namespace {

// The product name: up to the first NUL, never past the 20 bytes of the reply.
std::string ProductName(const std::uint8_t* reply) {
  std::size_t n = 0;
  while (n < kProductReplyLength && reply[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(reply), n);
}

}  // namespace

MemoryMap WithRegion(MemoryMap map, RegionQuery query, const RegionReply& reply, bool nor) {
  if (query == RegionQuery::Backup) {
    map.backupAddr1 = reply.addr1;
    map.backupAddr2 = reply.addr2;
    return map;
  }
  if (nor) {
    map.gapLength = static_cast<std::uint16_t>(reply.addr2 >> 16);
    map.gapStart = static_cast<std::uint16_t>(reply.addr2);
    map.flashType = 0;
  } else {
    map.gapLength = 0;
    map.gapStart = 0;
    if (query == RegionQuery::Firmware) map.flashType = static_cast<std::uint8_t>(reply.addr2 >> 24);
  }
  switch (query) {
    case RegionQuery::Firmware:
      // Each region reply carries a gap; the firmware writer must skip the firmware's own.
      map.fwGapLength = map.gapLength;
      map.fwGapStart = map.gapStart;
      if (map.SmallBlock()) {
        map.fwSizeSmall = reply.size;
        map.fwAddr1Small = reply.addr1;
        map.fwAddr2Small = reply.addr2;
      } else {
        map.fwSize = reply.size;
        map.fwAddr1 = reply.addr1;
        map.fwAddr2 = reply.addr2;
      }
      break;
    case RegionQuery::Boot:
      map.bootSize = reply.size;
      map.bootAddr1 = reply.addr1;
      map.bootAddr2 = reply.addr2;
      break;
    default:
      map.fontSize = reply.size;
      map.fontAddr1 = reply.addr1;
      map.fontAddr2 = reply.addr2;
      break;
  }
  return map;
}

bool MemoryQuery::InitDevice(const InitRequest& request, const ImagePageCounts& pages) {
  log_.Log("Initiating InDisk...");
  if (!link_.Inquiry().ok) {
    log_.Log("Initiating INQUIRY_BUFFER_LENGTH error!");
    return false;
  }
  if (!request.nor) {
    if (!link_.TestUnitReady()) {
      log_.Log("Initiating SCSI_TST_U_RDY error!");
      return false;
    }
  } else if (request.loadBootCode && !GetMemInfo(RegionQuery::Boot, pages, request.nor)) {
    log_.Log("GetMemInfo(UPT_BOOT_GET_SIZE) error!");
    return false;
  }
  if (request.loadFirmware && !GetMemInfo(RegionQuery::Firmware, pages, request.nor)) {
    log_.Log("GetMemInfo(UPT_FW_GET_SIZE) error!");
    return false;
  }
  if (request.loadFont && !GetMemInfo(RegionQuery::Font, pages, request.nor)) {
    log_.Log("GetMemInfo(FONT_GET_BLK_INFO) error!");
    return false;
  }
  return true;
}

bool MemoryQuery::GetDeviceStatus(bool nor) { return nor || link_.TestUnitReady(); }

bool MemoryQuery::GetMemInfo(RegionQuery query, const ImagePageCounts& pages, bool nor) {
  const QueryNames names = NamesOf(query);
  const bool haveImage = query == RegionQuery::Boot   ? pages.bootImagePages != 0
                         : query == RegionQuery::Font ? pages.fontImagePages != 0
                                                      : pages.bigImagePages != 0 || pages.smallImagePages != 0;
  if (!haveImage) return false;

  const Reply<RegionReply> reply = link_.QueryRegion(query);
  if (!reply.ok) {
    const FamilyRules& rules = link_.rules();
    if (!reply.transport.delivered && rules.logsSystemErrorOfFailedRequest) {
      log_.LogSystemError(reply.transport.systemError);
    }
    log_.Log(reply.transport.delivered && rules.namesBadStatusApart ? names.failStatus : names.failed);
    return false;
  }

  map_ = WithRegion(map_, query, reply.value, nor);
  LogMemoryMap(query);

  std::uint32_t regionSize = map_.FirmwareSize();
  std::uint32_t imageCount = pages.FirmwarePages(map_.SmallBlock());
  if (query == RegionQuery::Boot) {
    if (map_.bootSize == 0) {
      log_.Log("User can't upgrade the boot code.");
      return true;
    }
    regionSize = map_.bootSize;
    imageCount = pages.bootImagePages;
  } else if (query == RegionQuery::Font) {
    regionSize = map_.fontSize;
    imageCount = pages.fontImagePages;
  }
  if (regionSize < imageCount) {
    log_.Log(names.tooLarge);
    return false;
  }
  return true;
}

void MemoryQuery::LogMemoryMap(RegionQuery query) {
  const MemoryMap& m = map_;
  switch (query) {
    case RegionQuery::Firmware:
      log_.Logf("F/W Size=0x%04X, 1BLK=0x%08X, 2BLK=0x%08X", m.FirmwareSize(), m.FirmwareAddr1(), m.FirmwareAddr2());
      break;
    case RegionQuery::Boot:
      log_.Logf("BootSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.bootSize, m.bootAddr1, m.bootAddr2);
      break;
    case RegionQuery::Font:
      log_.Logf("FontSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.fontSize, m.fontAddr1, m.fontAddr2);
      break;
    case RegionQuery::Backup:
      log_.Logf("BackupSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.FirmwareSize(), m.backupAddr1, m.backupAddr2);
      break;
  }
}

std::string WithProduct(const std::string& versionLine, const std::array<std::uint8_t, kProductReplyLength>& reply) {
  return Format("%s  Product:%s", versionLine.c_str(), ProductName(reply.data()).c_str());
}

}  // namespace romsetter
