#include "emulator/replay_device.h"

#include <algorithm>
#include <cstring>

#include "base/format.h"
#include "base/sha256.h"
#include "emulator/emulated_device.h"
#include "emulator/emulated_transport.h"

namespace romsetter {

namespace {

constexpr std::size_t kDigestShown = 16;  // hex digits of a digest in a message: enough to tell pages apart

std::string DescribeCommand(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                            std::uint32_t length, const std::string& payloadDigest, const std::optional<ScsiTarget>& target) {
  std::string text = Format("%s (CDB %s, %s, %u bytes", EmulatedCommandName(cdb, cdbLength),
                            HexBytes(cdb, cdbLength).c_str(), direction == DataDirection::In ? "in" : "out",
                            static_cast<unsigned>(length));
  if (!payloadDigest.empty()) text += Format(", payload sha256 %s", payloadDigest.substr(0, kDigestShown).c_str());
  if (target) text += Format(", adapter %u target %u", static_cast<unsigned>(target->adapter), static_cast<unsigned>(target->target));
  return text + ")";
}

std::string DescribeEntry(const RecordingEntry& e) {
  switch (e.kind) {
    case RecordingEntryKind::Open: return Format("the drive opened (%s)", e.path.c_str());
    case RecordingEntryKind::Close: return "the drive closed";
    case RecordingEntryKind::Support: return "the ASPI support query";
    case RecordingEntryKind::Command: break;
  }
  const RecordedCommand& c = e.command;
  return DescribeCommand(c.cdb.data(), c.cdbLength, c.direction, c.length, c.payloadDigest, c.target);
}

}  // namespace

ReplayDevice::ReplayDevice(Recording recording, std::function<void(const std::string&)> report)
    : recording_(std::move(recording)), report_(std::move(report)) {}

void ReplayDevice::Diverge(std::uint64_t number, const std::string& expected, const std::string& got) {
  if (diverged()) return;
  divergence_ = Format("replay diverged at command %llu: expected %s, got %s", static_cast<unsigned long long>(number),
                       expected.c_str(), got.c_str());
  if (report_) report_(divergence_);
}

bool ReplayDevice::Finish() {
  if (!diverged() && next_ < recording_.entries.size()) {
    const RecordingEntry e = recording_.entries[next_];
    Diverge(e.number, DescribeEntry(e), "the end of the run");
  }
  return !diverged();
}

const RecordingEntry* ReplayDevice::Next(RecordingEntryKind kind, const std::string& got) {
  if (diverged()) return nullptr;
  if (next_ >= recording_.entries.size()) {
    Diverge(recording_.entries.size() + 1, "the end of the recording", got);
    return nullptr;
  }
  current_ = recording_.entries[next_++];
  if (current_.kind != kind) {
    Diverge(current_.number, DescribeEntry(current_), got);
    return nullptr;
  }
  return &current_;
}

const RecordingEntry* ReplayDevice::Match(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                                          std::uint32_t length, const std::uint8_t* buffer, const ScsiTarget* target) {
  cdbLength = std::min<std::uint8_t>(cdbLength, 16);
  const bool payload = direction == DataDirection::Out && length > 0 && buffer != nullptr;
  const std::string digest = payload ? Sha256Hex(buffer, length) : std::string();
  const std::optional<ScsiTarget> address = target ? std::optional<ScsiTarget>(*target) : std::nullopt;
  const RecordingEntry* e = Next(RecordingEntryKind::Command, DescribeCommand(cdb, cdbLength, direction, length, digest, address));
  if (e == nullptr) return nullptr;
  const RecordedCommand& c = e->command;
  const bool sameAddress = !c.target || !target || (c.target->adapter == target->adapter && c.target->target == target->target);
  if (c.cdbLength != cdbLength || std::memcmp(c.cdb.data(), cdb, cdbLength) != 0 || c.direction != direction ||
      c.length != length || c.payloadDigest != digest || !sameAddress) {
    Diverge(e->number, DescribeEntry(*e), DescribeCommand(cdb, cdbLength, direction, length, digest, address));
    return nullptr;
  }
  if (payload) pages_.Observe(cdb, cdbLength, direction, buffer, length);
  return e;
}

bool ReplayDevice::Reply(const RecordingEntry& e, std::uint8_t* buffer) {
  const RecordedCommand& c = e.command;
  if (c.direction != DataDirection::In || c.length == 0 || buffer == nullptr) return true;
  if (c.replyKnown) {
    std::memcpy(buffer, c.reply.data(), c.length);
    return true;
  }
  const std::string shown = c.replyDigest.substr(0, kDigestShown);
  if (!c.replyXorKnown) {
    // Only the digest was kept, and it names no page this run wrote.
    Diverge(e.number, Format("a reply kept only as its digest (sha256 %s)", shown.c_str()),
            "a command that needs its data (record with --record-data)");
    return false;
  }
  PageMemory::Page page = pages_.Base(c.cdb.data());
  for (const auto& [offset, mask] : c.replyXor) page[offset] ^= mask;
  const std::string rebuilt = Sha256Hex(page.data(), page.size());
  if (rebuilt != c.replyDigest) {
    Diverge(e.number, Format("a page read back as sha256 %s", shown.c_str()),
            Format("sha256 %s from the pages this run wrote", rebuilt.substr(0, kDigestShown).c_str()));
    return false;
  }
  std::memcpy(buffer, page.data(), std::min<std::size_t>(c.length, page.size()));
  return true;
}

bool ReplayDevice::Open(std::uint32_t& systemError) {
  const RecordingEntry* e = Next(RecordingEntryKind::Open, "the drive opened");
  systemError = e ? e->error : EmulatedTransport::kNotFoundError;
  return e != nullptr && e->ok;
}

void ReplayDevice::Close() { Next(RecordingEntryKind::Close, "the drive closed"); }

std::uint32_t ReplayDevice::SupportInfo() {
  const RecordingEntry* e = Next(RecordingEntryKind::Support, "the ASPI support query");
  return e ? e->info : 0;
}

ScsiResult ReplayDevice::Answer(const ScsiRequest& request, std::uint8_t* buffer) {
  ScsiResult result;
  const RecordingEntry* e =
      Match(request.cdb.data(), request.cdbLength, request.direction, request.length, buffer, nullptr);
  if (e == nullptr || !Reply(*e, buffer)) {
    result.systemError = EmulatedTransport::kFailureError;
    return result;
  }
  result.delivered = e->command.delivered;
  result.statusGood = e->command.statusGood;
  result.systemError = e->command.systemError;
  return result;
}

bool ReplayDevice::AnswerSrb(SrbExecScsiCmd& srb) {
  const DataDirection direction = (srb.flags & SRB_DIR_IN) != 0 ? DataDirection::In : DataDirection::Out;
  const ScsiTarget target{srb.haId, srb.target};
  const RecordingEntry* e = Match(srb.cdbByte, srb.cdbLen, direction, srb.bufLen, srb.bufPointer, &target);
  if (e == nullptr || !Reply(*e, srb.bufPointer)) {
    srb.status = SS_NO_DEVICE;
    return false;
  }
  const RecordedCommand& c = e->command;
  srb.haStat = c.hostStatus;
  srb.targStat = c.targetStatus;
  std::memset(srb.senseArea, 0, sizeof srb.senseArea);
  if (!c.sense.empty()) std::memcpy(srb.senseArea, c.sense.data(), std::min(c.sense.size(), sizeof srb.senseArea));
  if (c.waited && !c.delivered) {
    srb.status = SS_PENDING;  // never completes: the wait runs out
    return false;
  }
  srb.status = c.aspiStatus;
  return c.waited;
}

bool ReplayDriveTransport::OpenDrive(const std::string&, std::uint32_t& systemError) {
  open_ = device_.Open(systemError);
  return open_;
}

void ReplayDriveTransport::CloseDrive() {
  open_ = false;
  device_.Close();
}

ScsiResult ReplayDriveTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  return device_.Answer(request, buffer);
}

std::uint32_t ReplayAspiLibrary::SendCommand(SrbExecScsiCmd* srb) {
  if (srb == nullptr) return SS_NO_DEVICE;
  const bool signal = device_.AnswerSrb(*srb);
  if (signal && (srb->flags & SRB_EVENT_NOTIFY) != 0) {
    if (CompletionEvent* e = events_.Find(srb->postProc)) e->signalled = true;
  }
  return srb->status;
}

void* ReplayAspiLibrary::CreateCompletionEvent() { return events_.Create(); }

bool ReplayAspiLibrary::WaitCompletion(void* event, std::uint32_t) { return events_.Take(event); }

void ReplayAspiLibrary::ResetCompletion(void* event) { events_.Reset(event); }

void ReplayAspiLibrary::CloseCompletionEvent(void* event) { events_.Close(event); }

char RecordedDriveLetter(const Recording& recording, char fallback) {
  for (const RecordingEntry& e : recording.entries) {
    if (e.kind != RecordingEntryKind::Open) continue;
    const std::string& p = e.path;
    if (p.size() == 6 && p.compare(0, 4, "\\\\.\\") == 0 && p[5] == ':' &&
        ((p[4] >= 'A' && p[4] <= 'Z') || (p[4] >= 'a' && p[4] <= 'z'))) {
      return p[4];
    }
    return fallback;
  }
  return fallback;
}

}  // namespace romsetter
