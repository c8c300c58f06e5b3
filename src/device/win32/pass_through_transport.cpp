#include "device/win32/pass_through_transport.h"

#include <windows.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace romsetter {

namespace {
// The record, then its spare room, whose first bytes take the sense data.
struct Block {
  SCSI_PASS_THROUGH_DIRECT record;
  std::uint8_t spare[PassThroughTransport::kBlockSize - sizeof(SCSI_PASS_THROUGH_DIRECT)];
};
static_assert(PassThroughTransport::kSenseLength <= sizeof(Block::spare), "the sense data fits the spare room");
}  // namespace

static_assert(sizeof(Block) == PassThroughTransport::kBlockSize, "the 80-byte request block");
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == PassThroughTransport::kRecordSize, "pass-through record layout");
#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "the 32-bit pass-through record");
#endif
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == PassThroughTransport::kIoctlScsiPassThroughDirect,
              "pass-through control code");

bool SystemIoControl(void* handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* returned) {
  DWORD count = 0;
  const BOOL ok = DeviceIoControl(handle, code, in, inSize, out, outSize, &count, nullptr);
  if (returned != nullptr) *returned = count;
  return ok != FALSE;
}

PassThroughTransport::PassThroughTransport(IoControlCall ioControl)
    : ioControl_(std::move(ioControl)), handle_(INVALID_HANDLE_VALUE), bounce_(kBufferSize + kAlignment) {}

std::uint8_t* PassThroughTransport::AlignedBuffer(std::uint32_t length) {
  if (bounce_.size() < length + kAlignment) bounce_.resize(length + kAlignment);
  const auto address = reinterpret_cast<std::uintptr_t>(bounce_.data());
  return bounce_.data() + ((kAlignment - address % kAlignment) % kAlignment);
}

PassThroughTransport::~PassThroughTransport() { CloseDrive(); }

bool PassThroughTransport::OpenDrive(const std::string& devicePath, std::uint32_t& systemError) {
  CloseDrive();
  handle_ = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    systemError = GetLastError();
    return false;
  }
  systemError = 0;
  return true;
}

void PassThroughTransport::CloseDrive() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool PassThroughTransport::DriveOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

bool PassThroughTransport::LockVolume(std::uint32_t& systemError) {
  systemError = 0;
  std::uint32_t returned = 0;
  if (!ioControl_ || !ioControl_(handle_, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned) ||
      !ioControl_(handle_, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
    systemError = GetLastError();
    return false;
  }
  return true;
}

ScsiResult PassThroughTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  ScsiResult result;
  if (!ioControl_) return result;

  // Some adapters refuse a buffer that misses their alignment mask; a page-aligned one meets
  // every mask.  It starts as the caller's buffer, so bytes a short reply leaves keep it.
  std::uint8_t* data = AlignedBuffer(request.length);
  std::memcpy(data, buffer, request.length);

  Block block;
  std::memset(&block, 0, sizeof block);
  SCSI_PASS_THROUGH_DIRECT& record = block.record;
  record.Length = static_cast<USHORT>(sizeof record);
  record.CdbLength = static_cast<UCHAR>(std::min<std::size_t>(request.cdbLength, sizeof record.Cdb));
  // The reason for a CHECK CONDITION lands in the block's spare room.
  record.SenseInfoLength = static_cast<UCHAR>(kSenseLength);
  // A command without data phase goes out as data-out with length 0.
  record.DataIn = request.direction == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  record.DataTransferLength = request.length;
  record.TimeOutValue = kTimeOutSeconds;
  record.DataBuffer = data;
  record.SenseInfoOffset = static_cast<ULONG>(offsetof(Block, spare));
  std::memcpy(record.Cdb, request.cdb.data(), record.CdbLength);

  std::uint32_t returned = 0;
  result.delivered =
      ioControl_(handle_, kIoctlScsiPassThroughDirect, &block, sizeof block, &block, sizeof block, &returned);
  if (!result.delivered) {
    result.systemError = GetLastError();
    return result;
  }
  if (request.direction == DataDirection::In) std::memcpy(buffer, data, request.length);
  result.statusGood = record.ScsiStatus == 0;
  if (!result.statusGood) {
    result.detail.known = true;
    result.detail.targetStatus = record.ScsiStatus;
    ReadSenseData(block.spare, std::min<std::size_t>(record.SenseInfoLength, kSenseLength), result.detail);
  }
  return result;
}

}  // namespace romsetter
