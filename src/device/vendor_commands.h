#pragma once
// Sub-command codes of the vendor command set (operation code 0xFF) and the standard commands.
#include <cstdint>

namespace romsetter {

constexpr std::uint8_t kVendorOpcode = 0xFF;
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint32_t kInquiryLength = 36;

enum VendorCode : std::uint8_t {
  UPT_FW_GET_SIZE = 0x01,
  UPT_FW_ERASE_MEM = 0x02,
  UPT_WRITE_PAGE = 0x03,
  UPT_READ_PAGE = 0x04,
  UPT_FW_RESTART_SYS = 0x05,
  UPT_BOOT_GET_SIZE = 0x06,
  UPT_BOOT_ERASE_MEM = 0x07,
  FONT_GET_BLK_INFO = 0x09,
  FONT_ERASE_FONT_BLKS = 0x0A,
  FONT_WRITE_PAGE = 0x0B,
  FONT_READ_PAGE = 0x0C,
  FONT_END_OF_UPDATE = 0x0D,
  DEV_FORMAT_16 = 0x10,
  DEV_GET_VERSION = 0x11,
  DEV_GET_PRODUCT = 0x12,
  BACKUP_FW_GET_SIZE_32 = 0x20,
  BACKUP_FW_ERASE_MEM = 0x21,
};

// The commands by what they do, so no bare code can name the wrong one.
enum class RegionQuery : std::uint8_t {
  Firmware = UPT_FW_GET_SIZE,
  Boot = UPT_BOOT_GET_SIZE,
  Font = FONT_GET_BLK_INFO,
  Backup = BACKUP_FW_GET_SIZE_32,
};
enum class EraseCommand : std::uint8_t {
  Firmware = UPT_FW_ERASE_MEM,
  Boot = UPT_BOOT_ERASE_MEM,
  Font = FONT_ERASE_FONT_BLKS,
  Backup = BACKUP_FW_ERASE_MEM,
};
enum class ControlCommand : std::uint8_t { Restart = UPT_FW_RESTART_SYS, EndOfFontUpdate = FONT_END_OF_UPDATE };
enum class ProductQuery : std::uint8_t { Version = DEV_GET_VERSION, Product = DEV_GET_PRODUCT };
// Page commands address the firmware and boot area (0x03/0x04) or the font area (0x0B/0x0C).
enum class PageArea { Firmware, Font };

// A region reply decoded (bytes 0-1, 2-5, 6-9, big-endian); the backup reply fills only the
// two addresses.  Bytes 6-9 also carry the flash type (byte 6) or the NOR gap (6-7, 8-9).
struct RegionReply {
  std::uint16_t size = 0;
  std::uint32_t addr1 = 0;
  std::uint32_t addr2 = 0;
};

constexpr std::uint32_t kRegionReplyLength = 10;
constexpr std::uint32_t kBackupReplyLength = 8;
constexpr std::uint32_t kVersionReplyLength = 8;
constexpr std::uint32_t kProductReplyLength = 20;

}  // namespace romsetter
