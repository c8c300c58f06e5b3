#pragma once
// Facts about the file system the program runs on.

namespace romsetter {

#if defined(_WIN32)
constexpr bool kFileNamesIgnoreCase = true;
#else
constexpr bool kFileNamesIgnoreCase = false;
#endif

}  // namespace romsetter
