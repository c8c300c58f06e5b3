// The entries of a read recording, packed into one byte store allocated once at the file's
// size: no entry takes more bytes than its line.
#include "device/recording.h"

#include <algorithm>
#include <cstring>

namespace romsetter {

namespace {

// The first byte of a packed entry: its kind and the flags every kind may use.
enum : std::uint8_t { kKindBits = 0x03, kHasMicros = 0x04, kOpenOk = 0x08 };
// A command's second byte.
enum : std::uint8_t {
  kIn = 0x01,
  kDelivered = 0x02,
  kGood = 0x04,
  kWaited = 0x08,
  kTarget = 0x10,
  kAspiStatuses = 0x20,
  kPayload = 0x40,
  kPayloadDigest = 0x80,
};
// Its third.
enum : std::uint8_t { kReply = 0x01, kReplyDigest = 0x02, kReplyXor = 0x04, kSense = 0x08 };

constexpr std::size_t kDigestBytes = 32;

// Seven bits a byte, low first: a number of D decimal digits takes at most D bytes.
void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) out.push_back(static_cast<std::uint8_t>(value | 0x80));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutBytes(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t length) {
  PutNumber(out, length);
  out.insert(out.end(), data, data + length);
}

// Always its 32 bytes, so the entry unpacks in step whatever the text held.
void PutDigest(std::vector<std::uint8_t>& out, const std::string& hex) {
  const auto nibble = [](char c) { return static_cast<std::uint8_t>(c <= '9' ? (c - '0') & 0xF : (c - 'a' + 10) & 0xF); };
  for (std::size_t i = 0; i < 2 * kDigestBytes; i += 2) {
    out.push_back(i + 1 < hex.size() ? static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])) : 0);
  }
}

// Reads what the packing above wrote; the store is this program's own, not input.
class Unpacker {
 public:
  explicit Unpacker(const std::uint8_t* at) : at_(at) {}
  std::uint8_t Byte() { return *at_++; }
  std::uint64_t Number() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t b = *at_++;
      value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return value;
    }
  }
  void Bytes(std::vector<std::uint8_t>& out) {
    const std::size_t length = static_cast<std::size_t>(Number());
    out.assign(at_, at_ + length);
    at_ += length;
  }
  std::string Digest() {
    const std::string hex = HexBytes(at_, kDigestBytes);
    at_ += kDigestBytes;
    return hex;
  }

 private:
  const std::uint8_t* at_;
};

}  // namespace

void RecordingEntries::reserve(std::size_t entries, std::size_t bytes) {
  starts_.reserve(entries);
  bytes_.reserve(bytes);
}

void RecordingEntries::resize(std::size_t count) {
  if (count < size()) {
    bytes_.resize(starts_[count]);
    starts_.resize(count);
  }
  while (size() < count) push_back(RecordingEntry{});
}

void RecordingEntries::push_back(const RecordingEntry& e) {
  starts_.push_back(static_cast<Start>(bytes_.size()));
  std::vector<std::uint8_t>& out = bytes_;
  out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(e.kind) | (e.micros != 0 ? kHasMicros : 0) |
                                          (e.ok ? kOpenOk : 0)));
  if (e.micros != 0) PutNumber(out, e.micros);
  switch (e.kind) {
    case RecordingEntryKind::Open:
      PutNumber(out, e.error);
      PutBytes(out, reinterpret_cast<const std::uint8_t*>(e.path.data()), e.path.size());
      return;
    case RecordingEntryKind::Close: return;
    case RecordingEntryKind::Support: PutNumber(out, e.info); return;
    case RecordingEntryKind::Command: break;
  }
  const RecordedCommand& c = e.command;
  const bool aspiStatuses = c.target || c.aspiStatus != 0 || c.hostStatus != 0 || c.targetStatus != 0;
  out.push_back(static_cast<std::uint8_t>(
      (c.direction == DataDirection::In ? kIn : 0) | (c.delivered ? kDelivered : 0) | (c.statusGood ? kGood : 0) |
      (c.waited ? kWaited : 0) | (c.target ? kTarget : 0) | (aspiStatuses ? kAspiStatuses : 0) |
      (!c.payload.empty() ? kPayload : 0) | (!c.payloadDigest.empty() ? kPayloadDigest : 0)));
  out.push_back(static_cast<std::uint8_t>((c.replyKnown ? kReply : 0) | (!c.replyDigest.empty() ? kReplyDigest : 0) |
                                          (c.replyXorKnown ? kReplyXor : 0) | (!c.sense.empty() ? kSense : 0)));
  PutBytes(out, c.cdb.data(), std::min<std::size_t>(c.cdbLength, c.cdb.size()));
  PutNumber(out, c.length);
  PutNumber(out, c.systemError);
  if (c.target) out.insert(out.end(), {c.target->adapter, c.target->target});
  if (aspiStatuses) out.insert(out.end(), {c.aspiStatus, c.hostStatus, c.targetStatus});
  if (!c.sense.empty()) PutBytes(out, c.sense.data(), c.sense.size());
  if (!c.payload.empty()) PutBytes(out, c.payload.data(), c.payload.size());
  if (!c.payloadDigest.empty()) PutDigest(out, c.payloadDigest);
  if (c.replyKnown) PutBytes(out, c.reply.data(), c.reply.size());
  if (!c.replyDigest.empty()) PutDigest(out, c.replyDigest);
  if (c.replyXorKnown) {
    PutNumber(out, c.replyXor.size());
    for (const auto& [offset, mask] : c.replyXor) {
      out.insert(out.end(), {static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset), mask});
    }
  }
}

RecordingEntry RecordingEntries::operator[](std::size_t index) const {
  RecordingEntry e;
  e.number = index + 1;
  Unpacker in(bytes_.data() + starts_[index]);
  const std::uint8_t first = in.Byte();
  e.kind = static_cast<RecordingEntryKind>(first & kKindBits);
  e.ok = (first & kOpenOk) != 0;
  if ((first & kHasMicros) != 0) e.micros = in.Number();
  switch (e.kind) {
    case RecordingEntryKind::Open: {
      e.error = static_cast<std::uint32_t>(in.Number());
      std::vector<std::uint8_t> path;
      in.Bytes(path);
      e.path.assign(path.begin(), path.end());
      return e;
    }
    case RecordingEntryKind::Close: return e;
    case RecordingEntryKind::Support: e.info = static_cast<std::uint32_t>(in.Number()); return e;
    case RecordingEntryKind::Command: break;
  }
  RecordedCommand& c = e.command;
  const std::uint8_t flags = in.Byte();
  const std::uint8_t more = in.Byte();
  std::vector<std::uint8_t> cdb;
  in.Bytes(cdb);
  std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
  c.cdbLength = static_cast<std::uint8_t>(cdb.size());
  c.direction = (flags & kIn) != 0 ? DataDirection::In : DataDirection::Out;
  c.length = static_cast<std::uint32_t>(in.Number());
  c.systemError = static_cast<std::uint32_t>(in.Number());
  c.delivered = (flags & kDelivered) != 0;
  c.statusGood = (flags & kGood) != 0;
  c.waited = (flags & kWaited) != 0;
  if ((flags & kTarget) != 0) {
    ScsiTarget target;
    target.adapter = in.Byte();
    target.target = in.Byte();
    c.target = target;
  }
  if ((flags & kAspiStatuses) != 0) {
    c.aspiStatus = in.Byte();
    c.hostStatus = in.Byte();
    c.targetStatus = in.Byte();
  }
  if ((more & kSense) != 0) in.Bytes(c.sense);
  if ((flags & kPayload) != 0) in.Bytes(c.payload);
  if ((flags & kPayloadDigest) != 0) c.payloadDigest = in.Digest();
  c.replyKnown = (more & kReply) != 0;
  if (c.replyKnown) in.Bytes(c.reply);
  if ((more & kReplyDigest) != 0) c.replyDigest = in.Digest();
  c.replyXorKnown = (more & kReplyXor) != 0;
  if (c.replyXorKnown) {
    c.replyXor.resize(static_cast<std::size_t>(in.Number()));
    for (auto& [offset, mask] : c.replyXor) {
      offset = static_cast<std::uint16_t>(in.Byte() << 8);
      offset = static_cast<std::uint16_t>(offset | in.Byte());
      mask = in.Byte();
    }
  }
  return e;
}

}  // namespace romsetter
