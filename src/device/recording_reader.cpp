// Reading a recording back (docs/recording.md): every line is hostile input, checked field by
// field before any of it is used.
#include "device/recording.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "base/sha256.h"

namespace romsetter {

namespace {

constexpr std::size_t kMaxRecordingBytes = 512u * 1024 * 1024;
constexpr std::size_t kMaxLineBytes = 64 * 1024;
constexpr std::size_t kMaxSenseBytes = 32;
// An entry has at most 17; a line of thousands of keys would cost many times its length.
constexpr std::size_t kMaxKeys = 32;

// One flat JSON object: string, unsigned integer and boolean values only.
struct Value {
  enum Kind { String, Integer, Boolean } kind = String;
  std::string text;
  std::uint64_t number = 0;
  bool flag = false;
};
using Object = std::map<std::string, Value>;

class LineParser {
 public:
  explicit LineParser(const std::string& line) : s_(line) {}

  bool Parse(Object& object, std::string& error) {
    SkipBlanks();
    if (!Take('{')) return Fail("an entry must be one JSON object", error);
    SkipBlanks();
    if (Take('}')) return AtEnd(error);
    for (;;) {
      std::string key;
      SkipBlanks();
      if (!ParseString(key, error)) return false;
      SkipBlanks();
      if (!Take(':')) return Fail("':' expected after a key", error);
      SkipBlanks();
      Value value;
      if (!ParseValue(value, error)) return false;
      if (!object.emplace(key, value).second) return Fail(Format("key \"%s\" appears twice", key.c_str()), error);
      if (object.size() > kMaxKeys) return Fail(Format("more than %zu keys in one line", kMaxKeys), error);
      SkipBlanks();
      if (Take('}')) return AtEnd(error);
      if (!Take(',')) return Fail("',' or '}' expected", error);
    }
  }

 private:
  bool Fail(const std::string& what, std::string& error) {
    error = what;
    return false;
  }
  bool AtEnd(std::string& error) {
    SkipBlanks();
    return pos_ == s_.size() ? true : Fail("text after the entry's closing '}'", error);
  }
  void SkipBlanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r')) ++pos_;
  }
  bool Take(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool ParseString(std::string& out, std::string& error) {
    if (!Take('"')) return Fail("a quoted text expected", error);
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character inside a text", error);
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) break;
      const char e = s_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            const int d = pos_ < s_.size() ? HexDigit(s_[pos_++]) : -1;
            if (d < 0) return Fail("a \\u escape needs four hex digits", error);
            code = code * 16 + static_cast<unsigned>(d);
          }
          if (code > 0xFF) return Fail("a \\u escape above \\u00ff (texts are single-byte)", error);
          out += static_cast<char>(code);
          break;
        }
        default: return Fail(Format("unknown escape \\%c", e), error);
      }
    }
    return Fail("a text is not closed", error);
  }
  bool ParseValue(Value& value, std::string& error) {
    if (pos_ < s_.size() && s_[pos_] == '"') {
      value.kind = Value::String;
      return ParseString(value.text, error);
    }
    if (s_.compare(pos_, 4, "true") == 0 || s_.compare(pos_, 5, "false") == 0) {
      value.kind = Value::Boolean;
      value.flag = s_[pos_] == 't';
      pos_ += value.flag ? 4 : 5;
      return true;
    }
    if (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      value.kind = Value::Integer;
      int digits = 0;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
        if (++digits > 15) return Fail("a number of more than 15 digits", error);
        value.number = value.number * 10 + static_cast<std::uint64_t>(s_[pos_++] - '0');
      }
      return true;
    }
    return Fail("a value must be a text, an unsigned whole number, true or false", error);
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

// Reads the fields of one entry, each checked for kind and range.
class Fields {
 public:
  Fields(const Object& o, std::string& error) : o_(o), error_(error) {}

  bool Has(const char* key) const { return o_.count(key) != 0; }
  bool Text(const char* key, std::string& out) {
    const Value* v = Find(key, Value::String, "a text");
    if (v != nullptr) out = v->text;
    return v != nullptr;
  }
  bool Flag(const char* key, bool& out) {
    const Value* v = Find(key, Value::Boolean, "true or false");
    if (v != nullptr) out = v->flag;
    return v != nullptr;
  }
  template <typename T>
  bool Uint(const char* key, T& out, std::uint64_t max) {
    const Value* v = Find(key, Value::Integer, "a whole number");
    if (v == nullptr) return false;
    if (v->number > max) {
      error_ = Format("\"%s\" is %llu, more than %llu", key, static_cast<unsigned long long>(v->number),
                      static_cast<unsigned long long>(max));
      return false;
    }
    out = static_cast<T>(v->number);
    return true;
  }
  bool Bytes(const char* key, std::vector<std::uint8_t>& out, std::size_t exact, std::size_t max) {
    std::string hex;
    if (!Text(key, hex)) return false;
    if (hex.size() % 2 != 0 || (exact != kAny && hex.size() != 2 * exact) || hex.size() > 2 * max) {
      error_ = exact != kAny ? Format("\"%s\" must hold %zu bytes in hex", key, exact)
                             : Format("\"%s\" must hold at most %zu bytes in hex", key, max);
      return false;
    }
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int hi = Nibble(hex[i]);
      const int lo = Nibble(hex[i + 1]);
      if (hi < 0 || lo < 0) {
        error_ = Format("\"%s\" is not lower-case hex", key);
        return false;
      }
      out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
  }
  bool Digest(const char* key, std::string& out) {
    std::vector<std::uint8_t> bytes;
    if (!Bytes(key, bytes, 32, 32)) return false;
    out = HexBytes(bytes.data(), bytes.size());
    return true;
  }

  static constexpr std::size_t kAny = static_cast<std::size_t>(-1);

 private:
  static int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }
  const Value* Find(const char* key, Value::Kind kind, const char* what) {
    const auto it = o_.find(key);
    if (it == o_.end()) {
      error_ = Format("\"%s\" is missing", key);
      return nullptr;
    }
    if (it->second.kind != kind) {
      error_ = Format("\"%s\" must be %s", key, what);
      return nullptr;
    }
    return &it->second;
  }
  const Object& o_;
  std::string& error_;
};

bool ParseHeader(const Object& o, RecordingHeader& h, std::string& error) {
  Fields f(o, error);
  std::string format;
  if (!f.Has("format") || !f.Text("format", format) || format != kRecordingFormatName) {
    error = Format("not a Romsetter recording (its first line must carry \"format\":\"%s\")", kRecordingFormatName);
    return false;
  }
  if (!f.Uint("version", h.version, 1000000)) return false;
  if (h.version != kRecordingVersion) {
    error = Format("recording format version %d is not known (this program reads version %d)", h.version,
                   kRecordingVersion);
    return false;
  }
  std::string family;
  if (!f.Text("program", h.program) || !f.Text("family", family) || !f.Text("os", h.os) || !f.Flag("data", h.data)) {
    return false;
  }
  for (TransportFamily known : {TransportFamily::PassThrough, TransportFamily::Aspi}) {
    if (family != RecordedFamilyName(known)) continue;
    h.family = known;
    return true;
  }
  error = Format("unknown transport family \"%s\" (pass-through or aspi)", family.c_str());
  return false;
}

bool ParseXor(const std::string& text, std::vector<std::pair<std::uint16_t, std::uint8_t>>& out, std::string& error) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    unsigned offset = 0;
    unsigned mask = 0;
    int used = 0;
    // "ooo:mm", comma-separated, offsets rising.
    if (text.size() - pos < 6 || text[pos + 3] != ':' ||
        std::sscanf(text.substr(pos, 6).c_str(), "%3x:%2x%n", &offset, &mask, &used) != 2 || used != 6 ||
        offset >= kPageSize || mask == 0 || (!out.empty() && offset <= out.back().first) ||
        out.size() >= kMaxReplyXorBytes) {
      error = "\"reply_xor\" must be rising OFF:MASK pairs (3 and 2 hex digits, masks not 0, at most 64)";
      return false;
    }
    out.emplace_back(static_cast<std::uint16_t>(offset), static_cast<std::uint8_t>(mask));
    pos += 6;
    if (pos < text.size() && text[pos++] != ',') {
      error = "\"reply_xor\" pairs are separated by ','";
      return false;
    }
    if (pos == text.size() && text.back() == ',') {
      error = "\"reply_xor\" ends with ','";
      return false;
    }
  }
  return true;
}

bool ParseCommand(Fields& f, const RecordingHeader& h, RecordedCommand& c, std::string& error) {
  std::vector<std::uint8_t> cdb;
  std::string direction;
  if (!f.Bytes("cdb", cdb, Fields::kAny, c.cdb.size()) || !f.Text("direction", direction) ||
      !f.Uint("length", c.length, 0xFFFF)) {
    return false;
  }
  if (cdb.empty()) {
    error = "\"cdb\" is empty";
    return false;
  }
  std::memcpy(c.cdb.data(), cdb.data(), cdb.size());
  c.cdbLength = static_cast<std::uint8_t>(cdb.size());
  if (direction != "in" && direction != "out") {
    error = "\"direction\" must be \"in\" or \"out\"";
    return false;
  }
  c.direction = direction == "in" ? DataDirection::In : DataDirection::Out;
  if (!f.Flag("delivered", c.delivered) || !f.Flag("good", c.statusGood)) return false;
  if (h.family == TransportFamily::Aspi) {
    ScsiTarget target;
    if (!f.Uint("adapter", target.adapter, 0xFF) || !f.Uint("target", target.target, 0xFF) ||
        !f.Uint("srb_status", c.aspiStatus, 0xFF) || !f.Flag("waited", c.waited) ||
        !f.Uint("ha_status", c.hostStatus, 0xFF) || !f.Uint("target_status", c.targetStatus, 0xFF)) {
      return false;
    }
    c.target = target;
  } else if (!f.Uint("error", c.systemError, 0xFFFFFFFFu)) {
    return false;
  }
  if (f.Has("sense") && !f.Bytes("sense", c.sense, Fields::kAny, kMaxSenseBytes)) return false;
  if (c.direction == DataDirection::Out && c.length > 0) {
    const bool data = f.Has("payload");
    if (data && !f.Bytes("payload", c.payload, c.length, c.length)) return false;
    if (!f.Digest("payload_sha256", c.payloadDigest)) return false;
    if (data && Sha256Hex(c.payload.data(), c.payload.size()) != c.payloadDigest) {
      error = "\"payload_sha256\" is not the digest of \"payload\"";
      return false;
    }
  }
  if (c.direction == DataDirection::In && c.length > 0) {
    c.replyKnown = f.Has("reply");
    if (c.replyKnown) return f.Bytes("reply", c.reply, c.length, c.length);
    if (!f.Digest("reply_sha256", c.replyDigest)) {
      error = Format("a reply needs \"reply\" or \"reply_sha256\" (%s)", error.c_str());
      return false;
    }
    c.replyXorKnown = f.Has("reply_xor");
    std::string xorText;
    if (c.replyXorKnown && (!f.Text("reply_xor", xorText) || !ParseXor(xorText, c.replyXor, error))) return false;
  }
  return true;
}

bool ParseEntry(const Object& o, const RecordingHeader& h, std::uint64_t expected, RecordingEntry& e,
                std::string& error) {
  Fields f(o, error);
  std::string kind;
  if (!f.Uint("n", e.number, 999999999999999ull) || !f.Text("entry", kind)) return false;
  if (e.number != expected) {
    error = Format("entry %llu out of order: entry %llu was expected", static_cast<unsigned long long>(e.number),
                   static_cast<unsigned long long>(expected));
    return false;
  }
  if (f.Has("us") && !f.Uint("us", e.micros, 999999999999999ull)) return false;
  if (kind == "open") {
    e.kind = RecordingEntryKind::Open;
    return f.Text("path", e.path) && f.Flag("ok", e.ok) && f.Uint("error", e.error, 0xFFFFFFFFu);
  }
  if (kind == "close") {
    e.kind = RecordingEntryKind::Close;
    return true;
  }
  if (kind == "support") {
    e.kind = RecordingEntryKind::Support;
    return f.Uint("info", e.info, 0xFFFFFFFFu);
  }
  if (kind == "command") {
    e.kind = RecordingEntryKind::Command;
    return ParseCommand(f, h, e.command, error);
  }
  error = Format("unknown entry \"%s\" (command, open, close or support)", kind.c_str());
  return false;
}

}  // namespace

bool LooksLikeRecording(const std::string& text) {
  return text.compare(0, 10, "{\"format\":") == 0 && text.find(kRecordingFormatName) != std::string::npos;
}

namespace {

// One line after another, as the file holds them (without the line break).
class LineReader {
 public:
  // `lines` and `bytes` are the whole file's: no entry packs into more bytes than its line, so
  // the entries are allocated once.
  LineReader(const std::string& name, Recording& recording, std::string& error, std::size_t lines,
             std::size_t bytes)
      : name_(name), recording_(recording), error_(error) {
    recording_.entries.reserve(lines > 0 ? lines - 1 : 0, bytes);
  }

  bool Line(const std::string& line) {
    ++lineNumber_;
    if (line.size() > kMaxLineBytes) return Fail(Format("a line longer than %zu bytes", kMaxLineBytes));
    Object object;
    std::string what;
    if (!LineParser(line).Parse(object, what)) return Fail(what);
    if (lineNumber_ == 1) return ParseHeader(object, recording_.header, what) || Fail(what);
    RecordingEntry entry;
    if (!ParseEntry(object, recording_.header, recording_.entries.size() + 1, entry, what)) {
      return Fail(Format("entry %zu: %s", recording_.entries.size() + 1, what.c_str()));
    }
    recording_.entries.push_back(entry);
    return true;
  }
  // Every line the writer finishes ends with a line break; a last line without one is what a
  // run cut off (or a file cut short) leaves.
  bool Truncated() {
    ++lineNumber_;
    return Fail("the recording ends in the middle of an entry (truncated)");
  }

 private:
  bool Fail(const std::string& what) {
    error_ = Format("%s:%zu: %s", name_.c_str(), lineNumber_, what.c_str());
    recording_ = Recording{};
    return false;
  }
  const std::string& name_;
  Recording& recording_;
  std::string& error_;
  std::size_t lineNumber_ = 0;
};

}  // namespace

bool ParseRecording(const std::string& text, const std::string& name, Recording& recording, std::string& error) {
  recording = Recording{};
  if (text.size() > kMaxRecordingBytes) {
    error = Format("%s: larger than %zu MiB, not a recording", name.c_str(), kMaxRecordingBytes >> 20);
    return false;
  }
  if (text.empty()) {
    error = Format("%s: empty, not a recording", name.c_str());
    return false;
  }
  LineReader reader(name, recording, error, static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
                    text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) return reader.Truncated();
    if (!reader.Line(text.substr(pos, std::min(end - pos, kMaxLineBytes + 1)))) return false;
    pos = end + 1;
  }
  return true;
}

// The file is read twice, a chunk at a time, and never held whole: once to count its lines
// and bytes (so the packed entries are allocated once), once to parse them.  Memory is then
// the entries themselves, at most the file's size and 4 bytes a line (docs/recording.md).
bool LoadRecording(const std::string& path, Recording& recording, std::string& error) {
  recording = Recording{};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = Format("%s: the recording cannot be opened", path.c_str());
    return false;
  }
  std::vector<char> chunk(65536);
  std::size_t bytes = 0;
  std::size_t lines = 0;
  for (std::size_t n; bytes <= kMaxRecordingBytes && (n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;) {
    bytes += n;
    lines += static_cast<std::size_t>(std::count(chunk.data(), chunk.data() + n, '\n'));
  }
  bool ok = std::ferror(file) == 0;
  if (!ok) {
    error = Format("%s: the recording cannot be read", path.c_str());
  } else if (bytes > kMaxRecordingBytes) {
    error = Format("%s: larger than %zu MiB, not a recording", path.c_str(), kMaxRecordingBytes >> 20);
    ok = false;
  } else if (bytes == 0) {
    error = Format("%s: empty, not a recording", path.c_str());
    ok = false;
  }
  if (ok) {
    std::rewind(file);
    LineReader reader(path, recording, error, lines, bytes);
    std::string line;
    std::size_t left = bytes;  // a file that grows meanwhile is read as it was counted
    for (std::size_t n; ok && left > 0 && (n = std::fread(chunk.data(), 1, std::min(chunk.size(), left), file)) > 0;) {
      left -= n;
      for (std::size_t i = 0; ok && i < n; ++i) {
        if (chunk[i] != '\n') {
          if (line.size() <= kMaxLineBytes) line.push_back(chunk[i]);  // one past the limit is refused
          continue;
        }
        ok = reader.Line(line);
        line.clear();
      }
    }
    if (ok && std::ferror(file) != 0) {
      error = Format("%s: the recording cannot be read", path.c_str());
      recording = Recording{};
      ok = false;
    }
    if (ok && (left > 0 || !line.empty())) ok = reader.Truncated();
  }
  std::fclose(file);
  return ok;
}

}  // namespace romsetter
