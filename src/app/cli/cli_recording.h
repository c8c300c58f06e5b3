#pragma once
// Recording and replaying for romsetter-cli: `--record FILE` puts the recording decorators
// in front of whichever transport the run uses, `--device replay:FILE` puts a recording in
// place of the device.  Kept apart from the run, which calls it at four points.
#include <memory>
#include <optional>
#include <vector>

#include "app/app_core.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "device/recording.h"
#include "device/recording_transports.h"
#include "emulator/emulated_device.h"
#include "emulator/replay_device.h"

namespace romsetter {

class CliDeviceTap {
 public:
  CliDeviceTap(const CliOptions& options, CliWindow& window);

  // Replay: reads the recording and points the emulated drive where the recorded run found
  // its drive.  False with the reason shown (exit status 1).
  bool Load(EmulatorConfig& config);
  // The library the run's ASPI transport sits on: the replaying one, or `library` behind a
  // recorder.
  AspiLibrary& Library(AspiLibrary& library);
  // Once the transport is chosen: the replaying drive or the recording drive in its place, and
  // the recording file opened.  `aspi` is the emulated device's transport built on Library().
  // False with the reason shown (exit status 1).
  bool Attach(AppPorts& ports, AspiTransport* aspi);
  // The run's exit status, made a device failure by a divergence and a file failure by a
  // recording that could not be written.
  int Finish(int status);

 private:
  void Problem(const std::string& text);

  const CliOptions& o_;
  CliWindow& window_;
  RecordingWriter writer_;
  std::vector<std::unique_ptr<RecordingAspiLibrary>> recordingLibraries_;
  std::unique_ptr<RecordingDriveTransport> recordingDrive_;
  std::unique_ptr<ReplayDevice> replay_;
  std::unique_ptr<ReplayDriveTransport> replayDrive_;
  std::unique_ptr<ReplayAspiLibrary> replayLibrary_;
};

}  // namespace romsetter
