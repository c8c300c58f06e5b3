#include "base/file_identity.h"

#include <sys/stat.h>

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/text.h"

namespace romsetter {

FileKind KindOfPath(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return FileKind::Missing;
  switch (info.st_mode & S_IFMT) {
    case S_IFREG: return FileKind::Regular;
    case S_IFDIR: return FileKind::Folder;
    default: return FileKind::Special;
  }
}

#ifdef _WIN32

namespace {

// The volume and index of an existing file; false when it cannot be opened or the system
// gives no index (Windows 98's FAT may leave it 0).
bool FileIndex(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  // No access asked and no delete sharing (Windows 98 refuses it): opens even a running program.
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (AsciiUpper(a) == AsciiUpper(b)) return true;
  // The C runtime's full path, not std::filesystem, whose runtime imports wide-character and
  // NT-only functions that keep Windows 98 from loading the program.
  char fullA[_MAX_PATH];
  char fullB[_MAX_PATH];
  if (_fullpath(fullA, a.c_str(), sizeof fullA) != nullptr && _fullpath(fullB, b.c_str(), sizeof fullB) != nullptr &&
      AsciiUpper(fullA) == AsciiUpper(fullB)) {
    return true;
  }
  // A hard or symbolic link is another path to the same file: the volume and index tell.
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return FileIndex(a, first) && FileIndex(b, second) && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

#else

namespace {

bool Identity(const std::string& path, struct stat& info) { return !path.empty() && stat(path.c_str(), &info) == 0; }

// The folder part and the name of a path ("." for a bare name).
void Split(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.find_last_of('/');
  folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  if (a == b) return true;
  struct stat ia {}, ib {};
  const bool haveA = Identity(a, ia);
  const bool haveB = Identity(b, ib);
  if (haveA && haveB) return ia.st_dev == ib.st_dev && ia.st_ino == ib.st_ino;
  if (haveA != haveB) return false;
  // Neither exists yet: one file once created when the folders are one and the names equal.
  std::string folderA, nameA, folderB, nameB;
  Split(a, folderA, nameA);
  Split(b, folderB, nameB);
  if (nameA != nameB || nameA.empty()) return false;
  struct stat fa {}, fb {};
  return Identity(folderA, fa) && Identity(folderB, fb) && fa.st_dev == fb.st_dev && fa.st_ino == fb.st_ino;
}

#endif

}  // namespace romsetter
