#pragma once
#include <string>

namespace romsetter {

// Also true for two names of one existing file (relative and absolute, other letter case on
// Windows, links).  Spelling the same name in other letter case counts as the same file on
// every platform, which only ever refuses more.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace romsetter
