#pragma once
// Section-and-key settings text file.  Win32: the profile functions on the bare name
// "Romsetter.ini" (kept in the Windows directory).  Elsewhere: an INI file in a chosen folder
// that behaves the same (trailing blanks dropped on read, values cut to 259 characters,
// case-insensitive section and key names).
#include <string>

namespace romsetter {

class ProfileStore {
 public:
  static constexpr std::size_t kValueLimit = 259;  // read buffers hold 260 characters

  virtual ~ProfileStore() = default;
  // The value, or `defaultValue` when the key is missing.
  virtual std::string Read(const std::string& section, const std::string& key,
                           const std::string& defaultValue) = 0;
  // True when the key could be written.
  virtual bool Write(const std::string& section, const std::string& key, const std::string& value) = 0;
  // Deletes the whole file (a missing file is not an error).
  virtual bool DeleteFile() = 0;
};

}  // namespace romsetter
