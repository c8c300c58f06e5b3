#pragma once
// The one guard of Romsetter.exe and romsetter-cli.exe: while one of them works on a real
// device, no other copy of either, in any session, may start on one.
// No <windows.h> here: its macros (CreateEvent, DeleteFile) would rename members elsewhere.

namespace romsetter {

class InstanceGuard {
 public:
  InstanceGuard();  // takes the guard when it is free
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // False when another copy holds it.
  bool held() const { return held_; }

 private:
  void* mutex_ = nullptr;  // the mutex handle
  bool held_ = false;
};

// The message shown when the guard is taken.
constexpr const char* kAlreadyRunning = "Romsetter is already running: only one copy may work on a device at a time.";

}  // namespace romsetter
