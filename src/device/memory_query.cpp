// The device's memory map, the initialisation that reads it, and the product query.
#include <array>
#include <cstring>

#include "device/device_link.h"

namespace romsetter {

namespace {

struct QueryNames {
  VendorCode command;
  std::uint32_t length;
  const char* failed;      // not delivered / bad status over pass-through / ASPI wait ran out
  const char* failStatus;  // ASPI: completed with an error status
};

bool NamesOf(int code, QueryNames& names) {
  switch (code) {
    case 1:
      names = {UPT_FW_GET_SIZE, kRegionReplyLength, "UPT_FW_GET_SIZE Failed!!", "<FAIL> UPT_FW_GET_SIZE"};
      return true;
    case 6:
      names = {UPT_BOOT_GET_SIZE, kRegionReplyLength, "UPT_BOOT_GET_SIZE Failed!!", "<FAIL> UPT_BOOT_GET_SIZE"};
      return true;
    case 9:
      names = {FONT_GET_BLK_INFO, kRegionReplyLength, "FONT_GET_BLK_INFO Failed!!", "<FAIL> FONT_GET_BLK_INFO"};
      return true;
    case 32:
      names = {BACKUP_FW_GET_SIZE_32, kBackupReplyLength, "BACKUP_FW_GET_SIZE_32 Failed!!",
               "<FAIL> BACKUP_FW_GET_SIZE"};
      return true;
    default:
      return false;
  }
}

// The eight version characters as the window shows them: a NUL ends the text there.
std::string VersionLine(const std::uint8_t* v) {
  std::string text = Format("Ver:%c%c%c%c%c%c%c%c", v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// The product name: up to the first NUL, never past the 20 bytes of the reply.
std::string ProductName(const std::uint8_t* reply) {
  std::size_t n = 0;
  while (n < kProductReplyLength && reply[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(reply), n);
}

}  // namespace

bool DeviceLink::InitDevice() {
  log_.Log("Initiating InDisk...");
  InquiryReply inquiry{};
  if (!Inquiry(inquiry).delivered) {
    log_.Log("Initiating INQUIRY_BUFFER_LENGTH error!");
    return false;
  }
  if (!selections_.norSelected) {
    if (!TestUnitReady()) {
      log_.Log("Initiating SCSI_TST_U_RDY error!");
      return false;
    }
  } else if (selections_.loadBootCode && !GetMemInfo(6)) {
    log_.Log("GetMemInfo(UPT_BOOT_GET_SIZE) error!");
    return false;
  }
  if (selections_.loadFirmware && !GetMemInfo(1)) {
    log_.Log("GetMemInfo(UPT_FW_GET_SIZE) error!");
    return false;
  }
  if (selections_.loadFont && !GetMemInfo(9)) {
    log_.Log("GetMemInfo(FONT_GET_BLK_INFO) error!");
    return false;
  }
  return true;
}

bool DeviceLink::GetDeviceStatus() {
  if (selections_.norSelected) return true;
  return TestUnitReady();
}

bool DeviceLink::GetMemInfo(int code) {
  QueryNames names;
  if (!NamesOf(code, names)) return false;

  const bool haveImage = code == 6   ? imagePages.bootImagePages != 0
                         : code == 9 ? imagePages.fontImagePages != 0
                                     : imagePages.bigImagePages != 0 || imagePages.smallImagePages != 0;
  if (!haveImage) return false;

  std::array<std::uint8_t, kPageSize> reply{};
  const ScsiResult result = Query(names.command, reply.data(), names.length);
  if (!IsAspi()) {
    if (!result.delivered) log_.LogSystemError(result.systemError);
    if (!result.delivered || !result.statusGood) {
      log_.Log(names.failed);
      return false;
    }
  } else if (!result.delivered) {
    log_.Log(names.failed);
    return false;
  } else if (!result.statusGood) {
    log_.Log(names.failStatus);
    return false;
  }

  MemoryMap& map = memoryMap;
  std::uint16_t regionSize = 0;
  std::uint32_t imageCount = 0;
  if (code == 32) {
    map.backupAddr1 = ReadBe32(&reply[0]);
    map.backupAddr2 = ReadBe32(&reply[4]);
    regionSize = map.FirmwareSize();
    imageCount = imagePages.FirmwarePages(map);
  } else {
    const std::uint16_t size = ReadBe16(&reply[0]);
    const std::uint32_t addr1 = ReadBe32(&reply[2]);
    const std::uint32_t addr2 = ReadBe32(&reply[6]);
    if (selections_.norSelected) {
      map.gapLength = ReadBe16(&reply[6]);
      map.gapStart = ReadBe16(&reply[8]);
      map.flashType = 0;
    } else {
      map.gapLength = 0;
      map.gapStart = 0;
      if (code == 1) map.flashType = reply[6];
    }
    if (code == 1) {
      // Each region reply carries a gap; the firmware writer must skip the firmware's own.
      map.fwGapLength = map.gapLength;
      map.fwGapStart = map.gapStart;
      if (map.SmallBlock()) {
        map.fwSizeSmall = size;
        map.fwAddr1Small = addr1;
        map.fwAddr2Small = addr2;
      } else {
        map.fwSize = size;
        map.fwAddr1 = addr1;
        map.fwAddr2 = addr2;
      }
      imageCount = imagePages.FirmwarePages(map);
    } else if (code == 6) {
      map.bootSize = size;
      map.bootAddr1 = addr1;
      map.bootAddr2 = addr2;
      imageCount = imagePages.bootImagePages;
    } else {
      map.fontSize = size;
      map.fontAddr1 = addr1;
      map.fontAddr2 = addr2;
      imageCount = imagePages.fontImagePages;
    }
    regionSize = size;
  }

  LogMemoryMap(code);

  if (code == 6 && map.bootSize == 0) {
    log_.Log("User can't upgrade the boot code.");
    return true;
  }
  if (regionSize < imageCount) {
    switch (code) {
      case 1: log_.Log("F/W file Size is larger then device memory."); break;
      case 6: log_.Log("Boot file Size is larger then device memory."); break;
      case 9: log_.Log("Font file Size is larger then device memory."); break;
      default: log_.Log("Backup F/W file Size is larger then device memory."); break;
    }
    return false;
  }
  return true;
}

void DeviceLink::LogMemoryMap(int code) {
  const MemoryMap& m = memoryMap;
  switch (code) {
    case 1:
      log_.Logf("F/W Size=0x%04X, 1BLK=0x%08X, 2BLK=0x%08X", m.FirmwareSize(), m.FirmwareAddr1(),
                m.FirmwareAddr2());
      break;
    case 6:
      log_.Logf("BootSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.bootSize, m.bootAddr1, m.bootAddr2);
      break;
    case 9:
      log_.Logf("FontSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.fontSize, m.fontAddr1, m.fontAddr2);
      break;
    case 32:
      log_.Logf("BackupSize=0x%04X, 1Addr=0x%08X, 2Addr=0x%08X", m.FirmwareSize(), m.backupAddr1, m.backupAddr2);
      break;
    default:
      break;
  }
}

bool DeviceLink::QueryProduct(int code) {
  if (!devicePresent) return false;

  std::array<std::uint8_t, kPageSize> reply{};
  if (IsAspi()) {
    // A job of its own: the device is addressed afresh by the scan of the status probe.
    aspi_->BeginJob();
    if (aspi_->Available() && aspi_->CreateEvent() && scanAspiTargets && scanAspiTargets() && GetDeviceStatus()) {
      const ScsiResult version = Query(DEV_GET_VERSION, reply.data(), kVersionReplyLength);
      if (version.delivered && version.statusGood) {
        versionLabel = VersionLine(reply.data());
        reply.fill(0);
        const ScsiResult product = Query(DEV_GET_PRODUCT, reply.data(), kProductReplyLength);
        if (product.delivered && product.statusGood) {
          versionLabel = Format("%s  Product:%s", versionLabel.c_str(), ProductName(reply.data()).c_str());
        }
      } else {
        versionLabel = "Checking product is not supported";
      }
    }
    aspi_->EndJob();
    window_.SetVersionLine(versionLabel);
    return true;
  }

  // Nothing was asked of the device, so nothing can be reported as learnt.
  if (drive_ == nullptr || !drive_->DriveOpen()) return false;
  if (code != DEV_GET_VERSION && code != DEV_GET_PRODUCT) return false;
  const bool versionQuery = code == DEV_GET_VERSION;
  const ScsiResult result = versionQuery ? Query(DEV_GET_VERSION, reply.data(), kVersionReplyLength)
                                         : Query(DEV_GET_PRODUCT, reply.data(), kProductReplyLength);
  bool ok = result.delivered && result.statusGood;
  if (!ok) {
    versionLabel = "Checking product is not supported.";
  } else if (versionQuery) {
    versionLabel = VersionLine(reply.data());
  } else {
    versionLabel = Format("%s  Product:%s", versionLabel.c_str(), ProductName(reply.data()).c_str());
  }
  window_.SetVersionLine(versionLabel);
  return ok;
}

}  // namespace romsetter
