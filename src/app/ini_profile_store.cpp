#include "app/ini_profile_store.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "base/format.h"
#include "base/text.h"

namespace romsetter {

namespace {

enum class LoadResult { Missing, Loaded, Unusable };

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string TrimLeft(const std::string& s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return s.substr(b);
}

std::string TrimRight(const std::string& s) {
  std::size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return s.substr(0, e);
}

std::string Trim(const std::string& s) { return TrimRight(TrimLeft(s)); }

struct ParsedLine {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string name;
  std::string value;
};

ParsedLine Parse(const std::string& raw) {
  ParsedLine line;
  const std::string s = TrimLeft(raw);
  if (s.empty() || s[0] == ';') return line;
  if (s[0] == '[') {
    const std::size_t close = s.find(']');
    line.kind = ParsedLine::Section;
    line.name = Trim(close == std::string::npos ? s.substr(1) : s.substr(1, close - 1));
    return line;
  }
  line.kind = ParsedLine::Entry;
  const std::size_t eq = s.find('=');
  if (eq == std::string::npos) {
    line.name = Trim(s);
  } else {
    line.name = Trim(s.substr(0, eq));
    line.value = Trim(s.substr(eq + 1));
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

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  // A byte-order mark would otherwise glue itself to the first section name.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// Quotes around a whole value are dropped, as the profile functions do.
std::string Finish(std::string value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > ProfileStore::kValueLimit) value.resize(ProfileStore::kValueLimit);
  return value;
}

bool WriteReplacing(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    // Windows will not rename onto an existing file.
    std::remove(path.c_str());
    ok = std::rename(temp.c_str(), path.c_str()) == 0;
  }
  if (!ok) std::remove(temp.c_str());
  return ok;
}

}  // namespace

bool ProfileEntryWritable(const std::string& section, const std::string& key, const std::string& value) {
  const auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  if (section.empty() || key.empty()) return false;
  if (hasBreak(section) || hasBreak(key) || hasBreak(value)) return false;
  if (section.find(']') != std::string::npos || key.find('=') != std::string::npos) return false;
  const std::string lead = TrimLeft(key);
  return !lead.empty() && lead[0] != '[' && lead[0] != ';';
}

bool IniProfileStore::Check(std::string& error) const {
  std::string text;
  const LoadResult result = LoadText(path_, text);
  if (result == LoadResult::Missing) return true;
  if (result == LoadResult::Unusable) {
    error = Format("settings file %s cannot be read (or is larger than %zu bytes)", path_.c_str(), kFileLimit);
    return false;
  }
  std::size_t line = 1;
  std::size_t length = 0;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      ++line;
      length = 0;
      continue;
    }
    if (c < 0x20 && c != '\t' && c != '\r') {
      error = Format("settings file %s: line %zu holds binary data, not text", path_.c_str(), line);
      return false;
    }
    if (++length > kLineLimit) {
      error = Format("settings file %s: line %zu is longer than %zu characters", path_.c_str(), line, kLineLimit);
      return false;
    }
  }
  return true;
}

IniProfileStore::IniProfileStore(const std::string& folder) {
  const bool separated = folder.empty() || folder.back() == '/' || folder.back() == '\\';
  path_ = folder + (separated ? "" : "/") + kFileName;
}

std::string IniProfileStore::Read(const std::string& section, const std::string& key, const std::string& defaultValue) {
  std::string text;
  if (LoadText(path_, text) == LoadResult::Loaded) {
    bool inSection = false;
    for (const std::string& raw : SplitLines(text)) {
      const ParsedLine line = Parse(raw);
      if (line.kind == ParsedLine::Section) {
        inSection = EqualsNoCase(line.name, section);
      } else if (inSection && line.kind == ParsedLine::Entry && EqualsNoCase(line.name, key)) {
        return Finish(line.value);
      }
    }
  }
  std::string fallback = TrimRight(defaultValue);
  if (fallback.size() > kValueLimit) fallback.resize(kValueLimit);
  return fallback;
}

bool IniProfileStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (!ProfileEntryWritable(section, key, value)) return false;
  std::string text;
  if (LoadText(path_, text) == LoadResult::Unusable) return false;
  std::vector<std::string> lines = SplitLines(text);

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
        lines[i] = line.name + "=" + value;
        replaced = true;
      } else if (inFirstSection) {
        lastEntryLine = i;
      }
    }
  }
  if (!replaced) {
    const std::string entry = key + "=" + value;
    if (sectionLine >= 0) {
      const int at = (lastEntryLine >= 0 ? lastEntryLine : sectionLine) + 1;
      lines.insert(lines.begin() + at, entry);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }

  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  if (out.size() > kFileLimit) return false;
  return WriteReplacing(path_, out);
}

bool IniProfileStore::DeleteFile() {
  if (std::remove(path_.c_str()) == 0) return true;
  return errno == ENOENT;
}

}  // namespace romsetter
