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

// Hex digits as bytes ("-" for none).
inline std::vector<std::uint8_t> HexBytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace romsetter::test
