#pragma once
// Packaging's files on Windows: the running program's own path, the system's copy (which
// keeps the file's attributes), the read-only attribute, and the system's error codes for
// every failure so the log can name them.
#include "package/package_files.h"

namespace romsetter {

class Win32PackageFiles final : public StdioPackageFiles {
 public:
  std::optional<std::string> ProgramPath(std::uint32_t& error) override;
  bool Copy(const std::string& from, const std::string& to, std::uint32_t& error) override;
  void ClearReadOnly(const std::string& path) override;
  bool Read(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& data,
            std::uint32_t& error) override;
  bool Write(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t& error) override;
  bool CanAppend(const std::string& path, std::uint32_t& error) override;
  bool Append(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t& error) override;
};

}  // namespace romsetter
