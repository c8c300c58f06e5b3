#include "device/linux/sg_io_transport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace romsetter {

namespace {
constexpr std::uint16_t kDriverStatusMask = 0x0F;  // the upper bits are suggestions, not outcomes
}  // namespace

NodeCalls SystemNodeCalls() {
  NodeCalls calls;
  calls.open = [](const std::string& path, int flags) {
    // One program at a time per device: a device node is opened exclusively (the disk then
    // refuses other exclusive openers and mounts, the generic node other exclusive opens),
    // and every node is locked, which another romsetter-cli on any node of the same file
    // honours.  Either refusal is EBUSY.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode))) flags |= O_EXCL;
    const int fd = ::open(path.c_str(), flags);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int lockError = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      errno = lockError;
      return -1;
    }
    return fd;
  };
  calls.close = [](int fd) { return ::close(fd); };
  calls.sgIo = [](int fd, sg_io_hdr_t* header) { return ::ioctl(fd, SG_IO, header); };
  return calls;
}

void DecodeSense(const std::vector<std::uint8_t>& sense, std::uint8_t& key, std::uint8_t& asc, std::uint8_t& ascq) {
  key = asc = ascq = 0;
  if (sense.empty()) return;
  const std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && sense.size() >= 14) {
    key = sense[2] & 0x0F;
    asc = sense[12];
    ascq = sense[13];
  } else if ((code == 0x72 || code == 0x73) && sense.size() >= 4) {
    key = sense[1] & 0x0F;
    asc = sense[2];
    ascq = sense[3];
  }
}

SgIoTransport::SgIoTransport(NodeCalls calls) : calls_(std::move(calls)) {}

SgIoTransport::~SgIoTransport() { CloseDrive(); }

bool SgIoTransport::OpenDrive(const std::string& devicePath, std::uint32_t& systemError) {
  CloseDrive();
  // Non-blocking, as the SCSI generic driver asks of an open; SG_IO itself still blocks.
  const int fd = calls_.open ? calls_.open(devicePath, O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
  if (fd < 0) {
    systemError = calls_.open ? static_cast<std::uint32_t>(errno) : static_cast<std::uint32_t>(ENOSYS);
    return false;
  }
  fd_ = fd;
  systemError = 0;
  return true;
}

void SgIoTransport::CloseDrive() {
  if (fd_ >= 0 && calls_.close) calls_.close(fd_);
  fd_ = -1;
}

ScsiResult SgIoTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  ScsiResult result;
  last_ = SgIoOutcome{};
  if (!calls_.sgIo) return result;

  const bool in = request.direction == DataDirection::In && request.length > 0;
  // A reply lands in a copy of the destination, and only the bytes the device sent are taken
  // over: the kernel may hand back a whole zero-filled bounce buffer after a short reply,
  // which must never pass as the page read back.
  std::vector<std::uint8_t> reply;
  if (in) reply.assign(buffer, buffer + request.length);

  std::array<std::uint8_t, 16> cdb = request.cdb;
  std::array<std::uint8_t, kSenseLength> sense{};
  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.dxfer_direction = request.length == 0 ? SG_DXFER_NONE : in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  header.cmd_len = static_cast<unsigned char>(std::min<std::size_t>(request.cdbLength, cdb.size()));
  header.mx_sb_len = kSenseLength;
  header.dxfer_len = request.length;
  header.dxferp = request.length == 0 ? nullptr : in ? reply.data() : buffer;
  header.cmdp = cdb.data();
  header.sbp = sense.data();
  header.timeout = kTimeoutMs;

  SgIoOutcome& out = last_;
  out.ioctlResult = calls_.sgIo(fd_, &header);
  if (out.ioctlResult != 0) {
    out.error = errno;
    result.systemError = static_cast<std::uint32_t>(out.error != 0 ? out.error : EIO);
    return result;
  }
  out.status = header.status;
  out.hostStatus = header.host_status;
  out.driverStatus = header.driver_status;
  out.resid = header.resid;
  // A residual outside 0..length is the device's or driver's nonsense: trust no byte of it.
  out.transferred = header.resid < 0 || static_cast<std::uint32_t>(header.resid) > request.length
                        ? 0
                        : request.length - static_cast<std::uint32_t>(header.resid);
  out.sense.assign(sense.begin(), sense.begin() + std::min<std::size_t>(header.sb_len_wr, sense.size()));
  DecodeSense(out.sense, out.senseKey, out.asc, out.ascq);
  if (in) std::memcpy(buffer, reply.data(), out.transferred);

  const std::uint16_t driver = header.driver_status & kDriverStatusMask;
  if (header.host_status != 0 || (driver != 0 && driver != kDriverSense)) {
    const bool timedOut = header.host_status == kHostTimeOut || driver == kDriverTimeout;
    result.systemError = static_cast<std::uint32_t>(timedOut ? ETIMEDOUT : EIO);
    return result;
  }
  result.delivered = true;
  result.statusGood = header.status == 0;
  return result;
}

}  // namespace romsetter
