#pragma once
// The NT-family transport: the storage pass-through I/O control on the device's drive.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/scsi_transport.h"

namespace romsetter {

// DeviceIoControl without the overlapped argument: handle, control code, input block and
// size, output block and size, returned byte count.  True when the call succeeded; on
// failure the thread's last-error code tells why.  Injectable because wine refuses the
// pass-through on ordinary drives, so tests hand the block to the emulated device instead.
using IoControlCall = std::function<bool(void* handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                                         std::uint32_t outSize, std::uint32_t* returned)>;

// The system's own DeviceIoControl.
bool SystemIoControl(void* handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* returned);

class PassThroughTransport final : public DriveTransport {
 public:
  static constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
  static constexpr std::uint32_t kBlockSize = 80;  // the record and 36 bytes nobody uses
  // SCSI_PASS_THROUGH_DIRECT: 44 bytes on the 32-bit program (its pointer widens it on 64-bit).
  static constexpr std::uint32_t kRecordSize = sizeof(void*) == 4 ? 44 : 56;
  static constexpr std::uint32_t kTimeOutSeconds = 2000;
  // Sense bytes asked for in the block's spare room (36 bytes on 32-bit, 24 on 64-bit).
  static constexpr std::uint32_t kSenseLength = kBlockSize - kRecordSize < 32 ? kBlockSize - kRecordSize : 32;
  // Data buffers start on a page: that meets any adapter's alignment mask.
  static constexpr std::uintptr_t kAlignment = 4096;

  explicit PassThroughTransport(IoControlCall ioControl = SystemIoControl);
  ~PassThroughTransport() override;
  PassThroughTransport(const PassThroughTransport&) = delete;
  PassThroughTransport& operator=(const PassThroughTransport&) = delete;

  bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) override;
  void CloseDrive() override;
  bool DriveOpen() const override;
  // FSCTL_LOCK_VOLUME, then FSCTL_DISMOUNT_VOLUME, through the same I/O-control call as the
  // commands; both hold until the handle is closed.
  bool LockVolume(std::uint32_t& systemError) override;

 protected:
  // Also runs without an open drive (the call then fails on the invalid handle), so a
  // forgotten open shows up as an undelivered command, never as a crash.
  ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) override;

 private:
  // The page-aligned start of a bounce buffer of at least `length` bytes.
  std::uint8_t* AlignedBuffer(std::uint32_t length);

  IoControlCall ioControl_;
  void* handle_;
  std::vector<std::uint8_t> bounce_;
};

}  // namespace romsetter
