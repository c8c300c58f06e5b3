#include "emulator/linux/emulated_sg_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace romsetter {

namespace {
constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kMaskedCheckCondition = 0x01;
constexpr std::uint16_t kDriverSense = 0x08;
constexpr std::size_t kFixedSenseLength = 18;
constexpr std::uint8_t kMaxCdb = 16;
}  // namespace

EmulatedSgIo::EmulatedSgIo(EmulatedDevice& device, std::string nodePath)
    : device_(device), nodePath_(std::move(nodePath)) {}

NodeCalls EmulatedSgIo::Calls() {
  NodeCalls calls;
  calls.open = [this](const std::string& path, int) { return Open(path); };
  calls.close = [this](int fd) { return Close(fd); };
  calls.sgIo = [this](int fd, sg_io_hdr_t* header) { return Ioctl(fd, header); };
  return calls;
}

int EmulatedSgIo::Open(const std::string& path) {
  int error = openError_;
  if (error == 0 && (path != nodePath_ || !device_.attached())) error = ENOENT;
  if (error != 0) {
    errno = error;
    return -1;
  }
  open_ = true;
  return kFd;
}

int EmulatedSgIo::Close(int fd) {
  if (fd != kFd || !open_) {
    errno = EBADF;
    return -1;
  }
  open_ = false;
  return 0;
}

int EmulatedSgIo::Ioctl(int fd, sg_io_hdr_t* h) {
  if (fd != kFd || !open_) {
    errno = EBADF;
    return -1;
  }
  if (h == nullptr) {
    errno = EFAULT;
    return -1;
  }
  Sent sent{*h, {}};
  if (h->cmdp != nullptr) sent.cdb.assign(h->cmdp, h->cmdp + std::min<unsigned>(h->cmd_len, kMaxCdb));
  sent_.push_back(sent);
  if (h->interface_id != 'S') {
    errno = ENOSYS;
    return -1;
  }
  if (h->cmdp == nullptr || h->cmd_len < 6 || h->cmd_len > kMaxCdb || (h->dxfer_len > 0 && h->dxferp == nullptr)) {
    errno = h->cmdp == nullptr || h->dxfer_len > 0 ? EFAULT : EINVAL;
    return -1;
  }
  DataDirection direction = DataDirection::Out;
  switch (h->dxfer_direction) {
    case SG_DXFER_NONE:
      if (h->dxfer_len != 0) {
        errno = EINVAL;
        return -1;
      }
      break;
    case SG_DXFER_TO_DEV: break;
    case SG_DXFER_FROM_DEV: direction = DataDirection::In; break;
    default:
      errno = EINVAL;
      return -1;
  }
  if (!device_.attached()) {
    errno = ENODEV;  // the node of an unplugged device
    return -1;
  }

  std::vector<std::uint8_t> bounce(h->dxfer_len, 0);
  auto* user = static_cast<std::uint8_t*>(h->dxferp);
  if (direction == DataDirection::Out && !bounce.empty()) std::memcpy(bounce.data(), user, bounce.size());
  const EmulatedResult r = device_.Execute(h->cmdp, h->cmd_len, direction, bounce.data(), h->dxfer_len);

  h->status = h->masked_status = 0;
  h->host_status = h->driver_status = 0;
  h->sb_len_wr = 0;
  h->msg_status = 0;
  h->info = 0;
  h->duration = 0;
  h->resid = static_cast<int>(h->dxfer_len);
  switch (r.outcome) {
    case EmulatedOutcome::NotDelivered:
      if (!device_.attached()) {  // unplugged by this very command
        errno = ENODEV;
        return -1;
      }
      h->host_status = kHostError;
      h->info = SG_INFO_CHECK;
      return 0;
    case EmulatedOutcome::NoCompletion:
      h->host_status = kHostTimeOut;
      h->info = SG_INFO_CHECK;
      return 0;
    case EmulatedOutcome::Completed:
      break;
  }
  h->resid = static_cast<int>(h->dxfer_len - std::min(r.transferred, h->dxfer_len));
  if (direction == DataDirection::In && !bounce.empty()) std::memcpy(user, bounce.data(), bounce.size());
  if (!r.statusGood) {
    h->status = kCheckCondition;
    h->masked_status = kMaskedCheckCondition;
    h->driver_status = kDriverSense;
    h->info = SG_INFO_CHECK;
    std::uint8_t sense[kFixedSenseLength] = {0x70, 0, kSenseKey, 0, 0, 0, 0, 10, 0, 0, 0, 0, kSenseAsc, 0, 0, 0, 0, 0};
    const std::size_t n = std::min<std::size_t>(h->mx_sb_len, sizeof sense);
    if (h->sbp != nullptr && n > 0) std::memcpy(h->sbp, sense, n);
    h->sb_len_wr = static_cast<unsigned char>(h->sbp != nullptr ? n : 0);
  }
  return 0;
}

}  // namespace romsetter
