#pragma once
// Which transport this run uses, from the operating system's platform, and loading ASPI.
#include <cstdint>
#include <functional>

#include "base/log_sink.h"
#include "base/user_ports.h"
#include "device/scsi_transport.h"
#include "device/win32/win32_aspi_library.h"

namespace romsetter {

constexpr std::uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT

// The platform id of the running system; false when the system does not say.
using PlatformQuery = std::function<bool(std::uint32_t& platformId)>;

// GetVersionExA with the basic version record.
bool SystemPlatformId(std::uint32_t& platformId);

// Pass-through on the NT platform; ASPI on any other and when the query fails.
TransportFamily ChooseTransport(LogSink& log, const PlatformQuery& query = SystemPlatformId);

// Loads the ASPI library; when it cannot be loaded, tells the user and returns false (the
// caller then closes the main window).  `dllName` is for tests; the message always names
// the library the program needs.
bool LoadAspiLibrary(Win32AspiLibrary& library, MessagePort& window, const char* dllName = kAspiLibraryName);

}  // namespace romsetter
