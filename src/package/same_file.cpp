#include "package/same_file.h"

#include <cstdlib>
#if !defined(_WIN32)
#include <filesystem>
#include <system_error>
#endif

#include "base/text.h"

namespace romsetter {

bool SameFile(const std::string& a, const std::string& b) {
  if (AsciiUpper(a) == AsciiUpper(b)) return true;
#if defined(_WIN32)
  // The C runtime's full path, not std::filesystem, whose runtime imports wide-character and
  // NT-only functions that keep Windows 98 from loading the program.  Windows 98 has no
  // links, so the full names of one file differ only in letter case.
  char fullA[_MAX_PATH];
  char fullB[_MAX_PATH];
  if (_fullpath(fullA, a.c_str(), sizeof fullA) == nullptr || _fullpath(fullB, b.c_str(), sizeof fullB) == nullptr) {
    return false;
  }
  return AsciiUpper(fullA) == AsciiUpper(fullB);
#else
  try {
    std::error_code ec;
    const bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
    return same && !ec;
  } catch (...) {
    // A name the path type cannot represent names no file the check could compare.
    return false;
  }
#endif
}

}  // namespace romsetter
