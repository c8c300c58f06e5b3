// A program that imports GetTickCount64, which Windows XP and older lack: tools/check-imports
// must refuse it.
#include <windows.h>

extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64(void);

int main() { return GetTickCount64() == 0 ? 1 : 0; }
