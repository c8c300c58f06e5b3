#pragma once
// Validation of the firmware and boot code images before anything on the device is erased:
// whole pages, a 16-bit word-XOR checksum, the optional firmware header.  A valid file is
// loaded into its ImageStore slot; in package mode the images already there are checked.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/selections.h"
#include "base/user_ports.h"
#include "package/image_store.h"

namespace romsetter {

// XOR of little-endian 16-bit words.
class WordXorChecksum {
 public:
  void AddWord(std::uint16_t word) { value_ ^= word; }
  // `byteCount` is even; a trailing odd byte is ignored.
  void AddWords(const std::uint8_t* data, std::size_t byteCount);
  std::uint16_t value() const { return value_; }

 private:
  std::uint16_t value_ = 0;
};

enum class HeaderLayout { Nand, Nor };

// Optional header at the start of a firmware image, recognised by "MORVENT " (with the blank).
struct FirmwareImageHeader {
  static constexpr std::size_t kNandProbeBytes = 512;
  static constexpr std::size_t kNorProbeBytes = 24;

  bool present = false;
  std::uint32_t totalLength = 0;  // bytes
  std::uint16_t storedChecksum = 0;

  static std::size_t ProbeBytes(HeaderLayout layout) {
    return layout == HeaderLayout::Nor ? kNorProbeBytes : kNandProbeBytes;
  }
  // Words at the start of the first page that stay out of the checksum when a header is present.
  static std::size_t SkippedWords(HeaderLayout layout) { return layout == HeaderLayout::Nor ? 24 : 256; }
  // Reads at most the probe's length of `image`; bytes beyond `length` count as zero.
  static FirmwareImageHeader Probe(const std::uint8_t* image, std::size_t length, HeaderLayout layout);
};

// Image lengths in bytes as the package trailer records them (package mode only).
enum class ImagePicker { Boot, Big, Small };

// What the checks ask of the program around them.  Both return at once.
class ImageCheckHost {
 public:
  virtual ~ImageCheckHost() = default;
  // An image was refused: Upgrade cannot be pressed until the choice changes; with a
  // picker, that picker is offered again.
  virtual void ImageRefused(std::optional<ImagePicker> picker) = 0;
  // The boot file passed its check: it is remembered as the boot file of choice.
  virtual void BootFileAccepted(const std::string& path) = 0;
};

class ImageChecks {
 public:
  static constexpr int kBigBlock = 1;
  static constexpr int kSmallBlock = 2;

  ImageChecks(LogSink& log, MessagePort& messages, ImageCheckHost& host, const ProcessState& process,
              ImageStore& images, ImagePageCounts& pages);

  // Kind 2 is the small-block image, any other the big-block (or NOR) one.  True when the
  // image is valid and in its slot; otherwise the user has been told and Upgrade disabled.
  // The file is the one `selections` names.
  bool CheckFirmwareFile(const Selections& selections, int kind);
  bool CheckBootFile(const Selections& selections);

 private:
  enum class FileRead { Ok, Missing, OpenFailed, TooLarge };

  FileRead ReadImage(const std::string& path, std::vector<std::uint8_t>& data, int& error);
  bool RefuseFile(FileRead result, int error, const char* words, ImagePicker picker);
  // Counts pages into `pages` and sums the admitted words; false on a partial last page.
  bool ScanPages(const std::vector<std::uint8_t>& image, std::size_t length, bool header, HeaderLayout layout,
                 std::uint32_t& pages, WordXorChecksum& sum);
  bool SizeError();
  bool FirmwareVerdict(int kind, std::uint32_t pages, std::uint16_t checksum, const FirmwareImageHeader& header,
                       std::uint64_t imageLength);
  void StopBox(const std::string& text);

  LogSink& log_;
  MessagePort& messages_;
  ImageCheckHost& host_;
  const ProcessState& process_;
  ImageStore& images_;
  ImagePageCounts& pages_;
};

}  // namespace romsetter
