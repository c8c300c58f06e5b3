#pragma once
// The operating system's code for a failed C library file call, for LogSystemError: on
// Windows the system error the runtime recorded (errno values are other numbers there),
// elsewhere errno itself.
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace romsetter {

inline void ClearFileError() {
  errno = 0;
#if defined(_WIN32)
  _doserrno = 0;
#endif
}

inline std::uint32_t LastFileError(int errnoValue) {
#if defined(_WIN32)
  if (_doserrno != 0) return static_cast<std::uint32_t>(_doserrno);
#endif
  return static_cast<std::uint32_t>(errnoValue);
}

}  // namespace romsetter
