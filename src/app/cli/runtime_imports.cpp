// romsetter-cli.exe and Windows 98: CLI11 keeps a file stream for configuration files (this
// program sets none), and the stream's runtime imports _fstat64, which the msvcrt.dll of
// Windows 98 lacks, and _wfopen, which fails there.  A program importing either does not
// start, so these replacements take their import slots: the stream calls them instead, and
// they do the same work through functions every msvcrt.dll has.
#if defined(_WIN32) && !defined(_WIN64)
#include <windows.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#undef _fstati64
extern "C" __declspec(dllimport) int __cdecl _fstati64(int descriptor, struct _stat32i64* status);

namespace {

int __cdecl Fstat64(int descriptor, struct _stat64* status) {
  struct _stat32i64 narrow {};
  if (status == nullptr || _fstati64(descriptor, &narrow) != 0) return -1;
  status->st_dev = narrow.st_dev;
  status->st_ino = narrow.st_ino;
  status->st_mode = narrow.st_mode;
  status->st_nlink = narrow.st_nlink;
  status->st_uid = narrow.st_uid;
  status->st_gid = narrow.st_gid;
  status->st_rdev = narrow.st_rdev;
  status->st_size = narrow.st_size;
  status->st_atime = narrow.st_atime;
  status->st_mtime = narrow.st_mtime;
  status->st_ctime = narrow.st_ctime;
  return 0;
}

// The name in the system's code page; empty when it has no such form.
std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr) != size) return {};
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow;
}

FILE* __cdecl Wfopen(const wchar_t* name, const wchar_t* mode) {
  const std::string narrowName = Narrow(name);
  const std::string narrowMode = Narrow(mode);
  if (narrowName.empty() || narrowMode.empty()) return nullptr;
  return std::fopen(narrowName.c_str(), narrowMode.c_str());
}

}  // namespace

// The slots the runtime calls through (__imp___fstat64 and __imp___wfopen once the linker
// adds the leading underscore); defined here, they keep the import library's entries out.
extern "C" {
extern void* const _imp___fstat64;
extern void* const _imp___wfopen;
void* const _imp___fstat64 = reinterpret_cast<void*>(&Fstat64);
void* const _imp___wfopen = reinterpret_cast<void*>(&Wfopen);
}
#endif
