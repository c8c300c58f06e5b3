#pragma once
// Recording decorators: each wraps a real (or emulated) backend and writes one entry per
// command to a RecordingWriter, so every transport records the same way.  Without a writer
// they only pass everything on.
//
// Pass-through family: at the drive, where the payload is the command's own buffer and the
// drive's open and close are seen.  ASPI: at the library, where the request block shows the
// address, the statuses, the sense area and the shared transfer buffer as the device left it.
#include "device/aspi_library.h"
#include "device/recording.h"
#include "device/scsi_transport.h"

namespace romsetter {

class RecordingDriveTransport final : public DriveTransport {
 public:
  explicit RecordingDriveTransport(DriveTransport& inner) : inner_(inner) {}
  void SetWriter(RecordingWriter* writer) { writer_ = writer; }

  bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) override;
  void CloseDrive() override;
  bool DriveOpen() const override { return inner_.DriveOpen(); }
  bool LockVolume(std::uint32_t& systemError) override { return inner_.LockVolume(systemError); }

 protected:
  ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) override;

 private:
  DriveTransport& inner_;
  RecordingWriter* writer_ = nullptr;
};

class RecordingAspiLibrary final : public AspiLibrary {
 public:
  explicit RecordingAspiLibrary(AspiLibrary& inner) : inner_(inner) {}
  void SetWriter(RecordingWriter* writer) { writer_ = writer; }

  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(SrbExecScsiCmd* srb) override;
  void AbortRequest(SrbExecScsiCmd* srb) override { inner_.AbortRequest(srb); }
  void* CreateCompletionEvent() override { return inner_.CreateCompletionEvent(); }
  // A request that was pending ends here: signalled (completed) or not (the wait ran out).
  bool WaitCompletion(void* event, std::uint32_t ms) override;
  void ResetCompletion(void* event) override { inner_.ResetCompletion(event); }
  void CloseCompletionEvent(void* event) override { inner_.CloseCompletionEvent(event); }

 private:
  void Finish(bool delivered, bool waited);

  AspiLibrary& inner_;
  RecordingWriter* writer_ = nullptr;
  SrbExecScsiCmd* pending_ = nullptr;  // sent, waiting for its wait
  RecordingEntry entry_;
  std::uint64_t started_ = 0;
};

}  // namespace romsetter
