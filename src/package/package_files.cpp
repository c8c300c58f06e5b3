#include "package/package_files.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/file_identity.h"

namespace romsetter {

namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

std::uint32_t LastError() { return errno != 0 ? static_cast<std::uint32_t>(errno) : EIO; }

bool WriteTo(const char* mode, const std::string& path, const std::uint8_t* data, std::size_t length,
             std::uint32_t& error) {
  errno = 0;
  std::FILE* raw = std::fopen(path.c_str(), mode);
  if (raw == nullptr) {
    error = LastError();
    return false;
  }
  const bool written = length == 0 || std::fwrite(data, 1, length, raw) == length;
  const bool closed = std::fclose(raw) == 0;
  if (!written || !closed) error = LastError();
  return written && closed;
}

}  // namespace

std::optional<std::string> StdioPackageFiles::ProgramPath(std::uint32_t& error) {
  if (programPath_.empty()) {
    error = ENOENT;
    return std::nullopt;
  }
  return programPath_;
}

bool StdioPackageFiles::Read(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& data,
                             std::uint32_t& error) {
  errno = 0;
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    error = LastError();
    return false;
  }
  // One read into a buffer of the file's size: several megabytes in 64 KiB pieces cost more
  // than the rest of opening a package.
  long size = -1;
  if (std::fseek(f.get(), 0, SEEK_END) == 0) size = std::ftell(f.get());
  if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) {
    error = LastError();
    return false;
  }
  if (static_cast<unsigned long>(size) > limit) {
    error = EFBIG;
    return false;
  }
  data.resize(static_cast<std::size_t>(size));
  const std::size_t n = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f.get());
  if (n != data.size() || std::ferror(f.get()) != 0) {
    error = LastError();
    return false;
  }
  return true;
}

bool StdioPackageFiles::Copy(const std::string& from, const std::string& to, std::uint32_t& error) {
  std::vector<std::uint8_t> data;
  // A program file is a few megabytes; a copy does not need to stream.
  return Read(from, std::size_t{1} << 31, data, error) && Write(to, data.data(), data.size(), error);
}

bool StdioPackageFiles::Write(const std::string& path, const std::uint8_t* data, std::size_t length,
                              std::uint32_t& error) {
  return WriteTo("wb", path, data, length, error);
}

bool StdioPackageFiles::CanAppend(const std::string& path, std::uint32_t& error) {
  errno = 0;
  File f(std::fopen(path.c_str(), "r+b"));
  if (!f) error = LastError();
  return f != nullptr;
}

bool StdioPackageFiles::Append(const std::string& path, const std::uint8_t* data, std::size_t length,
                               std::uint32_t& error) {
  if (!CanAppend(path, error)) return false;
  return WriteTo("ab", path, data, length, error);
}

bool PackageFiles::SameFile(const std::string& a, const std::string& b) { return romsetter::SameFile(a, b); }

void StdioPackageFiles::Remove(const std::string& path) { std::remove(path.c_str()); }

}  // namespace romsetter
