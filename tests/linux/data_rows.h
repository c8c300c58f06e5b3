#pragma once
// The rows of a table kept in tests/linux/data: its lines less blank ones and # comments, with
// hex fields read as bytes ("-" for none).
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace romsetter::test {

inline std::vector<std::string> DataRows(const std::string& name) {
  std::vector<std::string> rows;
  for (const std::string& line : ReadLines(ROMSETTER_SOURCE_DIR "/tests/linux/data/" + name)) {
    if (!line.empty() && line[0] != '#') rows.push_back(line);
  }
  return rows;
}

inline std::vector<std::uint8_t> HexBytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace romsetter::test
