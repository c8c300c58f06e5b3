#include "package/win32/win32_package_files.h"

#include <windows.h>

namespace romsetter {

namespace {

// The C library reports errno; the log wants the system's code, which the failed call left.
std::uint32_t SystemError() {
  const DWORD code = GetLastError();
  return code != 0 ? static_cast<std::uint32_t>(code) : static_cast<std::uint32_t>(ERROR_GEN_FAILURE);
}

template <typename Call>
bool WithSystemError(std::uint32_t& error, Call call) {
  SetLastError(0);
  if (call()) return true;
  error = SystemError();
  return false;
}

}  // namespace

std::optional<std::string> Win32PackageFiles::ProgramPath(std::uint32_t& error) {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A path that filled the buffer may have been cut: not a path to trust.
  if (n == 0 || n >= MAX_PATH) {
    error = n == 0 ? SystemError() : static_cast<std::uint32_t>(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  return std::string(path, n);
}

bool Win32PackageFiles::Copy(const std::string& from, const std::string& to, std::uint32_t& error) {
  return WithSystemError(error, [&] { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; });
}

void Win32PackageFiles::ClearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

bool Win32PackageFiles::Read(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& data,
                             std::uint32_t& error) {
  std::uint32_t ignored = 0;
  return WithSystemError(error, [&] { return StdioPackageFiles::Read(path, limit, data, ignored); });
}

bool Win32PackageFiles::Write(const std::string& path, const std::uint8_t* data, std::size_t length,
                              std::uint32_t& error) {
  std::uint32_t ignored = 0;
  return WithSystemError(error, [&] { return StdioPackageFiles::Write(path, data, length, ignored); });
}

bool Win32PackageFiles::CanAppend(const std::string& path, std::uint32_t& error) {
  std::uint32_t ignored = 0;
  return WithSystemError(error, [&] { return StdioPackageFiles::CanAppend(path, ignored); });
}

bool Win32PackageFiles::Append(const std::string& path, const std::uint8_t* data, std::size_t length,
                               std::uint32_t& error) {
  std::uint32_t ignored = 0;
  return WithSystemError(error, [&] { return StdioPackageFiles::Append(path, data, length, ignored); });
}

}  // namespace romsetter
