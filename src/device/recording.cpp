// Writing a recording (docs/recording.md), and the page memory that lets a page read back be
// kept as its difference from the page the run wrote there.
#include "device/recording.h"

#include <chrono>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "base/sha256.h"
#include "device/vendor_commands.h"

namespace romsetter {

namespace {

std::uint64_t SteadyMicros() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// A JSON string: the recording's texts are paths and names, single-byte; bytes outside
// printable ASCII are escaped as \u00XX so the file stays plain ASCII.
std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += Format("\\u%04x", static_cast<unsigned>(c));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Field(const char* key, const std::string& quoted) { return Format(",\"%s\":%s", key, quoted.c_str()); }
std::string Number(const char* key, std::uint64_t value) {
  return Format(",\"%s\":%llu", key, static_cast<unsigned long long>(value));
}
std::string Bool(const char* key, bool value) { return Format(",\"%s\":%s", key, value ? "true" : "false"); }

}  // namespace

const char* RecordedFamilyName(TransportFamily family) {
  switch (family) {  // no default: a new family must name itself here
    case TransportFamily::PassThrough: return "pass-through";
    case TransportFamily::Aspi: return "aspi";
  }
  return "pass-through";
}

std::string HexBytes(const std::uint8_t* data, std::size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    hex += kHex[data[i] >> 4];
    hex += kHex[data[i] & 0xF];
  }
  return hex;
}

// ---- Pages ----

bool PageMemory::IsPageWrite(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                             std::uint32_t length) {
  return cdbLength >= 9 && cdb[0] == kVendorOpcode && (cdb[1] == UPT_WRITE_PAGE || cdb[1] == FONT_WRITE_PAGE) &&
         direction == DataDirection::Out && length == kPageSize;
}

bool PageMemory::IsPageRead(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                            std::uint32_t length) {
  return cdbLength >= 9 && cdb[0] == kVendorOpcode && (cdb[1] == UPT_READ_PAGE || cdb[1] == FONT_READ_PAGE) &&
         direction == DataDirection::In && length == kPageSize;
}

std::uint32_t PageMemory::Key(const std::uint8_t* cdb) { return ReadPageParam(&cdb[3]); }

void PageMemory::Observe(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                         const std::uint8_t* payload, std::uint32_t length) {
  // Page number 0 is the error-page mark, whose payload is not the page.
  if (payload == nullptr || !IsPageWrite(cdb, cdbLength, direction, length) || ReadPageParam(&cdb[7]) == 0) return;
  Page& page = pages_[Key(cdb)];
  std::memcpy(page.data(), payload, page.size());
}

PageMemory::Page PageMemory::Base(const std::uint8_t* cdb) const {
  const auto it = pages_.find(Key(cdb));
  if (it != pages_.end()) return it->second;
  Page erased;
  erased.fill(0xFF);
  return erased;
}

// ---- Writing ----

std::string RecordingHeaderLine(const RecordingHeader& h) {
  return Format("{\"format\":\"%s\"", kRecordingFormatName) + Number("version", static_cast<std::uint64_t>(h.version)) +
         Field("program", Quote(h.program)) + Field("family", Quote(RecordedFamilyName(h.family))) +
         Field("os", Quote(h.os)) + Bool("data", h.data) + "}";
}

std::string RecordingEntryLine(const RecordingEntry& e) {
  std::string line = Format("{\"n\":%llu", static_cast<unsigned long long>(e.number));
  switch (e.kind) {
    case RecordingEntryKind::Open:
      return line + Field("entry", "\"open\"") + Field("path", Quote(e.path)) + Bool("ok", e.ok) +
             Number("error", e.error) + Number("us", e.micros) + "}";
    case RecordingEntryKind::Close:
      return line + Field("entry", "\"close\"") + "}";
    case RecordingEntryKind::Support:
      return line + Field("entry", "\"support\"") + Number("info", e.info) + "}";
    case RecordingEntryKind::Command:
      break;
  }
  const RecordedCommand& c = e.command;
  line += Field("entry", "\"command\"") + Field("cdb", Quote(HexBytes(c.cdb.data(), c.cdbLength))) +
          Field("direction", c.direction == DataDirection::In ? "\"in\"" : "\"out\"") + Number("length", c.length);
  if (c.target) line += Number("adapter", c.target->adapter) + Number("target", c.target->target);
  if (!c.payload.empty()) line += Field("payload", Quote(HexBytes(c.payload.data(), c.payload.size())));
  if (!c.payloadDigest.empty()) line += Field("payload_sha256", Quote(c.payloadDigest));
  line += Bool("delivered", c.delivered) + Bool("good", c.statusGood);
  if (c.target) {
    line += Number("srb_status", c.aspiStatus) + Bool("waited", c.waited) + Number("ha_status", c.hostStatus) +
            Number("target_status", c.targetStatus);
  } else {
    line += Number("error", c.systemError);
  }
  if (!c.sense.empty()) line += Field("sense", Quote(HexBytes(c.sense.data(), c.sense.size())));
  if (c.replyKnown) line += Field("reply", Quote(HexBytes(c.reply.data(), c.reply.size())));
  if (!c.replyDigest.empty()) line += Field("reply_sha256", Quote(c.replyDigest));
  if (c.replyXorKnown) {
    std::string xorText;
    for (const auto& [offset, mask] : c.replyXor) {
      xorText += Format("%s%03x:%02x", xorText.empty() ? "" : ",", static_cast<unsigned>(offset),
                        static_cast<unsigned>(mask));
    }
    line += Field("reply_xor", Quote(xorText));
  }
  return line + Number("us", e.micros) + "}";
}

RecordingWriter::RecordingWriter(Microseconds now) : now_(now ? std::move(now) : Microseconds(SteadyMicros)) {}

RecordingWriter::~RecordingWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

std::uint64_t RecordingWriter::Now() const { return now_(); }

bool RecordingWriter::Open(const std::string& path, const RecordingHeader& header, std::string& error) {
  if (file_ != nullptr) std::fclose(file_);
  path_ = path;
  data_ = header.data;
  next_ = 1;
  failed_ = false;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    error = Format("%s: the recording cannot be created", path.c_str());
    return false;
  }
  const std::string line = RecordingHeaderLine(header) + "\n";
  if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
    std::fclose(file_);
    file_ = nullptr;
    error = Format("%s: the recording cannot be written", path.c_str());
    return false;
  }
  return true;
}

void RecordingWriter::Write(RecordingEntry entry) {
  if (file_ == nullptr) return;
  entry.number = next_++;
  RecordedCommand& c = entry.command;
  if (entry.kind == RecordingEntryKind::Command) {
    const std::uint8_t* cdb = c.cdb.data();
    if (c.direction == DataDirection::Out && !c.payload.empty()) {
      pages_.Observe(cdb, c.cdbLength, c.direction, c.payload.data(), static_cast<std::uint32_t>(c.payload.size()));
      c.payloadDigest = Sha256Hex(c.payload.data(), c.payload.size());
      if (!data_) c.payload.clear();
    }
    if (!data_ && c.replyKnown && PageMemory::IsPageRead(cdb, c.cdbLength, c.direction, c.length) &&
        c.reply.size() == kPageSize) {
      // The firmware must not leave the machine: a page read back is its digest and, when
      // small, its difference from the page written there (a flipped byte shows as one mask).
      const PageMemory::Page base = pages_.Base(cdb);
      std::vector<std::pair<std::uint16_t, std::uint8_t>> diff;
      for (std::size_t i = 0; i < kPageSize && diff.size() <= kMaxReplyXorBytes; ++i) {
        if (c.reply[i] != base[i]) diff.emplace_back(static_cast<std::uint16_t>(i), c.reply[i] ^ base[i]);
      }
      c.replyDigest = Sha256Hex(c.reply.data(), c.reply.size());
      c.replyXorKnown = diff.size() <= kMaxReplyXorBytes;
      if (c.replyXorKnown) c.replyXor = std::move(diff);
      c.replyKnown = false;
      c.reply.clear();
    }
  }
  const std::string line = RecordingEntryLine(entry) + "\n";
  if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
    failed_ = true;
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace romsetter
