#pragma once
// The emulated device as a USB mass-storage disk: the bulk-only transport's command and status
// wrappers, and the SCSI commands a Linux kernel sends a disk, answered from a small disk image.
// The vendor command set, TEST UNIT READY and INQUIRY go to the emulated device unchanged, as
// every other transport delivers them.  No USB here: the gadget program moves the bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulated_device.h"

namespace romsetter {

// A command block wrapper as the host sent it.
struct Cbw {
  static constexpr std::size_t kSize = 31;
  std::uint32_t tag = 0;
  std::uint32_t length = 0;  // bytes of the data phase
  bool in = false;           // data phase device to host
  std::uint8_t lun = 0;
  std::uint8_t cdbLength = 0;  // 1..16
  std::array<std::uint8_t, 16> cdb{};
};

// False for anything but a valid 31-byte wrapper (signature, LUN and CDB length checked).
bool ParseCbw(const std::uint8_t* data, std::size_t size, Cbw& out);

enum CswStatus : std::uint8_t { kCswGood = 0, kCswFailed = 1, kCswPhaseError = 2 };
constexpr std::size_t kCswSize = 13;
std::array<std::uint8_t, kCswSize> MakeCsw(std::uint32_t tag, std::uint32_t residue, CswStatus status);

class UsbDisk {
 public:
  static constexpr std::uint32_t kBlockSize = 512;

  // `image` is the disk the kernel reads and writes; its size is cut to whole blocks.
  UsbDisk(EmulatedDevice& device, std::vector<std::uint8_t> image);

  struct Reply {
    CswStatus status = kCswGood;
    std::uint32_t transferred = 0;  // data bytes taken or to be sent, at most the CBW's length
  };
  // One command.  `data` has cbw.length bytes: what the host sent for an out command, or the
  // room for the reply of an in command (the first `transferred` bytes go to the host).
  Reply Run(const Cbw& cbw, std::uint8_t* data);

  // The name of a command for the trace: the vendor command's, or the SCSI command's.
  static std::string CommandName(const Cbw& cbw);

  const std::vector<std::uint8_t>& image() const { return image_; }
  std::uint32_t blocks() const { return static_cast<std::uint32_t>(image_.size() / kBlockSize); }

 private:
  Reply Fail(std::uint8_t key, std::uint8_t asc);
  Reply Good(std::uint32_t transferred);
  Reply ToDevice(const Cbw& cbw, std::uint8_t* data);
  Reply ReadWrite(const Cbw& cbw, std::uint8_t* data, bool write);
  Reply ModeSense(const Cbw& cbw, std::uint8_t* data, bool ten);
  Reply Copy(const Cbw& cbw, std::uint8_t* data, const std::uint8_t* reply, std::uint32_t size);

  EmulatedDevice& device_;
  std::vector<std::uint8_t> image_;
  std::uint8_t senseKey_ = 0, asc_ = 0;  // of the last failed command, for REQUEST SENSE
};

}  // namespace romsetter
