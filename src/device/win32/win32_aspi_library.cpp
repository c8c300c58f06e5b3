#include "device/win32/win32_aspi_library.h"

#include <windows.h>

namespace romsetter {

namespace {
constexpr std::uint8_t kNoAdapters = 0xE8;  // SS_NO_ADAPTERS

template <typename Entry>
Entry EntryPoint(HMODULE module, const char* name) {
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
}  // namespace

Win32AspiLibrary::~Win32AspiLibrary() { Unload(); }

bool Win32AspiLibrary::Load(const char* dllName) {
  Unload();
  if (dllName == nullptr) return false;
  HMODULE module = LoadLibraryA(dllName);
  if (module == nullptr) return false;
  supportInfo_ = EntryPoint<SupportInfoEntry>(module, "GetASPI32SupportInfo");
  sendCommand_ = EntryPoint<SendCommandEntry>(module, "SendASPI32Command");
  if (supportInfo_ == nullptr || sendCommand_ == nullptr) {
    supportInfo_ = nullptr;
    sendCommand_ = nullptr;
    FreeLibrary(module);
    return false;
  }
  module_ = module;
  return true;
}

void Win32AspiLibrary::Unload() {
  supportInfo_ = nullptr;
  sendCommand_ = nullptr;
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
}

std::uint32_t Win32AspiLibrary::GetSupportInfo() {
  if (supportInfo_ == nullptr) return static_cast<std::uint32_t>(kNoAdapters) << 8;
  return static_cast<std::uint32_t>(supportInfo_());
}

std::uint32_t Win32AspiLibrary::SendCommand(SrbExecScsiCmd* srb) {
  if (srb == nullptr) return SS_NO_DEVICE;
  if (sendCommand_ == nullptr) {
    srb->status = SS_NO_DEVICE;
    return srb->status;
  }
  return static_cast<std::uint32_t>(sendCommand_(srb));
}

void Win32AspiLibrary::AbortRequest(SrbExecScsiCmd* srb) {
  if (srb == nullptr || sendCommand_ == nullptr) return;
  SrbAbort abort{};
  abort.cmd = SC_ABORT_SRB;
  abort.haId = srb->haId;
  abort.toAbort = srb;
  sendCommand_(&abort);
}

void* Win32AspiLibrary::CreateCompletionEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

bool Win32AspiLibrary::WaitCompletion(void* event, std::uint32_t ms) {
  if (event == nullptr) return false;
  return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

void Win32AspiLibrary::ResetCompletion(void* event) {
  if (event != nullptr) ResetEvent(event);
}

void Win32AspiLibrary::CloseCompletionEvent(void* event) {
  if (event != nullptr) CloseHandle(event);
}

}  // namespace romsetter
