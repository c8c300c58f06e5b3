#include "device/linux/sg_io_transport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "base/format.h"

namespace romsetter {

namespace {
constexpr std::uint16_t kDriverStatusMask = 0x0F;  // the upper bits are suggestions, not outcomes
}  // namespace

std::string DeviceFolderOfNode(const std::string& sysfsRoot, bool block, unsigned major, unsigned minor) {
  std::string folder = Format("%s/dev/%s/%u:%u", sysfsRoot.c_str(), block ? "block" : "char", major, minor);
  struct stat info {};
  // A partition's folder lies inside its disk's: ".." after the link is the disk.
  if (block && ::stat((folder + "/partition").c_str(), &info) == 0) folder += "/..";
  return folder + "/device";
}

namespace {
// An exclusive lock on an open descriptor, without waiting: refused, the descriptor is closed
// and errno is EBUSY when another holds it.
int Locked(int fd) {
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int lockError = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    errno = lockError;
    return -1;
  }
  return fd;
}
}  // namespace

int LockDeviceFolder(const std::string& folder) {
  return Locked(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

NodeCalls SystemNodeCalls() {
  // The device locks taken, by the device's folder, held until the last copy of these calls
  // goes: a program keeps its device from its first open to its end, so no other slips in
  // between its first queries and its job, or between two steps of the job.
  struct DeviceLocks {
    std::mutex mutex;
    std::map<std::string, int> held;
    ~DeviceLocks() {
      for (const auto& entry : held) ::close(entry.second);
    }
  };
  const auto locks = std::make_shared<DeviceLocks>();
  NodeCalls calls;
  calls.open = [locks](const std::string& path, int flags) {
    // One program at a time per device: the device is locked first, so a program refused
    // never holds even a node of it for a moment (which could fail the holder's next open);
    // then the node is opened exclusively (the disk then refuses other exclusive openers and
    // mounts, the generic node other exclusive opens) and locked, which another
    // romsetter-cli on any path to the node honours.  Every refusal is EBUSY.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode))) {
      flags |= O_EXCL;
      // A node of no SCSI device (no folder to lock) has its own lock only.
      char* real = ::realpath(
          DeviceFolderOfNode("/sys", S_ISBLK(info.st_mode), ::major(info.st_rdev), ::minor(info.st_rdev)).c_str(),
          nullptr);
      if (real != nullptr) {
        const std::string folder = real;
        std::free(real);
        const std::lock_guard<std::mutex> hold(locks->mutex);
        if (locks->held.count(folder) == 0) {
          const int lock = LockDeviceFolder(folder);
          if (lock >= 0) {
            locks->held[folder] = lock;
          } else if (errno == EBUSY) {
            return -1;
          }
        }
      }
    }
    return Locked(::open(path.c_str(), flags));
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
