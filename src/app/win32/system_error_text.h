#pragma once
// The system message table's text for an error code, for ActivityLog::LogSystemError.
#include <cstdint>
#include <string>

namespace romsetter {

// False when the system has no text for `code` or the text does not fit in 80 characters.
// The text is kept as returned, its closing CR LF included.
bool Win32SystemErrorText(std::uint32_t code, std::string& text);

}  // namespace romsetter
