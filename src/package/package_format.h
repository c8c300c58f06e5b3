#pragma once
// The byte layout a package shares between its builder and its reader: the program file,
// the four payload images, the 2048-byte settings block and the 28-byte trailer at the end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace romsetter {

constexpr std::size_t kTrailerSize = 28;
constexpr std::size_t kPackageIniSize = 2048;
constexpr std::size_t kPackageTailSize = kPackageIniSize + kTrailerSize;  // 2076
constexpr char kPackageMagic[8] = {'M', 'O', 'R', 'V', 'E', 'N', 'T', '\0'};

struct PackageTrailer {
  std::uint32_t programLength = 0;  // P: also the offset of the first payload byte
  std::uint32_t bigLength = 0;      // B: big-block (or NOR) firmware, scrambled
  std::uint32_t fontLength = 0;     // F: font data, plain
  std::uint32_t bootLength = 0;     // T: boot code, plain
  std::uint32_t smallLength = 0;    // S: small-block firmware, scrambled
};

// Field by field, little-endian, after the magic.
std::array<std::uint8_t, kTrailerSize> EncodeTrailer(const PackageTrailer& trailer);
// False when the first seven bytes are not "MORVENT" (the eighth is not looked at).
bool DecodeTrailer(const std::uint8_t* bytes, PackageTrailer& trailer);

// What a package's settings block carries.
struct PackageSettings {
  std::string hardwareId;       // "NT_DiskVen0="
  std::string instanceKeyPath;  // "NT_DiskVen1="
  std::string inquiryText;      // "Win98_DiskVen="
  bool format = false;          // "Chk_Format="
  bool backup = false;          // "Chk_Backup="
  std::string fwVersion;        // "FW_Version="
  bool nor = false;             // "FlashType="
  // "Payload_CRC32=XXXXXXXX": the CRC-32 of the payload (offset P up to the settings block).
  // Readers that predate it ignore the line; a package without it is not checked.
  bool hasPayloadCrc = false;
  std::uint32_t payloadCrc = 0;
  // "Package_CRC32=XXXXXXXX", written after every other line: the CRC-32 of the whole file
  // but the line's eight digits (program, payload, every settings line, padding, trailer).
  // Readers that predate it ignore it; a package without it is checked as before.
  bool hasPackageCrc = false;
  std::uint32_t packageCrc = 0;
};

// The largest package file, the same for the builder and the reader, so every package built
// opens; it also bounds what one downloaded file can make the process allocate.
constexpr std::uint64_t kPackageLimit = std::uint64_t{1} << 30;
// P + B + F + T + S + 2076, in 64 bits.
std::uint64_t PackageLength(const PackageTrailer& trailer);

// The block's text: the lines in their fixed order, each ending in CR LF, then the CRC lines.
std::string PackageIniText(const PackageSettings& settings);
// `text` into a zero-filled block; false when it does not fit (more than 2047 bytes).
bool PackageIniBlock(const std::string& text, std::array<std::uint8_t, kPackageIniSize>& block);
// The reading rules: the text up to its first NUL, CR LF or LF lines; per line the first key
// (in the fixed order) found anywhere in it wins, its value being the rest of the line after
// the key's length; keys absent leave `settings` as they were.
void ReadPackageIni(const char* text, std::size_t length, PackageSettings& settings);

// The package's name next to the big-block firmware image.  A firmware path without a "."
// is taken as a whole name: the rule's ".exe" is appended.
std::string PackageFileName(const std::string& bigFirmwarePath, bool loadFont, const std::string& fontListPath,
                            bool nor, bool loadBootCode, const std::string& bootPath);

// The CRC-32 (zlib's) of `length` bytes.
std::uint32_t PayloadCrc32(const std::uint8_t* data, std::size_t length);
// Where the digits of the text's last "Package_CRC32=" line start, or npos.
std::size_t PackageCrcDigits(const std::string& text);
// The CRC-32 of a package held as `head` then `tail`, without the eight digit bytes at
// offset `digits` of `tail` (the block's offset plus PackageCrcDigits of its text).
std::uint32_t PackageCrc32(const std::uint8_t* head, std::size_t headLength, const std::uint8_t* tail,
                           std::size_t tailLength, std::size_t digits);

// Whether a whole file is a package.  A file whose last 28 bytes start with "MORVENT" is a
// package only when P + B + F + T + S + 2076 is exactly its length (computed in 64 bits) and
// the file matches each CRC its settings carry; otherwise it is damaged and `damage`
// says what does not add up.  Without the magic it is a plain program.
enum class PackageKind { Plain, Package, Damaged };
PackageKind InspectPackage(const std::uint8_t* file, std::size_t length, PackageTrailer& trailer,
                           PackageSettings& settings, std::string& damage);

}  // namespace romsetter
