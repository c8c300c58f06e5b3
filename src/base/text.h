#pragma once
// ASCII-only text helpers: names, keys and paths are single-byte strings in the ANSI code
// page, whose other bytes must pass through unchanged.
#include <string>

namespace romsetter {

std::string AsciiUpper(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// Orders as a sorted drop-down list does: letters folded to lower case, then bytes.
int CompareNoCase(const std::string& a, const std::string& b);
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

}  // namespace romsetter
