// The emulated device's flash kept in a file between runs (format: docs/emulator.md).  The
// file may be stale, edited or cut short, so every count is checked against its size before
// a record is read.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "emulator/emulated_device.h"

namespace romsetter {

namespace {

constexpr std::uint8_t kMagic[4] = {'R', 'S', 'F', 'L'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 16;  // magic, version, page count, marked count
constexpr std::size_t kPageRecordBytes = 4 + kPageSize;
constexpr std::size_t kMarkRecordBytes = 4;
constexpr std::size_t kTrailerBytes = 4;  // FNV-1a of everything before it
// Far beyond any region the host addresses; a bigger file is not one of ours.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{64} << 20;

bool IsErased(const EmulatedDevice::Page& page) {
  for (std::uint8_t b : page) {
    if (b != 0xFF) return false;
  }
  return true;
}

std::string SystemText() { return std::strerror(errno); }

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  WriteLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

// Reads at most kMaxFileBytes + 1 bytes, so an oversize file is refused without reading it all.
// `missing`: there is no such file, which is not an error.
bool ReadCapped(const std::string& path, std::vector<std::uint8_t>& bytes, bool& missing, std::string& error) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    missing = errno == ENOENT;
    if (missing) return true;
    error = Format("%s: cannot open the emulated flash file (%s)", path.c_str(), SystemText().c_str());
    return false;
  }
  // The size when the file can tell it, so an oversize file is not read at all; the capped
  // read below still holds for one that cannot.
  bool tooLarge = false;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long end = std::ftell(f);
    std::rewind(f);
    // A folder opened as a file claims an enormous size but reads nothing: let the read fail.
    tooLarge = end > 0 && static_cast<unsigned long>(end) > kMaxFileBytes && std::fgetc(f) != EOF;
    std::rewind(f);
  }
  std::uint8_t chunk[1 << 14];
  bool failed = false;
  while (!tooLarge && bytes.size() <= kMaxFileBytes) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) {
      failed = std::ferror(f) != 0;
      break;
    }
  }
  std::fclose(f);
  if (failed) {
    error = Format("%s: cannot read the emulated flash file", path.c_str());
    return false;
  }
  if (tooLarge || bytes.size() > kMaxFileBytes) {
    error = Format("%s: the emulated flash file is larger than %llu bytes", path.c_str(),
                   static_cast<unsigned long long>(kMaxFileBytes));
    return false;
  }
  return true;
}

// On failure `what` completes "PATH: ...".
bool Decode(const std::vector<std::uint8_t>& bytes, std::map<std::uint32_t, EmulatedDevice::Page>& flash,
            std::vector<std::uint32_t>& marked, std::string& what) {
  const std::size_t size = bytes.size();
  if (size < kHeaderBytes + kTrailerBytes) {
    what = Format("truncated emulated flash file (%zu bytes, shorter than its header)", size);
    return false;
  }
  const std::uint8_t* p = bytes.data();
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0) {
    what = "not an emulated flash file (wrong magic)";
    return false;
  }
  const std::uint32_t version = ReadLe32(p + 4);
  if (version != kVersion) {
    what = Format("emulated flash file version %u is not supported (only %u)", version, kVersion);
    return false;
  }
  const std::uint32_t pages = ReadLe32(p + 8);
  const std::uint32_t marks = ReadLe32(p + 12);
  // 64-bit, so no count can wrap the sum.
  const std::uint64_t need = kHeaderBytes + std::uint64_t{pages} * kPageRecordBytes +
                             std::uint64_t{marks} * kMarkRecordBytes + kTrailerBytes;
  if (need != size) {
    what = Format("%s emulated flash file: %u pages and %u marked pages take %llu bytes, the file has %zu",
                  need > size ? "truncated" : "overlong", pages, marks, static_cast<unsigned long long>(need), size);
    return false;
  }
  const std::uint32_t stored = ReadLe32(p + size - kTrailerBytes);
  const std::uint32_t actual = Fnv1a(p, size - kTrailerBytes);
  if (stored != actual) {
    what = Format("emulated flash file is damaged (checksum 0x%08X, expected 0x%08X)", actual, stored);
    return false;
  }
  std::size_t at = kHeaderBytes;
  for (std::uint32_t i = 0; i < pages; ++i, at += kPageRecordBytes) {
    const std::uint32_t address = ReadLe32(p + at);
    // Ascending order, as written, makes a repeated page impossible to miss.
    if (!flash.empty() && address <= flash.rbegin()->first) {
      what = Format("emulated flash file lists page 0x%08X out of order or twice", address);
      return false;
    }
    EmulatedDevice::Page& page = flash[address];
    std::memcpy(page.data(), p + at + 4, kPageSize);
  }
  for (std::uint32_t i = 0; i < marks; ++i, at += kMarkRecordBytes) marked.push_back(ReadLe32(p + at));
  return true;
}

std::vector<std::uint8_t> Encode(const std::map<std::uint32_t, EmulatedDevice::Page>& flash,
                                 const std::vector<std::uint32_t>& marked) {
  std::uint32_t pages = 0;
  for (const auto& entry : flash) pages += IsErased(entry.second) ? 0 : 1;
  std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
  PutLe32(out, kVersion);
  PutLe32(out, pages);
  PutLe32(out, static_cast<std::uint32_t>(marked.size()));
  for (const auto& [address, page] : flash) {
    // An erased page reads the same whether it is stored or not.
    if (IsErased(page)) continue;
    PutLe32(out, address);
    out.insert(out.end(), page.begin(), page.end());
  }
  for (std::uint32_t address : marked) PutLe32(out, address);
  PutLe32(out, Fnv1a(out.data(), out.size()));
  return out;
}

bool WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    error = Format("%s: cannot create the emulated flash file (%s)", path.c_str(), SystemText().c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
  int why = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    why = errno;
  }
  if (!ok) {
    error = Format("%s: cannot write the emulated flash file (%s)", path.c_str(), std::strerror(why));
    return false;
  }
  return true;
}

}  // namespace

bool EmulatedDevice::LoadFlash(std::string& error) {
  const std::string& path = config_.flashFile;
  if (path.empty()) return true;
  std::vector<std::uint8_t> bytes;
  bool missing = false;
  if (!ReadCapped(path, bytes, missing, error)) return false;
  if (missing) {
    // Never saved yet: a new device, as it leaves the factory.
    flash_.clear();
    marked_.clear();
    return true;
  }
  std::map<std::uint32_t, Page> flash;
  std::vector<std::uint32_t> marked;
  std::string what;
  if (!Decode(bytes, flash, marked, what)) {
    error = Format("%s: %s", path.c_str(), what.c_str());
    return false;
  }
  flash_ = std::move(flash);
  marked_ = std::move(marked);
  return true;
}

bool EmulatedDevice::SaveFlash(std::string& error) const {
  const std::string& path = config_.flashFile;
  if (path.empty()) return true;
  const std::vector<std::uint8_t> bytes = Encode(flash_, marked_);
  if (bytes.size() > kMaxFileBytes) {
    error = Format("%s: the emulated flash would take %zu bytes, more than the %llu a flash file may hold",
                   path.c_str(), bytes.size(), static_cast<unsigned long long>(kMaxFileBytes));
    return false;
  }
  // Beside the target, so the rename stays on one file system and replaces it in one step.
  const std::string temporary = path + ".tmp";
  if (!WriteAll(temporary, bytes, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  // The Windows runtime does not rename over an existing file (EEXIST or EACCES); the whole
  // new copy is already on disk, so only the moment between these two calls is unprotected.
  if ((errno == EEXIST || errno == EACCES) && std::remove(path.c_str()) == 0 &&
      std::rename(temporary.c_str(), path.c_str()) == 0) {
    return true;
  }
  error = Format("%s: cannot replace the emulated flash file (%s)", path.c_str(), SystemText().c_str());
  std::remove(temporary.c_str());
  return false;
}

}  // namespace romsetter
