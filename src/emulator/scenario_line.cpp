#include "emulator/scenario_line.h"

#include "base/format.h"

namespace romsetter {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7F;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool SplitScenarioLine(const std::string& line, std::vector<ScenarioToken>& tokens, std::string& what) {
  tokens.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (IsControl(c)) {
      what = "control character in the line";
      return false;
    }
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (c == '#') break;
    ScenarioToken t;
    if (c == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        what = "unterminated quote";
        return false;
      }
      t.text = line.substr(i + 1, close - i - 1);
      t.quoted = true;
      for (char q : t.text) {
        if (IsControl(q)) {
          what = "control character in the line";
          return false;
        }
      }
      i = close + 1;
      if (i < line.size() && !IsBlank(line[i]) && line[i] != '#') {
        what = "text right after a closing quote";
        return false;
      }
    } else {
      while (i < line.size() && !IsBlank(line[i]) && line[i] != '#') {
        if (line[i] == '"') {
          what = "unexpected quote inside a word";
          return false;
        }
        if (IsControl(line[i])) {
          what = "control character in the line";
          return false;
        }
        t.text += line[i++];
      }
    }
    tokens.push_back(std::move(t));
  }
  return true;
}

bool ScenarioValues::Count(std::size_t values, std::string& what) {
  const std::size_t have = tokens_.size() - 1;
  if (have < values) {
    what = Format("missing value for '%s' (expects %zu)", key_.c_str(), values);
    return false;
  }
  if (have > values) {
    what = Format("extra value '%s' after '%s'", tokens_[values + 1].text.c_str(), key_.c_str());
    return false;
  }
  return true;
}

bool ScenarioValues::Arg(std::size_t index, std::uint32_t max, std::uint32_t& out, std::string& what) {
  if (tokens_[index].quoted) {
    what = Format("'%s' expects a number, not a quoted text", key_.c_str());
    return false;
  }
  return Number(tokens_[index].text, max, out, what);
}

bool ScenarioValues::Number(const std::string& s, std::uint32_t max, std::uint32_t& out, std::string& what) {
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const std::size_t start = hex ? 2 : 0;
  const unsigned base = hex ? 16 : 10;
  std::uint64_t v = 0;
  bool overflow = false;
  if (s.size() == start) {
    what = Format("bad number '%s' for '%s'", s.c_str(), key_.c_str());
    return false;
  }
  for (std::size_t i = start; i < s.size(); ++i) {
    const int digit = HexDigit(s[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) {
      what = Format("bad number '%s' for '%s'", s.c_str(), key_.c_str());
      return false;
    }
    if (!overflow) v = v * base + static_cast<unsigned>(digit);
    overflow = overflow || v > max;
  }
  if (overflow) {
    what = Format("number %s for '%s' is out of range (0 to %u)", s.c_str(), key_.c_str(), max);
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool ScenarioValues::Text(std::size_t maxChars, std::string& out, std::string& what) {
  if (!Count(1, what)) return false;
  if (!tokens_[1].quoted) {
    what = Format("'%s' expects a quoted text, as in %s \"%s\"", key_.c_str(), key_.c_str(), tokens_[1].text.c_str());
    return false;
  }
  if (tokens_[1].text.size() > maxChars) {
    what = Format("'%s' text is longer than %zu characters", key_.c_str(), maxChars);
    return false;
  }
  out = tokens_[1].text;
  return true;
}

bool ScenarioValues::Printable(const std::string& text, std::string& what) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      what = Format("'%s' text must be printable ASCII", key_.c_str());
      return false;
    }
  }
  return true;
}

bool ScenarioValues::YesNo(bool& out, std::string& what) {
  if (!Count(1, what)) return false;
  const std::string& v = tokens_[1].text;
  if (tokens_[1].quoted || (v != "yes" && v != "no")) {
    what = Format("'%s' expects yes or no, not '%s'", key_.c_str(), v.c_str());
    return false;
  }
  out = v == "yes";
  return true;
}

}  // namespace romsetter
