#pragma once
// What packaging asks of the file system and of the running program.  Every operation
// returns at once when done (they block only on the disk), never throws, and on failure
// sets `error` to the system's code, which the log turns into its text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace romsetter {

class PackageFiles {
 public:
  virtual ~PackageFiles() = default;
  // The full path of the running program file; empty when the system cannot tell.
  virtual std::optional<std::string> ProgramPath(std::uint32_t& error) = 0;
  // Copies `from` over `to`, replacing it.
  virtual bool Copy(const std::string& from, const std::string& to, std::uint32_t& error) = 0;
  // Clears a read-only attribute, where the system has one.
  virtual void ClearReadOnly(const std::string& path) = 0;
  // The whole file; refused (error set) beyond `limit` bytes.
  virtual bool Read(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& data,
                    std::uint32_t& error) = 0;
  // Creates or replaces `path` with the bytes.
  virtual bool Write(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t& error) = 0;
  // Whether an existing file can be opened for writing without truncating it.
  virtual bool CanAppend(const std::string& path, std::uint32_t& error) = 0;
  // Appends to an existing file.
  virtual bool Append(const std::string& path, const std::uint8_t* data, std::size_t length,
                      std::uint32_t& error) = 0;
  virtual void Remove(const std::string& path) = 0;
  // Whether two names are one file: another spelling, or a link where the system can tell.
  virtual bool SameFile(const std::string& a, const std::string& b);
};

// The C library's files; the program path is the one given (the command line names it).
// Error codes are errno values.
class StdioPackageFiles : public PackageFiles {
 public:
  explicit StdioPackageFiles(std::string programPath = "") : programPath_(std::move(programPath)) {}
  std::optional<std::string> ProgramPath(std::uint32_t& error) override;
  bool Copy(const std::string& from, const std::string& to, std::uint32_t& error) override;
  void ClearReadOnly(const std::string&) override {}
  bool Read(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& data,
            std::uint32_t& error) override;
  bool Write(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t& error) override;
  bool CanAppend(const std::string& path, std::uint32_t& error) override;
  bool Append(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t& error) override;
  void Remove(const std::string& path) override;

 private:
  std::string programPath_;
};

}  // namespace romsetter
