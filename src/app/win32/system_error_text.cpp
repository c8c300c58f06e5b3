#include "app/win32/system_error_text.h"

#include <windows.h>

namespace romsetter {

bool Win32SystemErrorText(std::uint32_t code, std::string& text) {
  char buffer[80];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return false;
  text.assign(buffer, length);
  return true;
}

}  // namespace romsetter
