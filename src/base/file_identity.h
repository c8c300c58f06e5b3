#pragma once
// What a path names, compared by what it is rather than how it is spelt: two spellings of one
// file ("a.bin", "./a.bin", a link, another letter case on Windows) are the same file.
#include <string>

namespace romsetter {

enum class FileKind { Missing, Regular, Folder, Special };  // Special: a device, pipe or socket

FileKind KindOfPath(const std::string& path);

// True when `a` and `b` name one file. A file that does not exist yet is the same as another
// when both would be created under the same name in the same folder.  On Linux the device and
// inode numbers decide; on Windows the full paths in any letter case, or else the volume and
// file index the system gives (none on Windows 98's FAT, where only the paths count).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace romsetter
