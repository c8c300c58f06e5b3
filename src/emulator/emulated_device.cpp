#include "emulator/emulated_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/bytes.h"
#include "device/vendor_commands.h"

namespace romsetter {

namespace {

constexpr std::uint32_t kFnvOffset = 0x811C9DC5u;
constexpr std::uint32_t kFnvPrime = 0x01000193u;
constexpr std::size_t kInquiryTextOffset = 8;
constexpr std::size_t kInquiryTextLength = 28;
constexpr std::uint8_t kCorruptMask = 0xFF;  // always changes the byte, whatever it held

using Cdb = std::array<std::uint8_t, 16>;

// Bytes past the CDB's length read as 0, as they do in every request the host builds.
Cdb CopyCdb(const std::uint8_t* cdb, std::uint8_t cdbLength) {
  Cdb c{};
  if (cdb != nullptr) std::memcpy(c.data(), cdb, std::min<std::size_t>(cdbLength, c.size()));
  return c;
}

bool IsPageCode(std::uint8_t code) {
  return code == UPT_WRITE_PAGE || code == UPT_READ_PAGE || code == FONT_WRITE_PAGE || code == FONT_READ_PAGE;
}
bool IsWriteCode(std::uint8_t code) { return code == UPT_WRITE_PAGE || code == FONT_WRITE_PAGE; }
bool IsReadCode(std::uint8_t code) { return code == UPT_READ_PAGE || code == FONT_READ_PAGE; }

const char* VendorName(const Cdb& c) {
  switch (c[1]) {
    case UPT_FW_GET_SIZE: return "UPT_FW_GET_SIZE";
    case UPT_FW_ERASE_MEM: return "UPT_FW_ERASE_MEM";
    case UPT_WRITE_PAGE: return ReadPageParam(&c[7]) == 0 ? "UPT_MARK_ERROR_PAGE" : "UPT_WRITE_PAGE";
    case UPT_READ_PAGE: return "UPT_READ_PAGE";
    case UPT_FW_RESTART_SYS: return "UPT_FW_RESTART_SYS";
    case UPT_BOOT_GET_SIZE: return "UPT_BOOT_GET_SIZE";
    case UPT_BOOT_ERASE_MEM: return "UPT_BOOT_ERASE_MEM";
    case FONT_GET_BLK_INFO: return "FONT_GET_BLK_INFO";
    case FONT_ERASE_FONT_BLKS: return "FONT_ERASE_FONT_BLKS";
    case FONT_WRITE_PAGE: return "FONT_WRITE_PAGE";
    case FONT_READ_PAGE: return "FONT_READ_PAGE";
    case FONT_END_OF_UPDATE: return "FONT_END_OF_UPDATE";
    case DEV_FORMAT_16: return "DEV_FORMAT_16";
    case DEV_GET_VERSION: return "DEV_GET_VERSION";
    case DEV_GET_PRODUCT: return "DEV_GET_PRODUCT";
    case BACKUP_FW_GET_SIZE_32: return "BACKUP_FW_GET_SIZE_32";
    case BACKUP_FW_ERASE_MEM: return "BACKUP_FW_ERASE_MEM";
    default: return "UNKNOWN";
  }
}

void BusyWaitUntil(std::chrono::steady_clock::time_point end) {
  while (std::chrono::steady_clock::now() < end) {
  }
}

void PutText(std::uint8_t* out, std::size_t width, const std::string& text, std::uint8_t pad) {
  const std::size_t n = std::min(width, text.size());
  std::memcpy(out, text.data(), n);
  std::memset(out + n, pad, width - n);
}

// What the faults that fired ask of one command.
struct FaultEffect {
  bool detach = false;
  bool notDelivered = false;
  bool noCompletion = false;
  bool badStatus = false;
  std::uint8_t hostStatus = 0;
  bool writeIgnored = false;
  std::vector<std::uint32_t> corruptBytes;
};

}  // namespace

const char* EmulatedCommandName(const std::uint8_t* cdb, std::uint8_t cdbLength) {
  if (cdb == nullptr || cdbLength == 0) return "UNKNOWN";
  const Cdb c = CopyCdb(cdb, cdbLength);
  switch (c[0]) {
    case kOpTestUnitReady: return "SCSI_TST_U_RDY";
    case kOpInquiry: return "INQUIRY";
    case kVendorOpcode: return VendorName(c);
    default: return "UNKNOWN";
  }
}

std::uint32_t Fnv1a(const std::uint8_t* data, std::size_t length) {
  std::uint32_t h = kFnvOffset;
  for (std::size_t i = 0; i < length; ++i) {
    h ^= data[i];
    h *= kFnvPrime;
  }
  return h;
}

EmulatedDevice::EmulatedDevice(EmulatedDeviceConfig config)
    : config_(std::move(config)), attached_(config_.attached) {}

EmulatedDevice::Page EmulatedDevice::ReadFlash(std::uint32_t address) const {
  const auto it = flash_.find(address);
  if (it != flash_.end()) return it->second;
  Page erased;
  erased.fill(0xFF);
  return erased;
}

void EmulatedDevice::WriteFlash(std::uint32_t address, const Page& data) { flash_[address] = data; }

void EmulatedDevice::ProgramPage(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  Page page = ReadFlash(address);
  for (std::size_t i = 0; i < std::min(length, page.size()); ++i) page[i] &= data[i];
  flash_[address] = page;
}

void EmulatedDevice::EraseRange(std::uint32_t first, std::uint32_t count) {
  if (count == 0) return;
  // Clamp instead of wrapping, so a region near the top of the address space stays put.
  const std::uint64_t end = std::uint64_t{first} + count;
  auto it = flash_.lower_bound(first);
  while (it != flash_.end() && it->first < end) it = flash_.erase(it);
}

std::vector<TraceEntry> EmulatedDevice::TraceOf(const std::string& command) const {
  std::vector<TraceEntry> out;
  for (const TraceEntry& e : trace_) {
    if (e.command == command) out.push_back(e);
  }
  return out;
}

EmulatedResult EmulatedDevice::Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                                       std::uint8_t* buffer, std::uint32_t length) {
  // The latency is the whole time a command takes, the device's own work included.
  if (config_.latencyUs == 0) return Run(cdb, cdbLength, direction, buffer, length);
  const auto started = std::chrono::steady_clock::now();
  const EmulatedResult result = Run(cdb, cdbLength, direction, buffer, length);
  const auto mark = started + std::chrono::microseconds(config_.latencyUs);
  if (config_.latencySleeps) {
    std::this_thread::sleep_until(mark);
  } else {
    BusyWaitUntil(mark);
  }
  return result;
}

EmulatedResult EmulatedDevice::Run(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                                       std::uint8_t* buffer, std::uint32_t length) {
  if (buffer == nullptr) length = 0;
  const Cdb c = CopyCdb(cdb, cdbLength);
  const bool vendor = cdbLength > 0 && c[0] == kVendorOpcode;
  const std::uint8_t code = vendor ? c[1] : 0;
  const bool pageCommand = vendor && IsPageCode(code);

  TraceEntry entry;
  entry.command = EmulatedCommandName(cdb, cdbLength);
  entry.cdb = c;
  entry.cdbLength = cdbLength;
  entry.direction = direction;
  entry.length = length;
  if (pageCommand) {
    entry.pageAddress = ReadPageParam(&c[3]);
    entry.pageNumber = ReadPageParam(&c[7]);
  }
  if (direction == DataDirection::Out) {
    entry.digest = Fnv1a(buffer, length);
    if (config_.traceData && length > 0) entry.data.assign(buffer, buffer + length);
  } else {
    entry.digest = Fnv1a(nullptr, 0);
  }

  EmulatedResult result;
  if (!attached_) {
    result.outcome = EmulatedOutcome::NotDelivered;
    return Record(entry, result);
  }

  FaultEffect effect;
  const bool isMark = entry.command == std::string("UPT_MARK_ERROR_PAGE");
  for (EmulatorFault& f : config_.faults) {
    if (f.command != "*" && f.command != entry.command) continue;
    if (!f.anyPage && !(pageCommand && entry.pageAddress == f.page)) continue;
    // Data faults only count the commands they can act on, so "occurrence" means the n-th read.
    if ((f.kind == FaultKind::CorruptOnce || f.kind == FaultKind::BadPage) && !(vendor && IsReadCode(code))) continue;
    if (f.kind == FaultKind::WriteIgnored && !(vendor && IsWriteCode(code))) continue;
    if (f.matches != UINT32_MAX) ++f.matches;
    if (f.occurrence != 0 && f.matches != f.occurrence) continue;
    switch (f.kind) {
      case FaultKind::NotDelivered: effect.notDelivered = true; break;
      case FaultKind::BadStatus:
        effect.badStatus = true;
        if (f.hostStatus != 0) effect.hostStatus = f.hostStatus;
        break;
      case FaultKind::NoCompletion: effect.noCompletion = true; break;
      case FaultKind::WriteIgnored: effect.writeIgnored = true; break;
      case FaultKind::Detach: effect.detach = true; break;
      case FaultKind::BadPage: effect.corruptBytes.push_back(f.byteIndex); break;
      case FaultKind::CorruptOnce:
        if (!f.spent) {
          f.spent = true;
          effect.corruptBytes.push_back(f.byteIndex);
        }
        break;
    }
  }
  if (effect.detach) {
    attached_ = false;
    result.outcome = EmulatedOutcome::NotDelivered;
    return Record(entry, result);
  }
  if (effect.notDelivered) {
    result.outcome = EmulatedOutcome::NotDelivered;
    return Record(entry, result);
  }
  if (effect.noCompletion) {
    result.outcome = EmulatedOutcome::NoCompletion;
    return Record(entry, result);
  }
  result.outcome = EmulatedOutcome::Completed;
  if (effect.badStatus) {
    result.hostStatus = effect.hostStatus;
    return Record(entry, result);
  }

  std::uint8_t reply[kPageSize];
  std::size_t replyLength = 0;
  bool good = true;
  const bool dataIn = direction == DataDirection::In;

  if (cdbLength == 0) {
    good = false;
  } else if (c[0] == kOpTestUnitReady) {
    // Ready whenever attached.
  } else if (c[0] == kOpInquiry) {
    std::memset(reply, 0, kInquiryLength);
    reply[0] = 0x00;  // direct-access block device
    reply[1] = 0x80;  // removable
    reply[2] = 0x02;
    reply[3] = 0x02;
    reply[4] = static_cast<std::uint8_t>(kInquiryLength - 5);
    PutText(reply + kInquiryTextOffset, kInquiryTextLength, config_.inquiry, ' ');
    replyLength = std::min<std::size_t>(kInquiryLength, c[4]);
  } else if (!vendor || !config_.answersVendorCommands) {
    good = false;
  } else {
    switch (code) {
      case UPT_FW_GET_SIZE:
      case UPT_BOOT_GET_SIZE:
      case FONT_GET_BLK_INFO: {
        const RegionReply& r = code == UPT_FW_GET_SIZE ? config_.firmware
                               : code == UPT_BOOT_GET_SIZE ? config_.boot
                                                           : config_.font;
        WriteBe16(reply, r.size);
        WriteBe32(reply + 2, r.addr1);
        WriteBe32(reply + 6, r.addr2);
        replyLength = kRegionReplyLength;
        break;
      }
      case BACKUP_FW_GET_SIZE_32:
        WriteBe32(reply, config_.backupAddr1);
        WriteBe32(reply + 4, config_.backupAddr2);
        replyLength = kBackupReplyLength;
        break;
      case DEV_GET_VERSION:
        PutText(reply, kVersionReplyLength, config_.version, ' ');
        replyLength = kVersionReplyLength;
        break;
      case DEV_GET_PRODUCT:
        PutText(reply, kProductReplyLength, config_.product, 0);
        replyLength = kProductReplyLength;
        break;
      case UPT_FW_ERASE_MEM:
        // A NOR image skips the gap, so its pages reach past the reported size by the gap's length.
        EraseRange(config_.firmware.addr1, std::uint32_t{config_.firmware.size} + config_.gapLength);
        break;
      case BACKUP_FW_ERASE_MEM:
        EraseRange(config_.backupAddr1, config_.firmware.size);
        EraseRange(config_.backupAddr2, config_.firmware.size);
        break;
      case UPT_BOOT_ERASE_MEM:
        EraseRange(config_.boot.addr1, config_.boot.size);
        break;
      case FONT_ERASE_FONT_BLKS:
        // Both locations: after a failed first attempt the host writes the second without erasing.
        EraseRange(config_.font.addr1, config_.font.size);
        EraseRange(config_.font.addr2, config_.font.size);
        break;
      case DEV_FORMAT_16:
        flash_.clear();
        break;
      case UPT_FW_RESTART_SYS:
        if (config_.detachOnRestart) attached_ = false;
        break;
      case FONT_END_OF_UPDATE:
        break;
      case UPT_WRITE_PAGE:
      case FONT_WRITE_PAGE:
        if (cdbLength < 11 || direction != DataDirection::Out || length < kPageSize) {
          good = false;
        } else if (effect.writeIgnored) {
          // Claims success, programs nothing.
        } else if (isMark) {
          // The device remaps the failed page, so the rewrite that follows lands on fresh flash.
          marked_.push_back(entry.pageAddress);
          flash_.erase(entry.pageAddress);
        } else {
          ProgramPage(entry.pageAddress, buffer, kPageSize);
        }
        break;
      case UPT_READ_PAGE:
      case FONT_READ_PAGE: {
        if (cdbLength < 11) {
          good = false;
          break;
        }
        const Page page = ReadFlash(entry.pageAddress);
        std::memcpy(reply, page.data(), kPageSize);
        for (std::uint32_t index : effect.corruptBytes) reply[index % kPageSize] ^= kCorruptMask;
        replyLength = kPageSize;
        break;
      }
      default:
        good = false;
        break;
    }
  }

  if (good && replyLength > 0) {
    if (!dataIn && length > 0) {
      good = false;  // a reply the host did not ask for: phase error
    } else if (dataIn) {
      std::size_t moved = std::min<std::size_t>(replyLength, length);
      if (config_.replyLimit > 0) moved = std::min<std::size_t>(moved, config_.replyLimit);
      if (moved > 0) std::memcpy(buffer, reply, moved);
      entry.digest = Fnv1a(reply, moved);
      result.transferred = static_cast<std::uint32_t>(moved);
    }
  }
  result.statusGood = good;
  if (good && !dataIn) result.transferred = length;
  return Record(entry, result);
}

EmulatedResult EmulatedDevice::Record(TraceEntry& entry, const EmulatedResult& result) {
  entry.outcome = result.outcome;
  entry.statusGood = result.statusGood;
  trace_.push_back(std::move(entry));
  return result;
}

}  // namespace romsetter
