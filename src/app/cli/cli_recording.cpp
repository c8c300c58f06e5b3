#include "app/cli/cli_recording.h"

#include <cstdio>

#include "base/format.h"

namespace romsetter {

CliDeviceTap::CliDeviceTap(const CliOptions& options, CliWindow& window) : o_(options), window_(window) {}

void CliDeviceTap::Problem(const std::string& text) {
  if (o_.json) {
    window_.Note("error", text);
  } else {
    std::fputs(Format("romsetter-cli: %s\n", text.c_str()).c_str(), stderr);
    std::fflush(stderr);
  }
}

bool CliDeviceTap::Load(EmulatorConfig& config) {
  if (o_.replay.empty()) return true;
  Recording recording;
  std::string error;
  if (!LoadRecording(o_.replay, recording, error)) {
    window_.Error(error);
    return false;
  }
  if (o_.aspi && recording.header.family != TransportFamily::Aspi) {
    window_.Error(Format("--aspi: %s was recorded over pass-through", o_.replay.c_str()));
    return false;
  }
  config.driveLetter = RecordedDriveLetter(recording, config.driveLetter);
  replay_ = std::make_unique<ReplayDevice>(std::move(recording), [this](const std::string& line) { Problem(line); });
  replayDrive_ = std::make_unique<ReplayDriveTransport>(*replay_);
  replayLibrary_ = std::make_unique<ReplayAspiLibrary>(*replay_);
  return true;
}

AspiLibrary& CliDeviceTap::Library(AspiLibrary& library) {
  if (replayLibrary_) return *replayLibrary_;
  recordingLibraries_.push_back(std::make_unique<RecordingAspiLibrary>(library));
  return *recordingLibraries_.back();
}

bool CliDeviceTap::Attach(AppPorts& ports, AspiTransport* aspi) {
  if (replay_) {
    // The recording says which family the run used.
    const bool overAspi = replay_->header().family == TransportFamily::Aspi;
    ports.session = overAspi ? MakeAspiSession(*aspi) : MakeDriveSession(*replayDrive_);
  }
  if (o_.record.empty()) return true;
  RecordingHeader header;
  header.program = CliVersion();
  header.family = ports.session->family();
#ifdef _WIN32
  header.os = "windows";
#else
  header.os = "linux";
#endif
  header.data = o_.recordData;
  std::string error;
  if (!writer_.Open(o_.record, header, error)) {
    window_.Error(error);
    return false;
  }
  for (const auto& library : recordingLibraries_) library->SetWriter(&writer_);
  // The ASPI family is recorded at its library (Library above); a drive behind a recorder.
  DriveSession* drive = ports.session->Visit([](DriveSession& s) { return &s; },
                                             [](AspiSession&) -> DriveSession* { return nullptr; });
  if (drive != nullptr) {
    recordingDrive_ = std::make_unique<RecordingDriveTransport>(drive->drive());
    recordingDrive_->SetWriter(&writer_);
    ports.session = MakeDriveSession(*recordingDrive_, drive->locator());
  }
  return true;
}

int CliDeviceTap::Finish(int status) {
  if (replay_ && !replay_->Finish()) status = kExitDeviceFailure;
  if (!o_.record.empty() && !writer_.ok()) {
    Problem(Format("%s: the recording could not be written to its end", o_.record.c_str()));
    if (status == kExitSuccess) status = kExitFileNotWritten;
  }
  return status;
}

}  // namespace romsetter
