#pragma once
// The emulated device behind the two transports: the pass-through drive and the ASPI library.
#include <memory>
#include <vector>

#include "device/aspi_library.h"
#include "device/scsi_transport.h"
#include "emulator/completion_events.h"
#include "emulator/emulated_device.h"

namespace romsetter {

// Pass-through semantics over the first device of a scenario.
class EmulatedTransport final : public DriveTransport {
 public:
  static constexpr std::uint32_t kTimeoutError = 121;   // ERROR_SEM_TIMEOUT
  static constexpr std::uint32_t kFailureError = 31;    // ERROR_GEN_FAILURE
  static constexpr std::uint32_t kNotFoundError = 2;    // ERROR_FILE_NOT_FOUND
  static constexpr std::uint32_t kInvalidHandleError = 6;  // ERROR_INVALID_HANDLE

  EmulatedTransport(EmulatedDevice& device, char driveLetter = 'E');

  bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) override;
  void CloseDrive() override { open_ = false; }
  bool DriveOpen() const override { return open_; }
  // Succeeds unless `lockError` is set, as a volume another program holds open refuses it.
  bool LockVolume(std::uint32_t& systemError) override;
  std::vector<ScsiRequest>& requests() { return requests_; }
  std::uint32_t lockError = 0;
  int locks = 0;
  // Non-zero: every open is refused with this error (5: a standard user on Vista and later).
  std::uint32_t openError = 0;

 protected:
  // Like a real handle, a drive that is not open refuses every command: not delivered,
  // error 6, and nothing reaches the device.
  ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) override;

 private:
  EmulatedDevice& device_;
  char driveLetter_;
  bool open_ = false;
  std::vector<ScsiRequest> requests_;
};

// The ASPI library over a set of emulated devices addressed by adapter and target.
// Completion is synchronous; a request that never completes leaves its event unsignalled,
// and a wait on it returns at once as timed out (no test ever waits 30 seconds).
class EmulatedAspiLibrary final : public AspiLibrary {
 public:
  EmulatedAspiLibrary(std::vector<EmulatedDevice*> devices, std::uint8_t adapterCount = 1,
                      std::uint8_t supportStatus = 1);

  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(SrbExecScsiCmd* srb) override;
  void AbortRequest(SrbExecScsiCmd* srb) override;
  void* CreateCompletionEvent() override;
  bool WaitCompletion(void* event, std::uint32_t ms) override;
  void ResetCompletion(void* event) override;
  void CloseCompletionEvent(void* event) override;

  void SetSupport(std::uint8_t adapterCount, std::uint8_t supportStatus);
  // False: a layer that finishes a request before the send returns and never signals its
  // event (the published interface leaves that open).
  void SetSignalsCompletion(bool signals) { signalsCompletion_ = signals; }
  int aborts() const { return aborts_; }
  int waits() const { return waits_; }
  std::uint32_t lastWaitMs() const { return lastWaitMs_; }
  int openEvents() const { return events_.open(); }
  std::vector<SrbExecScsiCmd>& sent() { return sent_; }  // copies of every block as sent

 private:
  std::vector<EmulatedDevice*> devices_;
  std::uint8_t adapterCount_;
  std::uint8_t supportStatus_;
  CompletionEvents events_;
  bool signalsCompletion_ = true;
  int aborts_ = 0;
  int waits_ = 0;
  std::uint32_t lastWaitMs_ = 0;
  std::vector<SrbExecScsiCmd> sent_;
};

}  // namespace romsetter
