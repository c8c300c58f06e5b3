#include "emulator/linux/usb_gadget/usb_disk.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/format.h"
#include "device/vendor_commands.h"

namespace romsetter {

namespace {

constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"

constexpr std::uint8_t kTestUnitReady = 0x00, kRequestSense = 0x03, kInquiry = 0x12, kModeSense6 = 0x1A,
                       kStartStop = 0x1B, kPreventAllow = 0x1E, kReadCapacity10 = 0x25, kRead10 = 0x28,
                       kWrite10 = 0x2A, kVerify10 = 0x2F, kSyncCache10 = 0x35, kModeSense10 = 0x5A;

constexpr std::uint8_t kIllegalRequest = 0x05;
constexpr std::uint8_t kInvalidOpcode = 0x20, kLbaOutOfRange = 0x21, kInvalidFieldInCdb = 0x24;

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

bool ParseCbw(const std::uint8_t* data, std::size_t size, Cbw& out) {
  if (data == nullptr || size != Cbw::kSize || Le32(data) != kCbwSignature) return false;
  out.tag = Le32(data + 4);
  out.length = Le32(data + 8);
  out.in = (data[12] & 0x80) != 0;
  out.lun = data[13] & 0x0F;
  out.cdbLength = data[14] & 0x1F;
  if (out.lun != 0 || out.cdbLength < 1 || out.cdbLength > out.cdb.size()) return false;
  out.cdb.fill(0);
  std::memcpy(out.cdb.data(), data + 15, out.cdbLength);
  return true;
}

std::array<std::uint8_t, kCswSize> MakeCsw(std::uint32_t tag, std::uint32_t residue, CswStatus status) {
  std::array<std::uint8_t, kCswSize> csw{};
  PutLe32(csw.data(), kCswSignature);
  PutLe32(csw.data() + 4, tag);
  PutLe32(csw.data() + 8, residue);
  csw[12] = status;
  return csw;
}

UsbDisk::UsbDisk(EmulatedDevice& device, std::vector<std::uint8_t> image) : device_(device), image_(std::move(image)) {
  image_.resize(image_.size() / kBlockSize * kBlockSize);
}

std::string UsbDisk::CommandName(const Cbw& cbw) {
  switch (cbw.cdb[0]) {
    case kVendorOpcode: return EmulatedCommandName(cbw.cdb.data(), cbw.cdbLength);
    case kTestUnitReady: return "TEST_UNIT_READY";
    case kRequestSense: return "REQUEST_SENSE";
    case kInquiry: return "INQUIRY";
    case kModeSense6: return "MODE_SENSE_6";
    case kModeSense10: return "MODE_SENSE_10";
    case kStartStop: return "START_STOP_UNIT";
    case kPreventAllow: return cbw.cdb[4] & 1 ? "PREVENT_MEDIUM_REMOVAL" : "ALLOW_MEDIUM_REMOVAL";
    case kReadCapacity10: return "READ_CAPACITY_10";
    case kRead10: return "READ_10";
    case kWrite10: return "WRITE_10";
    case kVerify10: return "VERIFY_10";
    case kSyncCache10: return "SYNCHRONIZE_CACHE_10";
    default: return Format("OPCODE_0x%02X", cbw.cdb[0]);
  }
}

UsbDisk::Reply UsbDisk::Fail(std::uint8_t key, std::uint8_t asc) {
  senseKey_ = key;
  asc_ = asc;
  return Reply{kCswFailed, 0};
}

UsbDisk::Reply UsbDisk::Good(std::uint32_t transferred) { return Reply{kCswGood, transferred}; }

UsbDisk::Reply UsbDisk::Run(const Cbw& cbw, std::uint8_t* data) {
  const std::uint8_t op = cbw.cdb[0];
  // A standard INQUIRY is the device's own; the vital product data pages a disk does not have.
  if (op == kVendorOpcode || op == kTestUnitReady || (op == kInquiry && (cbw.cdb[1] & 1) == 0)) {
    return ToDevice(cbw, data);
  }
  switch (op) {
    case kRequestSense: {
      std::uint8_t sense[18] = {0x70, 0, senseKey_, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc_, 0, 0, 0, 0, 0};
      senseKey_ = asc_ = 0;
      return Copy(cbw, data, sense, sizeof sense);
    }
    case kReadCapacity10: {
      std::uint8_t reply[8];
      PutBe32(reply, blocks() - 1);
      PutBe32(reply + 4, kBlockSize);
      return Copy(cbw, data, reply, sizeof reply);
    }
    case kModeSense6: return ModeSense(cbw, data, false);
    case kModeSense10: return ModeSense(cbw, data, true);
    case kRead10: return ReadWrite(cbw, data, false);
    case kWrite10: return ReadWrite(cbw, data, true);
    case kPreventAllow:
    case kStartStop:
    case kVerify10:
    case kSyncCache10: return cbw.length == 0 ? Good(0) : Reply{kCswPhaseError, 0};
    case kInquiry: return Fail(kIllegalRequest, kInvalidFieldInCdb);
    default: return Fail(kIllegalRequest, kInvalidOpcode);
  }
}

UsbDisk::Reply UsbDisk::ToDevice(const Cbw& cbw, std::uint8_t* data) {
  // Without a data phase the command goes out with length 0, as over every other transport.
  const DataDirection direction = cbw.in && cbw.length > 0 ? DataDirection::In : DataDirection::Out;
  if (direction == DataDirection::In) std::fill(data, data + cbw.length, 0);
  const EmulatedResult r = device_.Execute(cbw.cdb.data(), cbw.cdbLength, direction, data, cbw.length);
  // A command the device never took has no status to give: the host resets the device.
  if (r.outcome != EmulatedOutcome::Completed) return Reply{kCswPhaseError, 0};
  const std::uint32_t moved = std::min(r.transferred, cbw.length);
  if (!r.statusGood) {
    Fail(kIllegalRequest, kInvalidFieldInCdb);
    return Reply{kCswFailed, moved};
  }
  return Good(moved);
}

UsbDisk::Reply UsbDisk::Copy(const Cbw& cbw, std::uint8_t* data, const std::uint8_t* reply, std::uint32_t size) {
  if (cbw.length == 0) return Good(0);
  if (!cbw.in) return Reply{kCswPhaseError, 0};
  const std::uint32_t n = std::min(size, cbw.length);
  std::memcpy(data, reply, n);
  return Good(n);
}

UsbDisk::Reply UsbDisk::ModeSense(const Cbw& cbw, std::uint8_t* data, bool ten) {
  // The header alone: no block descriptor, no pages, not write-protected.
  const std::uint8_t six[4] = {3, 0, 0, 0};
  const std::uint8_t ten_[8] = {0, 6, 0, 0, 0, 0, 0, 0};
  return ten ? Copy(cbw, data, ten_, sizeof ten_) : Copy(cbw, data, six, sizeof six);
}

UsbDisk::Reply UsbDisk::ReadWrite(const Cbw& cbw, std::uint8_t* data, bool write) {
  const std::uint32_t lba = Be32(&cbw.cdb[2]);
  const std::uint32_t count = (cbw.cdb[7] << 8) | cbw.cdb[8];
  if (lba > blocks() || count > blocks() - lba) return Fail(kIllegalRequest, kLbaOutOfRange);
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kBlockSize;
  if (bytes == 0) return Good(0);
  // The host must move at least the blocks asked for, in the command's direction.
  if (cbw.in == write || cbw.length < bytes) return Reply{kCswPhaseError, 0};
  std::uint8_t* at = image_.data() + static_cast<std::uint64_t>(lba) * kBlockSize;
  if (write) {
    std::memcpy(at, data, bytes);
  } else {
    std::memcpy(data, at, bytes);
  }
  return Good(static_cast<std::uint32_t>(bytes));
}

}  // namespace romsetter
