#pragma once
// The one operation every command goes through: send a CDB with its data phase and report
// how it ended.  Each backend (pass-through on the NT family, ASPI on Windows 98/ME, the
// emulated drive) owns its buffer mechanics; callers hand over the data and a destination.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace romsetter {

enum class TransportFamily { PassThrough, Aspi };
enum class DataDirection { In, Out };

// An ASPI device address: host adapter and target (LUN 0).
struct ScsiTarget {
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
};

struct ScsiRequest {
  std::array<std::uint8_t, 16> cdb{};  // bytes past cdbLength stay 0
  std::uint8_t cdbLength = 12;
  DataDirection direction = DataDirection::Out;  // a command without data phase goes out with length 0
  std::uint32_t length = 0;
  // Out: the `length` bytes to send.  Null sends the backend's own buffer as it stands: a
  // zero-filled one over pass-through, the shared transfer buffer over ASPI.
  const std::uint8_t* dataOut = nullptr;
  // In: receives `length` bytes.  Bytes a short reply does not cover keep the destination's
  // content over pass-through; over ASPI they are the transfer buffer's previous content,
  // unless `replyOverDestination` asks for the destination's content there too.
  std::uint8_t* dataIn = nullptr;
  bool replyOverDestination = false;
  // ASPI: an address other than the device's (the target scan).
  std::optional<ScsiTarget> target;
  // ASPI: a request block of its own instead of the job's shared one (the error-page mark).
  bool separateRequest = false;
};

// Why a delivered command ended badly, where the transport can tell: the statuses and the
// sense data the device sent with a CHECK CONDITION.  `known` is false when nothing was learnt.
struct ScsiFailureDetail {
  bool known = false;
  bool aspi = false;                // ASPI: the request, host adapter and target statuses
  std::uint8_t requestStatus = 0;   // ASPI: the request's completion status
  std::uint8_t hostStatus = 0;      // ASPI: the host adapter status
  std::uint8_t targetStatus = 0;    // the SCSI status byte
  bool sense = false;               // the fields below came from sense data
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;             // additional sense code
  std::uint8_t ascq = 0;            // its qualifier
};

// Reads sense key and codes from `length` bytes of fixed- or descriptor-format sense data;
// anything shorter or of another format leaves `detail.sense` false.
inline void ReadSenseData(const std::uint8_t* data, std::size_t length, ScsiFailureDetail& detail) {
  if (data == nullptr || length < 4) return;
  const std::uint8_t format = data[0] & 0x7F;
  if ((format == 0x70 || format == 0x71) && length >= 14) {
    detail.senseKey = data[2] & 0x0F;
    detail.asc = data[12];
    detail.ascq = data[13];
    detail.sense = true;
  } else if (format == 0x72 || format == 0x73) {
    detail.senseKey = data[1] & 0x0F;
    detail.asc = data[2];
    detail.ascq = data[3];
    detail.sense = true;
  }
}

struct ScsiResult {
  bool delivered = false;   // pass-through: the I/O control succeeded; ASPI: ended within the wait
  bool statusGood = false;  // pass-through: SCSI status 0; ASPI: request status 1 (completed)
  std::uint32_t systemError = 0;  // pass-through only: last-error code of a failed call
  ScsiFailureDetail detail;       // with a delivered command that did not end well
};

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  virtual TransportFamily Family() const = 0;
  // Blocks until the command has ended: up to 2000 s over pass-through, up to the ASPI wait
  // (30 s) over ASPI.  Never throws; every failure is in the result.
  virtual ScsiResult Execute(const ScsiRequest& request) = 0;
};

// The pass-through family: commands go to a drive opened by its device path ("\\.\E:").
// Every command gets a 512-byte buffer of its own, also without a data phase; a read goes
// straight into the caller's destination.
class DriveTransport : public ScsiTransport {
 public:
  static constexpr std::uint32_t kBufferSize = 512;

  TransportFamily Family() const final { return TransportFamily::PassThrough; }
  ScsiResult Execute(const ScsiRequest& request) final;

  // Opens the drive for read and write, shared read and write.  False (with the handle
  // left invalid and `systemError` set) when it cannot be opened.
  virtual bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) = 0;
  virtual void CloseDrive() = 0;
  virtual bool DriveOpen() const = 0;
  // Keeps the file system off the open drive for as long as it stays open (the NT family
  // locks and dismounts the volume on this handle).  False, with `systemError`, when the
  // lock cannot be had; the drive stays usable as it was.  Drives without a file system of
  // the host's in the way have nothing to lock.
  virtual bool LockVolume(std::uint32_t& systemError) {
    systemError = 0;
    return true;
  }

 protected:
  // One command on the open drive, data moving directly to and from `buffer`.
  virtual ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) = 0;
};

}  // namespace romsetter
