#include "app/win32/win32_profile_store.h"

#include <windows.h>
// The profile store's own DeleteFile, not the Win32 macro.
#undef DeleteFile

#include <utility>

#include "app/ini_profile_store.h"

namespace romsetter {

Win32ProfileStore::Win32ProfileStore(std::string fileName) : fileName_(std::move(fileName)) {}

std::string Win32ProfileStore::Read(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) {
  char buffer[kValueLimit + 1];
  const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                                sizeof buffer, fileName_.c_str());
  return std::string(buffer, length < sizeof buffer ? length : kValueLimit);
}

bool Win32ProfileStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (!ProfileEntryWritable(section, key, value)) return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName_.c_str()) != FALSE;
}

std::string Win32ProfileStore::FullPath() const {
  if (fileName_.find_first_of("\\/:") != std::string::npos) return fileName_;
  char folder[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return fileName_;
  std::string path(folder, length);
  if (path.back() != '\\') path += '\\';
  return path + fileName_;
}

bool Win32ProfileStore::DeleteFile() {
  // Write out and drop the profile functions' cached copy, or it would outlive the file.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName_.c_str());
  if (DeleteFileA(FullPath().c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace romsetter
