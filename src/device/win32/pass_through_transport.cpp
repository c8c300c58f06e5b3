#include "device/win32/pass_through_transport.h"

#include <windows.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace romsetter {

namespace {
struct Block {
  SCSI_PASS_THROUGH_DIRECT record;
  std::uint8_t unused[PassThroughTransport::kBlockSize - sizeof(SCSI_PASS_THROUGH_DIRECT)];
};
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
    : ioControl_(std::move(ioControl)), handle_(INVALID_HANDLE_VALUE) {}

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

ScsiResult PassThroughTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  ScsiResult result;
  if (!ioControl_) return result;

  Block block;
  std::memset(&block, 0, sizeof block);
  SCSI_PASS_THROUGH_DIRECT& record = block.record;
  record.Length = static_cast<USHORT>(sizeof record);
  record.CdbLength = static_cast<UCHAR>(std::min<std::size_t>(request.cdbLength, sizeof record.Cdb));
  record.SenseInfoLength = 0;
  // A command without data phase goes out as data-out with length 0.
  record.DataIn = request.direction == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  record.DataTransferLength = request.length;
  record.TimeOutValue = kTimeOutSeconds;
  record.DataBuffer = buffer;
  record.SenseInfoOffset = 0;
  std::memcpy(record.Cdb, request.cdb.data(), record.CdbLength);

  std::uint32_t returned = 0;
  result.delivered =
      ioControl_(handle_, kIoctlScsiPassThroughDirect, &block, sizeof block, &block, sizeof block, &returned);
  if (!result.delivered) {
    result.systemError = GetLastError();
    return result;
  }
  result.statusGood = record.ScsiStatus == 0;
  return result;
}

}  // namespace romsetter
