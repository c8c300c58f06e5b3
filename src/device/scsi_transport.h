#pragma once
// The one operation every vendor command goes through: send a CDB with its data phase and
// report how it ended.  Pass-through (NT) and ASPI (Windows 98/ME) implement it; so does the
// emulated device.
#include <array>
#include <cstdint>
#include <string>

namespace romsetter {

enum class TransportKind { PassThrough, Aspi };
enum class DataDirection { In, Out };

struct ScsiRequest {
  std::array<std::uint8_t, 16> cdb{};  // bytes past cdbLength stay 0
  std::uint8_t cdbLength = 12;
  DataDirection direction = DataDirection::Out;
  std::uint8_t* buffer = nullptr;  // at least `length` bytes (ASPI uses its own transfer buffer)
  std::uint32_t length = 0;
  std::uint8_t adapterId = 0;  // ASPI only
  std::uint8_t targetId = 0;   // ASPI only
  bool ownRequestBlock = false;  // ASPI only: the error-page mark sends a block of its own
};

struct ScsiResult {
  bool delivered = false;   // pass-through: the I/O control succeeded; ASPI: ended within the wait
  bool statusGood = false;  // pass-through: SCSI status 0; ASPI: request status 1 (completed)
  std::uint32_t systemError = 0;  // pass-through only: last-error code of a failed call
};

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  virtual TransportKind Kind() const = 0;
  // Blocks until the command has ended or the wait ran out.  Never throws.
  virtual ScsiResult Execute(const ScsiRequest& request) = 0;
};

// The pass-through side: commands go to a drive opened by its device path ("\\.\E:").
class DriveTransport : public ScsiTransport {
 public:
  TransportKind Kind() const override { return TransportKind::PassThrough; }
  // Opens the drive for read and write, shared read and write.  False (with the handle
  // left invalid and `systemError` set) when it cannot be opened.
  virtual bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) = 0;
  virtual void CloseDrive() = 0;
  virtual bool DriveOpen() const = 0;
};

}  // namespace romsetter
