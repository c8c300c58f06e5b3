#pragma once
// The replaying device: answers each command with the reply a recording holds, in order, and
// stops at the first command that differs from it ("replay diverged at command N: expected
// ..., got ...").  After a divergence every command fails, so the run fails.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/aspi_library.h"
#include "device/recording.h"
#include "device/scsi_transport.h"
#include "emulator/completion_events.h"

namespace romsetter {

class ReplayDevice {
 public:
  // `report` gets the divergence line once, when it happens.
  ReplayDevice(Recording recording, std::function<void(const std::string&)> report);

  const RecordingHeader& header() const { return recording_.header; }
  bool diverged() const { return !divergence_.empty(); }
  const std::string& divergence() const { return divergence_; }
  // At the end of the run: a recording with entries left over diverges too.  True when the
  // run matched the recording to its end.
  bool Finish();

  // The drive's open and close; false (with error 2) after a divergence.
  bool Open(std::uint32_t& systemError);
  void Close();
  std::uint32_t SupportInfo();
  // A pass-through command: the recorded result, the reply into `buffer`.
  ScsiResult Answer(const ScsiRequest& request, std::uint8_t* buffer);
  // An ASPI request: its statuses and reply filled in.  True when its completion event is due.
  bool AnswerSrb(SrbExecScsiCmd& srb);

 private:
  // The next entry, when it is of `kind`; else the divergence, with `got` describing the call.
  const RecordingEntry* Next(RecordingEntryKind kind, const std::string& got);
  // Compares a command with the next entry and fills the reply; null on divergence.
  const RecordingEntry* Match(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                              std::uint32_t length, const std::uint8_t* buffer, const ScsiTarget* target);
  void Diverge(std::uint64_t number, const std::string& expected, const std::string& got);
  bool Reply(const RecordingEntry& entry, std::uint8_t* buffer);

  Recording recording_;
  std::function<void(const std::string&)> report_;
  std::size_t next_ = 0;
  std::string divergence_;
  PageMemory pages_;
};

// The pass-through drive of a replay.
class ReplayDriveTransport final : public DriveTransport {
 public:
  explicit ReplayDriveTransport(ReplayDevice& device) : device_(device) {}
  bool OpenDrive(const std::string& devicePath, std::uint32_t& systemError) override;
  void CloseDrive() override;
  bool DriveOpen() const override { return open_; }

 protected:
  ScsiResult ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) override;

 private:
  ReplayDevice& device_;
  bool open_ = false;
};

// The ASPI library of a replay; events as in the emulated library (a wait returns at once).
class ReplayAspiLibrary final : public AspiLibrary {
 public:
  explicit ReplayAspiLibrary(ReplayDevice& device) : device_(device) {}
  std::uint32_t GetSupportInfo() override { return device_.SupportInfo(); }
  std::uint32_t SendCommand(SrbExecScsiCmd* srb) override;
  // A recording holds no aborts: the replayed request simply stays as it was.
  void AbortRequest(SrbExecScsiCmd*) override {}
  void* CreateCompletionEvent() override;
  bool WaitCompletion(void* event, std::uint32_t ms) override;
  void ResetCompletion(void* event) override;
  void CloseCompletionEvent(void* event) override;

 private:
  ReplayDevice& device_;
  CompletionEvents events_;
};

// The drive letter the recording's first open named ("\\.\F:"), else `fallback`, so a replay
// finds the device where the recorded run found it.
char RecordedDriveLetter(const Recording& recording, char fallback);

}  // namespace romsetter
