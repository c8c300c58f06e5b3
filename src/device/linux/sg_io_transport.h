#pragma once
// The Linux transport: the SG_IO ioctl of the SCSI generic layer on an open /dev/sgN, or on
// the disk's /dev/sdX, which takes the same request.  It belongs to the pass-through family:
// the same statuses count for the same commands as with the NT pass-through.
#include <scsi/sg.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/scsi_transport.h"

namespace romsetter {

// The three system calls the transport makes, injectable so tests and the emulator can answer
// them.  Each returns as the system call does: -1 with errno set on failure.
struct NodeCalls {
  std::function<int(const std::string& path, int flags)> open;
  std::function<int(int fd)> close;
  // ioctl(fd, SG_IO, header): 0 when the request was carried out (its outcome in the header).
  std::function<int(int fd, sg_io_hdr_t* header)> sgIo;
};

// open(2), close(2) and ioctl(2) themselves; the open is exclusive and locked (EBUSY when
// another program holds the device).
NodeCalls SystemNodeCalls();

// What the last command's header said, read out after the call.
struct SgIoOutcome {
  int ioctlResult = 0;
  int error = 0;  // errno of a failed ioctl
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  int resid = 0;
  std::uint32_t transferred = 0;  // the bytes the device moved, from resid, within the length
  std::vector<std::uint8_t> sense;  // as written, at most kSenseLength bytes
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;  // decoded from fixed or descriptor sense
};

class SgIoTransport final : public DriveTransport {
 public:
  // The pass-through's 2000 seconds: an erase or a format may take long, and a command the
  // kernel times out is aborted and the device reset under the job.
  static constexpr unsigned kTimeoutMs = 2000u * 1000u;
  static constexpr std::uint8_t kSenseLength = 32;
  static constexpr std::uint8_t kStatusCheckCondition = 0x02;
  static constexpr std::uint16_t kDriverSense = 0x08;  // only says the sense buffer is valid
  static constexpr std::uint16_t kDriverTimeout = 0x06;
  static constexpr std::uint16_t kHostTimeOut = 0x03;  // DID_TIME_OUT

  explicit SgIoTransport(NodeCalls calls = SystemNodeCalls());
  ~SgIoTransport() override;
  SgIoTransport(const SgIoTransport&) = delete;
  SgIoTransport& operator=(const SgIoTransport&) = delete;

  // Opens the node for read and write; `systemError` is errno when it does not open.
  bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) override;
  void CloseDrive() override;
  bool DriveOpen() const override { return fd_ >= 0; }

  const SgIoOutcome& lastOutcome() const { return last_; }

 protected:
  // delivered: the ioctl succeeded and neither the host adapter nor the driver reports a
  // failure (a valid sense buffer is no failure); statusGood: SCSI status 0.  A failed
  // request's systemError is errno, ETIMEDOUT for a time-out, EIO for another host or
  // driver failure.  A short reply fills only the bytes the device sent, as on the NT
  // family: the rest of the destination keeps its content.
  ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) override;

 private:
  NodeCalls calls_;
  int fd_ = -1;
  SgIoOutcome last_;
};

// Sense key, additional sense code and qualifier of fixed (0x70/0x71) or descriptor
// (0x72/0x73) sense data; all 0 when the data is too short or of another format.
void DecodeSense(const std::vector<std::uint8_t>& sense, std::uint8_t& key, std::uint8_t& asc, std::uint8_t& ascq);

}  // namespace romsetter
