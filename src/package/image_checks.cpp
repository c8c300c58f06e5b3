#include "package/image_checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/file_error.h"
#include "base/format.h"

namespace romsetter {

namespace {

constexpr char kMagic[8] = {'M', 'O', 'R', 'V', 'E', 'N', 'T', ' '};
constexpr std::size_t kImageLimit = std::size_t{kMaxImagePages} * kPageSize;
constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

void WordXorChecksum::AddWords(const std::uint8_t* data, std::size_t byteCount) {
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) value_ ^= ReadLe16(data + i);
}

FirmwareImageHeader FirmwareImageHeader::Probe(const std::uint8_t* image, std::size_t length, HeaderLayout layout) {
  std::uint8_t probe[kNandProbeBytes] = {};
  const std::size_t wanted = ProbeBytes(layout);
  if (image != nullptr) std::memcpy(probe, image, length < wanted ? length : wanted);

  FirmwareImageHeader header;
  if (std::memcmp(probe, kMagic, sizeof kMagic) != 0) return header;
  header.present = true;
  if (layout == HeaderLayout::Nor) {
    header.totalLength = ReadLe32(probe + 8);
    header.storedChecksum = ReadLe16(probe + 16);
  } else {
    header.totalLength = std::uint32_t{ReadLe16(probe + 8)} * kPageSize;
    header.storedChecksum = ReadLe16(probe + 12);
  }
  return header;
}

ImageChecks::ImageChecks(LogSink& log, MessagePort& messages, ImageCheckHost& host, const ProcessState& process,
                         ImageStore& images, ImagePageCounts& pages)
    : log_(log), messages_(messages), host_(host), process_(process), images_(images), pages_(pages) {}

// The file is read once, so the bytes checked are exactly the bytes loaded, whatever
// happens to the file meanwhile.
ImageChecks::FileRead ImageChecks::ReadImage(const std::string& path, std::vector<std::uint8_t>& data, int& error) {
  data.clear();
  error = ENOENT;
  if (path.empty()) return FileRead::Missing;
  ClearFileError();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    const int cause = errno;
    error = static_cast<int>(LastFileError(cause));
    return cause == ENOENT || cause == ENOTDIR ? FileRead::Missing : FileRead::OpenFailed;
  }

  FileRead result = FileRead::Ok;
  // A first read tells a folder (readable as a file on some systems) from a file before
  // its length is asked for.
  data.resize(kPageSize);
  std::size_t have = std::fread(data.data(), 1, kPageSize, f);
  if (std::ferror(f) != 0) {
    error = errno;
    result = FileRead::OpenFailed;
  } else if (have == kPageSize) {
    if (std::fseek(f, 0, SEEK_END) == 0) {
      const long end = std::ftell(f);
      if (end > 0 && static_cast<unsigned long>(end) > kImageLimit) result = FileRead::TooLarge;
      if (end > 0 && result == FileRead::Ok) data.reserve(static_cast<std::size_t>(end) + kReadChunk);
    }
    if (result == FileRead::Ok && std::fseek(f, static_cast<long>(have), SEEK_SET) != 0) {
      error = errno;
      result = FileRead::OpenFailed;
    }
    // Whatever the length said, never hold more than the limit and one chunk.
    while (result == FileRead::Ok) {
      data.resize(have + kReadChunk);
      const std::size_t n = std::fread(data.data() + have, 1, kReadChunk, f);
      have += n;
      if (std::ferror(f) != 0) {
        error = errno;
        result = FileRead::OpenFailed;
      } else if (have > kImageLimit) {
        result = FileRead::TooLarge;
      } else if (n < kReadChunk) {
        break;
      }
    }
  }
  std::fclose(f);
  if (result != FileRead::Ok) {
    std::vector<std::uint8_t>().swap(data);
    return result;
  }
  data.resize(have);
  return result;
}

bool ImageChecks::RefuseFile(FileRead result, int error, const char* words, ImagePicker picker) {
  if (result == FileRead::TooLarge) {
    const std::string text = Format("The %s file is too large: more than 0x%04X BLKs.", words, kMaxImagePages);
    log_.Log(text);
    StopBox(text);
    host_.ImageRefused(std::nullopt);
    return false;
  }
  log_.LogSystemError(static_cast<std::uint32_t>(error));
  const std::string text = result == FileRead::Missing ? Format("Please input the %s file name first!", words)
                                                       : std::string("Can't open the file specified");
  messages_.ShowMessage(text, process_.applicationName, MessageIcon::None, MessageButtons::Ok);
  host_.ImageRefused(picker);
  return false;
}

bool ImageChecks::ScanPages(const std::vector<std::uint8_t>& image, std::size_t length, bool header,
                            HeaderLayout layout, std::uint32_t& pages, WordXorChecksum& sum) {
  if (length > image.size()) length = image.size();
  for (std::size_t offset = 0; offset < length; offset += kPageSize) {
    if (length - offset < kPageSize) return false;
    ++pages;
    const std::size_t skipBytes = header && offset == 0 ? 2 * FirmwareImageHeader::SkippedWords(layout) : 0;
    sum.AddWords(image.data() + offset + skipBytes, kPageSize - skipBytes);
  }
  return true;
}

void ImageChecks::StopBox(const std::string& text) {
  messages_.ShowMessage(text, process_.applicationName, MessageIcon::Error, MessageButtons::Ok);
}

bool ImageChecks::SizeError() {
  StopBox("The Size of the FW file is not correct!");
  host_.ImageRefused(std::nullopt);
  return false;
}

bool ImageChecks::FirmwareVerdict(int kind, std::uint32_t pages, std::uint16_t checksum,
                                  const FirmwareImageHeader& header, std::uint64_t imageLength) {
  if (header.present) {
    checksum = static_cast<std::uint16_t>(checksum ^ header.storedChecksum);
    if (header.totalLength != imageLength) {
      log_.Logf("%s!! the F/W Header Total Len:0x%08X, CheckSum=0x%04X", "ERROR",
                static_cast<unsigned>(header.totalLength), static_cast<unsigned>(checksum));
    }
  }
  const bool ok = checksum == 0 && pages != 0;
  const char* verdict = ok ? "OK" : "ERROR";
  const std::string line =
      kind == kSmallBlock
          ? Format("%s!! the Small block FileSize=0x%04X BLKs, CheckSum=0x%04X", verdict, static_cast<unsigned>(pages),
                   static_cast<unsigned>(checksum))
          : Format("%s!! the Big(Default) block FileSize=0x%04X BLKs, CheckSum=0x%04X", verdict,
                   static_cast<unsigned>(pages), static_cast<unsigned>(checksum));
  log_.Log(line);
  if (ok) return true;
  StopBox(line);
  host_.ImageRefused(std::nullopt);
  return false;
}

bool ImageChecks::CheckFirmwareFile(const Selections& s, int kind) {
  const bool small = kind == kSmallBlock;
  const char* words = small ? "Small block" : "Big(Default) block";
  const ImageSlot slot = small ? ImageSlot::SmallFirmware : ImageSlot::BigFirmware;
  std::uint32_t& pages = small ? pages_.smallImagePages : pages_.bigImagePages;
  const HeaderLayout layout = s.norSelected ? HeaderLayout::Nor : HeaderLayout::Nand;
  WordXorChecksum sum;

  if (process_.InPackageMode()) {
    const std::vector<std::uint8_t>& image = images_.Slot(slot);
    const std::uint32_t length = small ? process_.package.smallLength : process_.package.bigLength;
    // The loop below takes whole pages and the probe a fixed length: anything else would
    // read past the image.
    if (length > image.size() || length % kPageSize != 0 || length < FirmwareImageHeader::ProbeBytes(layout)) {
      return SizeError();
    }
    const FirmwareImageHeader header = FirmwareImageHeader::Probe(image.data(), length, layout);
    log_.Log("Getting the F/W file size and checksum.");
    ScanPages(image, length, header.present, layout, pages, sum);
    return FirmwareVerdict(kind, pages, sum.value(), header, length);
  }

  const std::string& path = small ? s.smallFirmwarePath : s.bigFirmwarePath;
  log_.Logf("Checking the F/W %s file is ready", path.c_str());
  std::vector<std::uint8_t> data;
  int error = 0;
  const FileRead read = ReadImage(path, data, error);
  if (read != FileRead::Ok) return RefuseFile(read, error, words, small ? ImagePicker::Small : ImagePicker::Big);

  const FirmwareImageHeader header = FirmwareImageHeader::Probe(data.data(), data.size(), layout);
  log_.Log("Getting the F/W file size and checksum.");
  if (!ScanPages(data, data.size(), header.present, layout, pages, sum)) return SizeError();
  const std::size_t length = data.size();
  images_.Replace(slot, std::move(data));
  return FirmwareVerdict(kind, pages, sum.value(), header, length);
}

bool ImageChecks::CheckBootFile(const Selections& s) {
  pages_.bootImagePages = 0;
  WordXorChecksum sum;

  if (process_.InPackageMode()) {
    const std::vector<std::uint8_t>& image = images_.Slot(ImageSlot::BootCode);
    const std::uint32_t length = process_.package.bootLength;
    // An empty boot image would let the job erase the boot region and write nothing back.
    if (length == 0 || length > image.size() || length % kPageSize != 0) return SizeError();
    log_.Log("Getting the Boot file size and checksum.");
    ScanPages(image, length, false, HeaderLayout::Nand, pages_.bootImagePages, sum);
    return true;
  }

  const std::string& path = s.bootPath;
  log_.Logf("Checking the Boot file \"%s\" is ready?", path.c_str());
  std::vector<std::uint8_t> data;
  int error = 0;
  const FileRead read = ReadImage(path, data, error);
  if (read != FileRead::Ok) return RefuseFile(read, error, "Boot", ImagePicker::Boot);

  log_.Log("Getting the Boot file size and checksum.");
  if (!ScanPages(data, data.size(), false, HeaderLayout::Nand, pages_.bootImagePages, sum)) return SizeError();
  images_.Replace(ImageSlot::BootCode, std::move(data));

  const bool ok = sum.value() == 0 && pages_.bootImagePages != 0;
  const std::string line = Format("%s!! the Boot File Size=0x%04X BLKs, CheckSum=0x%04X", ok ? "OK" : "ERROR",
                                  static_cast<unsigned>(pages_.bootImagePages), static_cast<unsigned>(sum.value()));
  log_.Log(line);
  if (!ok) {
    StopBox(line);
    host_.ImageRefused(std::nullopt);
    return false;
  }
  host_.BootFileAccepted(path);
  return true;
}

}  // namespace romsetter
