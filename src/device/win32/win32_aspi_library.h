#pragma once
// ASPI for Win32 as loaded at run time from wnaspi32.dll, with system events for completion.
#include <cstdint>

#include "device/aspi_library.h"

namespace romsetter {

constexpr const char* kAspiLibraryName = "wnaspi32.dll";

class Win32AspiLibrary final : public AspiLibrary {
 public:
  Win32AspiLibrary() = default;
  ~Win32AspiLibrary() override;
  Win32AspiLibrary(const Win32AspiLibrary&) = delete;
  Win32AspiLibrary& operator=(const Win32AspiLibrary&) = delete;

  // Loads the library and looks up "GetASPI32SupportInfo" and "SendASPI32Command".  A
  // library without both entry points is released again and counts as not loaded.  A
  // previously loaded library is released first.
  bool Load(const char* dllName = kAspiLibraryName);
  bool Loaded() const { return module_ != nullptr; }
  void Unload();

  // Without a library: no adapters, and every request is refused at once.
  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(SrbExecScsiCmd* srb) override;
  void AbortRequest(SrbExecScsiCmd* srb) override;
  void* CreateCompletionEvent() override;
  bool WaitCompletion(void* event, std::uint32_t ms) override;
  void ResetCompletion(void* event) override;
  void CloseCompletionEvent(void* event) override;

 private:
  using SupportInfoEntry = unsigned long(__cdecl*)();
  using SendCommandEntry = unsigned long(__cdecl*)(void* srb);

  void* module_ = nullptr;
  SupportInfoEntry supportInfo_ = nullptr;
  SendCommandEntry sendCommand_ = nullptr;
};

}  // namespace romsetter
