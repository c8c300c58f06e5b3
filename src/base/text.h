#pragma once
// ASCII-only text helpers: names, keys and paths are single-byte strings in the ANSI code
// page, whose other bytes must pass through unchanged.
#include <string>
#include <string_view>

namespace romsetter {

std::string AsciiUpper(std::string text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// Orders as a sorted drop-down list does: letters folded to lower case, then bytes.
int CompareNoCase(const std::string& a, const std::string& b);
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

}  // namespace romsetter
