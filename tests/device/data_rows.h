// The rows of a test's data file: its lines without blank ones and comments (#), each cut at
// single blanks into `fields` fields (missing ones empty), the last one taking the rest of the line as it is (a
// closing '|' is dropped: it keeps the blanks before it, which editors would strip).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace romsetter::test {

inline std::vector<std::vector<std::string>> DataRows(const std::string& underTests, std::size_t fields) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : ReadLines(ROMSETTER_SOURCE_DIR "/tests/" + underTests)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string>& row = rows.emplace_back();
    std::size_t at = 0;
    for (std::size_t end; row.size() + 1 < fields && (end = line.find(' ', at)) != std::string::npos; at = end + 1) {
      row.push_back(line.substr(at, end - at));
    }
    row.push_back(line.substr(at, line.size() - at - (line.back() == '|' ? 1 : 0)));
    row.resize(fields);  // a short row reads its missing fields as empty, never past its end
  }
  EXPECT_FALSE(rows.empty()) << "no rows in tests/" << underTests;  // a lost file must not pass
  return rows;
}

}  // namespace romsetter::test
