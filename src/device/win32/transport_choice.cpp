#include "device/win32/transport_choice.h"

#include <windows.h>

#include <cstring>

namespace romsetter {

bool SystemPlatformId(std::uint32_t& platformId) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return false;
  platformId = info.dwPlatformId;
  return true;
}

TransportFamily ChooseTransport(LogSink& log, const PlatformQuery& query) {
  log.Logf("Checking OS version.");
  std::uint32_t platformId = 0;
  const bool known = query && query(platformId);
  if (known && platformId == kPlatformWin32Nt) {
    log.Logf("OS != WinME or Win98");
    return TransportFamily::PassThrough;
  }
  log.Logf("OS = WinME or Win98");
  return TransportFamily::Aspi;
}

bool LoadAspiLibrary(Win32AspiLibrary& library, MessagePort& window, const char* dllName) {
  if (library.Load(dllName)) return true;
  window.ShowMessage(Format("Can't LoadLibrary(\"wnaspi32.dll\")"), Format("Error:"), MessageIcon::Error);
  return false;
}

}  // namespace romsetter
