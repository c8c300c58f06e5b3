#include "device/recording_transports.h"

#include <algorithm>
#include <cstring>

namespace romsetter {

namespace {

RecordedCommand Describe(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                         std::uint32_t length) {
  RecordedCommand c;
  c.cdbLength = std::min<std::uint8_t>(cdbLength, static_cast<std::uint8_t>(c.cdb.size()));
  std::memcpy(c.cdb.data(), cdb, c.cdbLength);
  c.direction = direction;
  c.length = length;
  return c;
}

}  // namespace

bool RecordingDriveTransport::OpenDrive(const std::string& devicePath, std::uint32_t& systemError) {
  if (writer_ == nullptr) return inner_.OpenDrive(devicePath, systemError);
  RecordingEntry entry;
  entry.kind = RecordingEntryKind::Open;
  const std::uint64_t started = writer_->Now();
  const bool ok = inner_.OpenDrive(devicePath, systemError);
  entry.micros = writer_->Now() - started;
  entry.ok = ok;
  entry.path = devicePath;
  entry.error = ok ? 0 : systemError;
  writer_->Write(std::move(entry));
  return ok;
}

void RecordingDriveTransport::CloseDrive() {
  inner_.CloseDrive();
  if (writer_ == nullptr) return;
  RecordingEntry entry;
  entry.kind = RecordingEntryKind::Close;
  writer_->Write(std::move(entry));
}

ScsiResult RecordingDriveTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  // The inner drive gets the command's buffer as its data, so it moves the same bytes.
  ScsiRequest forward = request;
  forward.dataOut = request.direction == DataDirection::Out ? buffer : nullptr;
  forward.dataIn = request.direction == DataDirection::In ? buffer : nullptr;
  if (writer_ == nullptr) return inner_.Execute(forward);

  RecordingEntry entry;
  RecordedCommand& c = entry.command;
  c = Describe(request.cdb.data(), request.cdbLength, request.direction, request.length);
  if (request.direction == DataDirection::Out) c.payload.assign(buffer, buffer + request.length);
  const std::uint64_t started = writer_->Now();
  const ScsiResult result = inner_.Execute(forward);
  entry.micros = writer_->Now() - started;
  c.delivered = result.delivered;
  c.statusGood = result.statusGood;
  c.systemError = result.systemError;
  if (request.direction == DataDirection::In) {
    c.replyKnown = true;
    c.reply.assign(buffer, buffer + request.length);
  }
  writer_->Write(std::move(entry));
  return result;
}

std::uint32_t RecordingAspiLibrary::GetSupportInfo() {
  const std::uint32_t info = inner_.GetSupportInfo();
  if (writer_ != nullptr) {
    RecordingEntry entry;
    entry.kind = RecordingEntryKind::Support;
    entry.info = info;
    writer_->Write(std::move(entry));
  }
  return info;
}

std::uint32_t RecordingAspiLibrary::SendCommand(SrbExecScsiCmd* srb) {
  if (writer_ == nullptr || srb == nullptr) return inner_.SendCommand(srb);
  if (pending_ != nullptr) Finish(false, false);  // sent again without a wait: never ended
  const DataDirection direction = (srb->flags & SRB_DIR_IN) != 0 ? DataDirection::In : DataDirection::Out;
  entry_ = RecordingEntry{};
  RecordedCommand& c = entry_.command;
  c = Describe(srb->cdbByte, srb->cdbLen, direction, srb->bufLen);
  c.target = ScsiTarget{srb->haId, srb->target};
  if (direction == DataDirection::Out && srb->bufPointer != nullptr) {
    c.payload.assign(srb->bufPointer, srb->bufPointer + srb->bufLen);
  }
  started_ = writer_->Now();
  const std::uint32_t status = inner_.SendCommand(srb);
  pending_ = srb;
  // As the transport reads it: ended at once unless pending (a completed request is not
  // waited for).
  if (srb->status != SS_PENDING) Finish(true, false);
  return status;
}

bool RecordingAspiLibrary::WaitCompletion(void* event, std::uint32_t ms) {
  const bool signalled = inner_.WaitCompletion(event, ms);
  if (pending_ != nullptr && writer_ != nullptr) Finish(signalled, true);
  return signalled;
}

void RecordingAspiLibrary::Finish(bool delivered, bool waited) {
  SrbExecScsiCmd& srb = *pending_;
  pending_ = nullptr;
  entry_.micros = writer_->Now() - started_;
  RecordedCommand& c = entry_.command;
  c.delivered = delivered;
  c.waited = waited;
  c.aspiStatus = srb.status;
  c.statusGood = delivered && srb.status == SS_COMP;
  c.hostStatus = srb.haStat;
  c.targetStatus = srb.targStat;
  const std::uint8_t* sense = srb.senseArea;
  const std::size_t senseLength = std::min<std::size_t>(srb.senseLen, sizeof srb.senseArea);
  if (std::any_of(sense, sense + senseLength, [](std::uint8_t b) { return b != 0; })) {
    c.sense.assign(sense, sense + senseLength);
  }
  if (c.direction == DataDirection::In && srb.bufPointer != nullptr) {
    c.replyKnown = true;
    c.reply.assign(srb.bufPointer, srb.bufPointer + srb.bufLen);
  }
  writer_->Write(std::move(entry_));
}

}  // namespace romsetter
