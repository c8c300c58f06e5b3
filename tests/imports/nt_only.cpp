// A program that breaks each of tools/check-imports' other rules: it imports SetupAPI (a
// DLL Windows 98 lacks), a wide-character file function, and its header asks for Windows 6.0.
#include <windows.h>
#include <setupapi.h>

int main() {
  HANDLE file = CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE) ? 0 : 1;
}
