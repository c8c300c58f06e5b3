#include "app/cli/private_folder.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/cli/cli_window.h"
#include "base/fixed_paths.h"
#include "base/format.h"

namespace romsetter {

PrivateFolder::PrivateFolder() {
#ifdef _WIN32
  // Windows 98 has neither mkdtemp nor a temporary-folder call that makes folders: a name of
  // the process and the tick count, made with CreateDirectory, which fails on a name taken.
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return;
  for (DWORD attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        Format("%sromsetter-%lu-%lu", temp, static_cast<unsigned long>(GetCurrentProcessId()),
               static_cast<unsigned long>(GetTickCount() + attempt));
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
#else
  const char* base = std::getenv("TMPDIR");
  std::string pattern = Format("%s/romsetter-XXXXXX", base != nullptr && base[0] != '\0' ? base : "/tmp");
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
  for (const std::string& file : kept_) std::remove(file.c_str());
#ifdef _WIN32
  RemoveDirectoryA(path_.c_str());
#else
  rmdir(path_.c_str());
#endif
}

std::string PrivateFolder::Keep(const std::string& name) {
  const std::string file = path_ + "/" + name;
  kept_.push_back(file);
  return file;
}

bool PlacePackageCopies(const std::string& package, PrivateFolder& work, FixedPaths& paths, CliWindow& window) {
  if (package.empty()) return true;
  if (work.path().empty()) {
    window.Error("--package: no temporary folder of its own could be made for opening the package");
    return false;
  }
  paths.packageOut = work.Keep("MV.out");
  paths.packageIni = work.Keep("MV.ini");
  return true;
}

}  // namespace romsetter
