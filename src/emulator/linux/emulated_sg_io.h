#pragma once
// The SG_IO ioctl as the kernel carries it out, answered by an emulated device: the header is
// decoded, the command runs on the device through a zero-filled bounce buffer that is copied
// back whole (as the kernel's indirect transfer does), and status, host and driver status,
// sense data and residual are filled in.  Open answers one node path only.
#include <cstdint>
#include <string>
#include <vector>

#include "device/linux/sg_io_transport.h"
#include "emulator/emulated_device.h"

namespace romsetter {

class EmulatedSgIo {
 public:
  // A descriptor number no test process holds, so a stray close never hits a real file.
  static constexpr int kFd = 0x5347;
  static constexpr std::uint16_t kHostError = 0x07;     // DID_ERROR: the request did not go out
  static constexpr std::uint16_t kHostTimeOut = 0x03;   // DID_TIME_OUT
  static constexpr std::uint8_t kSenseKey = 0x05;       // ILLEGAL REQUEST
  static constexpr std::uint8_t kSenseAsc = 0x24;       // INVALID FIELD IN CDB

  // What one ioctl was handed.
  struct Sent {
    sg_io_hdr_t header;  // its pointers are not kept valid
    std::vector<std::uint8_t> cdb;
  };

  EmulatedSgIo(EmulatedDevice& device, std::string nodePath);

  // Calls for an SgIoTransport; they refer to this object, which must outlive the transport.
  NodeCalls Calls();
  // Opens fail with this errno from now on (0: open normally).
  void FailOpen(int error) { openError_ = error; }
  const std::vector<Sent>& sent() const { return sent_; }
  bool open() const { return open_; }

 private:
  int Open(const std::string& path);
  int Close(int fd);
  int Ioctl(int fd, sg_io_hdr_t* header);

  EmulatedDevice& device_;
  std::string nodePath_;
  int openError_ = 0;
  bool open_ = false;
  std::vector<Sent> sent_;
};

}  // namespace romsetter
