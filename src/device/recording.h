#pragma once
// A recording of every command a run sends to a device, and what the device answered: one
// JSON object per line (docs/recording.md).  The writer and the reader share this file so the
// format lives in one place; the replaying device (emulator) reads what the writer wrote.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/scsi_transport.h"

namespace romsetter {

constexpr int kRecordingVersion = 1;
constexpr const char* kRecordingFormatName = "romsetter-recording";
// A page read back differing in more bytes than this is kept as the page itself, not as
// `replyXor`; the reader refuses a longer list.
constexpr std::size_t kMaxReplyXorBytes = 64;

// The header's "family": "pass-through" or "aspi".
const char* RecordedFamilyName(TransportFamily family);

struct RecordingHeader {
  int version = kRecordingVersion;
  std::string program;  // "romsetter-cli 1.7.4"
  TransportFamily family = TransportFamily::PassThrough;
  std::string os;       // "windows", "linux"
  bool data = false;    // page payloads kept as data, not only as digests
};

// One command as the transport saw it.  Payloads and replies are the bytes themselves when
// known; a recording without data keeps only the digest of a page's payload, and of a page
// read back its digest and how it differs from the page the run last wrote there.
struct RecordedCommand {
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  DataDirection direction = DataDirection::Out;
  std::uint32_t length = 0;
  std::optional<ScsiTarget> target;  // ASPI: the address the request went to

  std::vector<std::uint8_t> payload;  // out: the bytes sent (empty when only the digest is kept)
  std::string payloadDigest;          // out, length > 0: SHA-256 of the bytes sent

  bool delivered = false;
  bool statusGood = false;
  std::uint32_t systemError = 0;  // pass-through
  // ASPI: the request's status when it ended, whether it was waited for, and the adapter's
  // and target's statuses and sense area.
  std::uint8_t aspiStatus = 0;
  bool waited = false;
  std::uint8_t hostStatus = 0;
  std::uint8_t targetStatus = 0;
  std::vector<std::uint8_t> sense;  // only when not all zero

  // In: what the host's buffer held after the command.
  bool replyKnown = false;            // `reply` holds it
  std::vector<std::uint8_t> reply;
  std::string replyDigest;            // a page read back without data
  bool replyXorKnown = false;         // the digest comes with `replyXor` against the base page
  std::vector<std::pair<std::uint16_t, std::uint8_t>> replyXor;  // offset, XOR mask
};

enum class RecordingEntryKind { Command, Open, Close, Support };

struct RecordingEntry {
  RecordingEntryKind kind = RecordingEntryKind::Command;
  std::uint64_t number = 0;  // from 1, in order
  std::uint64_t micros = 0;  // time the command took
  RecordedCommand command;
  std::string path;          // Open: the drive path
  bool ok = false;           // Open
  std::uint32_t error = 0;   // Open: the system error of a failed open
  std::uint32_t info = 0;    // Support: GetASPI32SupportInfo's result
};

// A recording's entries, packed: each entry is its fields in one shared byte store (byte
// strings as bytes, digests as their 32 bytes, numbers in as few bytes as they need) found
// by a 4-byte offset, so an entry never takes more memory than its line in the file did.  An
// entry is unpacked, as a copy, when it is looked at; its `number` is its place, from 1.
class RecordingEntries {
 public:
  class Iterator {
   public:
    using value_type = RecordingEntry;
    Iterator(const RecordingEntries& entries, std::size_t at) : entries_(&entries), at_(at) {}
    RecordingEntry operator*() const { return (*entries_)[at_]; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    const RecordingEntries* entries_;
    std::size_t at_;
  };

  std::size_t size() const { return starts_.size(); }
  bool empty() const { return starts_.empty(); }
  RecordingEntry operator[](std::size_t index) const;
  Iterator begin() const { return Iterator(*this, 0); }
  Iterator end() const { return Iterator(*this, size()); }
  // Digests are empty or 64 lower-case hex digits, as the reader and the writer make them.
  void push_back(const RecordingEntry& entry);
  void resize(std::size_t count);
  // Room for `entries` entries whose packed fields take `bytes` in all, allocated once.
  void reserve(std::size_t entries, std::size_t bytes);
  // The bytes the entries hold, allocated room included.
  std::size_t Footprint() const { return starts_.capacity() * sizeof(Start) + bytes_.capacity(); }

 private:
  using Start = std::uint32_t;
  std::vector<Start> starts_;
  std::vector<std::uint8_t> bytes_;
};

struct Recording {
  RecordingHeader header;
  RecordingEntries entries;
};

// What the host last wrote to each page address (page number not 0) during a run, so a page
// read back can be kept as its difference from it.  A page never written is taken as erased.
class PageMemory {
 public:
  using Page = std::array<std::uint8_t, 512>;
  static bool IsPageWrite(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                          std::uint32_t length);
  static bool IsPageRead(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                         std::uint32_t length);
  // Call for every out command with its payload; remembers page writes.
  void Observe(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction, const std::uint8_t* payload,
               std::uint32_t length);
  Page Base(const std::uint8_t* cdb) const;

 private:
  static std::uint32_t Key(const std::uint8_t* cdb);
  std::map<std::uint32_t, Page> pages_;
};

// "ff0300..." for bytes; the reader takes the same form back.
std::string HexBytes(const std::uint8_t* data, std::size_t length);

// Writes the recording line by line, each flushed, so a run cut off still leaves every
// command before it readable.
class RecordingWriter {
 public:
  using Microseconds = std::function<std::uint64_t()>;
  explicit RecordingWriter(Microseconds now = nullptr);
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Creates (or empties) the file and writes the header.  False with `error` one line.
  bool Open(const std::string& path, const RecordingHeader& header, std::string& error);
  bool active() const { return file_ != nullptr; }
  // False once a line could not be written; the file is closed then.
  bool ok() const { return !failed_; }
  const std::string& path() const { return path_; }
  std::uint64_t Now() const;

  // Numbers the entry and writes it.  A command carries its payload and full reply; the writer
  // keeps only digests of pages when the header says so.
  void Write(RecordingEntry entry);

 private:
  Microseconds now_;
  std::FILE* file_ = nullptr;
  std::string path_;
  bool data_ = false;
  bool failed_ = false;
  std::uint64_t next_ = 1;
  PageMemory pages_;
};

std::string RecordingEntryLine(const RecordingEntry& entry);
std::string RecordingHeaderLine(const RecordingHeader& header);

// Reads a whole recording.  Hostile input: every field is checked; the first fault stops the
// reading with `error` as "NAME:LINE: what is wrong".
bool ParseRecording(const std::string& text, const std::string& name, Recording& recording, std::string& error);
bool LoadRecording(const std::string& path, Recording& recording, std::string& error);
// True when `text` starts as a recording does (its header's first key).
bool LooksLikeRecording(const std::string& text);

}  // namespace romsetter
