#include "app/win32/instance_guard.h"

#include <windows.h>

#include <cstdint>

#include "device/win32/transport_choice.h"

namespace romsetter {

namespace {
constexpr const char* kGuardName = "Romsetter.SingleInstance";
}  // namespace

InstanceGuard::InstanceGuard() {
  // Where the system has sessions (the NT family), the name lives in the global namespace so
  // two users, or a service and a desktop, share it; Windows 98 has one namespace and takes
  // no "Global\" prefix.
  std::uint32_t platform = 0;
  if (SystemPlatformId(platform) && platform == kPlatformWin32Nt) {
    mutex_ = CreateMutexA(nullptr, FALSE, "Global\\Romsetter.SingleInstance");
    const DWORD error = GetLastError();
    if (mutex_ == nullptr && error == ERROR_ACCESS_DENIED) return;  // another user's copy holds it
    if (mutex_ != nullptr) {
      held_ = error != ERROR_ALREADY_EXISTS;
      return;
    }
    // NT 4.0 without Terminal Services knows no "Global\": one namespace, as on Windows 98.
  }
  mutex_ = CreateMutexA(nullptr, FALSE, kGuardName);
  held_ = mutex_ == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;  // no guard at all: go on
}

InstanceGuard::~InstanceGuard() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

}  // namespace romsetter
