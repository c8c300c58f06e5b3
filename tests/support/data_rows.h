#pragma once
// Tables kept as data files under tests/: their lines without blank ones and comments (#).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace romsetter::test {

// The lines themselves; a lost or empty file fails the test rather than passing with no rows.
inline std::vector<std::string> DataLines(const std::string& underTests) {
  std::vector<std::string> lines;
  for (const std::string& line : ReadLines(ROMSETTER_SOURCE_DIR "/tests/" + underTests)) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  EXPECT_FALSE(lines.empty()) << "no rows in tests/" << underTests;
  return lines;
}

// Each line cut at single blanks into `fields` fields (missing ones empty), the last one taking
// the rest of the line as it is (a closing '|' is dropped: it keeps the blanks before it, which
// editors would strip).
inline std::vector<std::vector<std::string>> DataRows(const std::string& underTests, std::size_t fields) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : DataLines(underTests)) {
    std::vector<std::string>& row = rows.emplace_back();
    std::size_t at = 0;
    for (std::size_t end; row.size() + 1 < fields && (end = line.find(' ', at)) != std::string::npos; at = end + 1) {
      row.push_back(line.substr(at, end - at));
    }
    row.push_back(line.substr(at, line.size() - at - (line.back() == '|' ? 1 : 0)));
    row.resize(fields);  // a short row reads its missing fields as empty, never past its end
  }
  return rows;
}

// C escapes undone: \n \r \t \xHH, and a backslash before any other character keeps it.
inline std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
    } else if (text[++i] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i] == 'n' ? '\n' : text[i] == 'r' ? '\r' : text[i] == 't' ? '\t' : text[i];
    }
  }
  return out;
}

// Each line's fields parted by " | " and unescaped.
inline std::vector<std::vector<std::string>> ReadTable(const std::string& underTests) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : DataLines(underTests)) {
    rows.emplace_back();
    std::size_t from = 0;
    for (std::size_t bar; (bar = line.find(" | ", from)) != std::string::npos; from = bar + 3) {
      rows.back().push_back(Unescaped(line.substr(from, bar - from)));
    }
    rows.back().push_back(Unescaped(line.substr(from)));
  }
  return rows;
}

// Hex digits as bytes ("-" for none).
inline std::vector<std::uint8_t> HexBytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace romsetter::test
