#include "app/ini_profile_store.h"

#ifdef _WIN32
#include <windows.h>
#undef DeleteFile  // the store's own member, not the system's macro
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "base/format.h"
#include "base/text.h"

namespace romsetter {

namespace {

enum class LoadResult { Missing, Loaded, Unusable };

// Space, tab, line feed, vertical tab, form feed and carriage return.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Views, not copies: start-up reads the whole text once per setting.
std::string_view TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return s.substr(b);
}

std::string_view TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return s.substr(0, e);
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

struct ParsedLine {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string_view name;
  std::string_view value;  // untrimmed: most lines are passed over unread
};

ParsedLine Parse(std::string_view raw) {
  ParsedLine line;
  const std::string_view s = TrimLeft(raw);
  if (s.empty() || s[0] == ';') return line;
  if (s[0] == '[') {
    const std::size_t close = s.find(']');
    line.kind = ParsedLine::Section;
    line.name = Trim(close == std::string_view::npos ? s.substr(1) : s.substr(1, close - 1));
    return line;
  }
  line.kind = ParsedLine::Entry;
  const std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) {
    line.name = Trim(s);
  } else {
    line.name = TrimRight(s.substr(0, eq));
    line.value = s.substr(eq + 1);
  }
  return line;
}

LoadResult LoadText(const std::string& path, std::string& text) {
  text.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return errno == ENOENT ? LoadResult::Missing : LoadResult::Unusable;
  bool ok = true;
  char chunk[4096];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    if (text.size() + n > IniProfileStore::kFileLimit) {
      ok = false;
      break;
    }
    text.append(chunk, n);
    if (n < sizeof chunk) {
      ok = std::ferror(f) == 0;
      break;
    }
  }
  std::fclose(f);
  return ok ? LoadResult::Loaded : LoadResult::Unusable;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool StartsWithByteOrderMark(std::string_view text) { return text.substr(0, 3) == kByteOrderMark; }

// Steps through the lines of a text, each without its line end.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {
    // A byte-order mark would otherwise glue itself to the first section name.
    if (StartsWithByteOrderMark(text_)) start_ = kByteOrderMark.size();
  }
  bool Next(std::string_view& line) {
    if (start_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', start_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(start_, end - start_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start_ = end + 1;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t start_ = 0;
};

// Quotes around a whole value are dropped, as the profile functions do.
std::string Finish(std::string_view value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, ProfileStore::kValueLimit));
}

#ifdef _WIN32

// A temporary file of its own in the settings folder (the system picks a name no other
// writer has); Windows will not rename onto an existing file, so the old one goes first.
bool WriteReplacing(const std::string& folder, const std::string& path, const std::string& text) {
  char temp[MAX_PATH];
  if (GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "ini", 0, temp) == 0) return false;
  std::FILE* f = std::fopen(temp, "wb");
  bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = f != nullptr && std::fclose(f) == 0 && ok;
  if (ok && std::rename(temp, path.c_str()) != 0) {
    std::remove(path.c_str());
    ok = std::rename(temp, path.c_str()) == 0;
  }
  if (!ok) std::remove(temp);
  return ok;
}

#else

// A temporary file of its own (mkstemp), then a rename that replaces the settings file in one
// step: a reader always finds the old file or the new one, and a failed rename leaves the old.
bool WriteReplacing(const std::string& /*folder*/, const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old {};
  fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);  // mkstemp gives 0600
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    close(fd);
    unlink(temp.c_str());
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

#endif

// Holds the settings folder locked while a write reads, changes and replaces the file, so
// two programs writing at once keep each other's keys (Linux; on Windows one program writes).
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) {
#ifndef _WIN32
    fd_ = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
#else
    (void)folder;
#endif
  }
  ~FolderLock() {
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);
#endif
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

bool ProfileEntryWritable(const std::string& section, const std::string& key, const std::string& value) {
  const auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  if (section.empty() || key.empty()) return false;
  if (hasBreak(section) || hasBreak(key) || hasBreak(value)) return false;
  if (section.find(']') != std::string::npos || key.find('=') != std::string::npos) return false;
  const std::string_view lead = TrimLeft(key);
  return !lead.empty() && lead[0] != '[' && lead[0] != ';';
}

std::string IniTextProblem(const std::string& text) {
  std::size_t line = 1;
  std::size_t length = 0;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      ++line;
      length = 0;
      continue;
    }
    if (c < 0x20 && c != '\t' && c != '\r') return Format("line %zu holds binary data, not text", line);
    if (++length > IniProfileStore::kLineLimit) {
      return Format("line %zu is longer than %zu characters", line, IniProfileStore::kLineLimit);
    }
  }
  return "";
}

std::string IniTextRead(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& defaultValue) {
  bool inSection = false;
  Lines lines(text);
  for (std::string_view raw; lines.Next(raw);) {
    const ParsedLine line = Parse(raw);
    if (line.kind == ParsedLine::Section) {
      inSection = EqualsNoCase(line.name, section);
    } else if (inSection && line.kind == ParsedLine::Entry && EqualsNoCase(line.name, key)) {
      return Finish(Trim(line.value));
    }
  }
  std::string fallback(TrimRight(defaultValue));
  if (fallback.size() > ProfileStore::kValueLimit) fallback.resize(ProfileStore::kValueLimit);
  return fallback;
}

bool IniTextWrite(std::string& text, const std::string& section, const std::string& key, const std::string& value) {
  if (!ProfileEntryWritable(section, key, value)) return false;
  std::vector<std::string_view> lines;
  Lines reader(text);
  for (std::string_view line; reader.Next(line);) lines.push_back(line);
  std::string replacement;  // the changed entry, which `lines` views

  int sectionLine = -1;     // header of the first section of that name
  int lastEntryLine = -1;   // last entry inside that first section
  bool inSection = false;
  bool inFirstSection = false;
  bool replaced = false;
  for (int i = 0; i < static_cast<int>(lines.size()) && !replaced; ++i) {
    const ParsedLine line = Parse(lines[i]);
    if (line.kind == ParsedLine::Section) {
      inSection = EqualsNoCase(line.name, section);
      inFirstSection = inSection && sectionLine < 0;
      if (inFirstSection) sectionLine = i;
    } else if (inSection && line.kind == ParsedLine::Entry) {
      if (EqualsNoCase(line.name, key)) {
        replacement = std::string(line.name) + "=" + value;
        lines[i] = replacement;
        replaced = true;
      } else if (inFirstSection) {
        lastEntryLine = i;
      }
    }
  }
  const std::string entry = key + "=" + value;
  const std::string header = "[" + section + "]";
  if (!replaced) {
    if (sectionLine >= 0) {
      const int at = (lastEntryLine >= 0 ? lastEntryLine : sectionLine) + 1;
      lines.insert(lines.begin() + at, entry);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back(header);
      lines.push_back(entry);
    }
  }

  // The mark stays: dropped, a second one behind it would become the first and be passed over.
  const std::string_view mark = StartsWithByteOrderMark(text) ? kByteOrderMark : std::string_view();
  std::size_t length = mark.size();
  for (const std::string_view line : lines) length += line.size() + 2;
  if (length > IniProfileStore::kFileLimit) return false;
  std::string out(mark);
  out.reserve(length);
  for (const std::string_view line : lines) {
    out += line;
    out += "\r\n";
  }
  text = std::move(out);
  return true;
}

bool IniProfileStore::Check(std::string& error) const {
  std::string text;
  const LoadResult result = LoadText(path_, text);
  if (result == LoadResult::Missing) return true;
  if (result == LoadResult::Unusable) {
    error = Format("settings file %s cannot be read (or is larger than %zu bytes)", path_.c_str(), kFileLimit);
    return false;
  }
  const std::string problem = IniTextProblem(text);
  if (problem.empty()) return true;
  error = Format("settings file %s: %s", path_.c_str(), problem.c_str());
  return false;
}

IniProfileStore::IniProfileStore(const std::string& folder) : folder_(folder) {
  const bool separated = folder.empty() || folder.back() == '/' || folder.back() == '\\';
  path_ = folder + (separated ? "" : "/") + kFileName;
}

std::string IniProfileStore::Read(const std::string& section, const std::string& key, const std::string& defaultValue) {
  std::string text;
  if (LoadText(path_, text) != LoadResult::Loaded) text.clear();
  return IniTextRead(text, section, key, defaultValue);
}

bool IniProfileStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (!ProfileEntryWritable(section, key, value)) return false;
  std::string text;
  const FolderLock lock(folder_);
  if (LoadText(path_, text) == LoadResult::Unusable) return false;
  return IniTextWrite(text, section, key, value) && WriteReplacing(folder_, path_, text);
}

bool IniProfileStore::DeleteFile() {
  if (std::remove(path_.c_str()) == 0) return true;
  return errno == ENOENT;
}

}  // namespace romsetter
