#include "package/package_format.h"

#include <zlib.h>

#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/format.h"
#include "base/text.h"

namespace romsetter {

namespace {

// ---- Trailer ----

constexpr std::size_t kMagicChecked = 7;  // "MORVENT"; the NUL after it is not looked at

// ---- Settings block ----

enum class IniKey {
  HardwareId, InstanceKeyPath, InquiryText, Format, Backup, FwVersion, FlashType, PayloadCrc, PackageCrc
};

struct KeyName {
  IniKey key;
  const char* text;
  std::size_t length;
};

// In the order they are tried: the first that occurs in a line decides what the line sets.
constexpr KeyName kIniKeys[] = {
    {IniKey::HardwareId, "NT_DiskVen0=", 12}, {IniKey::InstanceKeyPath, "NT_DiskVen1=", 12},
    {IniKey::InquiryText, "Win98_DiskVen=", 14}, {IniKey::Format, "Chk_Format=", 11},
    {IniKey::Backup, "Chk_Backup=", 11},         {IniKey::FwVersion, "FW_Version=", 11},
    {IniKey::FlashType, "FlashType=", 10},       {IniKey::PayloadCrc, "Payload_CRC32=", 14},
    {IniKey::PackageCrc, "Package_CRC32=", 14},
};
constexpr std::size_t kCrcDigits = 8;

bool ParseHex32(const std::string& text, std::uint32_t& value) {
  if (text.size() != kCrcDigits) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return false;
    v = (v << 4) | static_cast<std::uint32_t>(digit);
  }
  value = v;
  return true;
}

// What the checksum lines looked like, beyond the values they set.
struct CrcLines {
  bool payloadMalformed = false;
  bool packageMalformed = false;
  std::size_t packageDigits = std::string::npos;  // offset in the text of the last one's digits
};

// A checksum line that cannot be read still says the file was meant to be checked; ignoring
// it would let a damaged file pass as unchecked.
void TakeCrc(const std::string& value, bool& has, std::uint32_t& crc, bool& malformed) {
  has = true;
  malformed = !ParseHex32(value, crc);
  if (malformed) crc = 0;
}

void ApplyIniLine(const std::string& line, std::size_t lineStart, PackageSettings& settings, CrcLines& crcs) {
  for (const KeyName& name : kIniKeys) {
    if (line.find(name.text) == std::string::npos) continue;
    // The value starts after the key's length counted from the line's start, even when the
    // key itself sits further in: keys are written at the start of lines.
    std::string value = line.substr(name.length);
    switch (name.key) {
      case IniKey::HardwareId: settings.hardwareId = std::move(value); break;
      case IniKey::InstanceKeyPath: settings.instanceKeyPath = std::move(value); break;
      case IniKey::InquiryText: settings.inquiryText = std::move(value); break;
      case IniKey::Format: settings.format = value == "1"; break;
      case IniKey::Backup: settings.backup = value == "1"; break;
      case IniKey::FwVersion: settings.fwVersion = std::move(value); break;
      case IniKey::FlashType: settings.nor = value == "NOR"; break;
      case IniKey::PayloadCrc:
        TakeCrc(value, settings.hasPayloadCrc, settings.payloadCrc, crcs.payloadMalformed);
        break;
      case IniKey::PackageCrc:
        TakeCrc(value, settings.hasPackageCrc, settings.packageCrc, crcs.packageMalformed);
        crcs.packageDigits = lineStart + name.length;
        break;
    }
    return;
  }
}

// The reading rules, also telling what the checksum lines looked like.
void ReadIni(const char* text, std::size_t length, PackageSettings& settings, CrcLines& crcs) {
  crcs = CrcLines{};
  if (text == nullptr) return;
  const void* nul = std::memchr(text, '\0', length);
  const std::size_t end = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length;
  std::size_t start = 0;
  while (start < end) {
    const void* lf = std::memchr(text + start, '\n', end - start);
    const std::size_t stop = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - text) : end;
    std::size_t lineEnd = stop;
    // Only a CR right before an LF belongs to the line break; a lone CR is text.
    if (lf != nullptr && lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
    ApplyIniLine(std::string(text + start, lineEnd - start), start, settings, crcs);
    start = stop + 1;
  }
}

// ---- File names ----

// Index of the first character of the file name: folders end in '\\' or '/'.
std::size_t NameStart(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? 0 : slash + 1;
}

// The last '.' of the file name part, or npos: a dot in a folder name is no extension.
std::size_t ExtensionDot(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot != std::string::npos && dot >= NameStart(path) ? dot : std::string::npos;
}

std::string BaseName(const std::string& path) {
  const std::size_t start = NameStart(path);
  const std::size_t dot = ExtensionDot(path);
  return path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

// `piece` in front of the extension; a name without one gets `piece` + `extension`.
std::string InsertBeforeExtension(const std::string& path, const std::string& piece, const char* extension) {
  const std::size_t dot = ExtensionDot(path);
  if (dot == std::string::npos) return path + piece + extension;
  return path.substr(0, dot) + piece + path.substr(dot);
}

}  // namespace

std::array<std::uint8_t, kTrailerSize> EncodeTrailer(const PackageTrailer& trailer) {
  std::array<std::uint8_t, kTrailerSize> bytes{};
  std::memcpy(bytes.data(), kPackageMagic, sizeof kPackageMagic);
  WriteLe32(&bytes[8], trailer.programLength);
  WriteLe32(&bytes[12], trailer.bigLength);
  WriteLe32(&bytes[16], trailer.fontLength);
  WriteLe32(&bytes[20], trailer.bootLength);
  WriteLe32(&bytes[24], trailer.smallLength);
  return bytes;
}

bool DecodeTrailer(const std::uint8_t* bytes, PackageTrailer& trailer) {
  if (bytes == nullptr || std::memcmp(bytes, kPackageMagic, kMagicChecked) != 0) return false;
  trailer.programLength = ReadLe32(bytes + 8);
  trailer.bigLength = ReadLe32(bytes + 12);
  trailer.fontLength = ReadLe32(bytes + 16);
  trailer.bootLength = ReadLe32(bytes + 20);
  trailer.smallLength = ReadLe32(bytes + 24);
  return true;
}

std::string PackageIniText(const PackageSettings& settings) {
  std::string text = "[Romsetter]\r\n";
  text += "NT_DiskVen0=" + settings.hardwareId + "\r\n";
  text += "NT_DiskVen1=" + settings.instanceKeyPath + "\r\n";
  text += "Win98_DiskVen=" + settings.inquiryText + "\r\n";
  text += settings.format ? "Chk_Format=1\r\n" : "Chk_Format=0\r\n";
  text += settings.backup ? "Chk_Backup=1\r\n" : "Chk_Backup=0\r\n";
  text += "FW_Version=" + settings.fwVersion + "\r\n";
  text += settings.nor ? "FlashType=NOR\r\n" : "FlashType=NAND\r\n";
  if (settings.hasPayloadCrc) text += Format("Payload_CRC32=%08X\r\n", static_cast<unsigned>(settings.payloadCrc));
  if (settings.hasPackageCrc) text += Format("Package_CRC32=%08X\r\n", static_cast<unsigned>(settings.packageCrc));
  return text;
}

bool PackageIniBlock(const std::string& text, std::array<std::uint8_t, kPackageIniSize>& block) {
  block.fill(0);
  // At least one NUL must follow, or a reader could not tell where the text ends.
  if (text.size() >= kPackageIniSize) return false;
  std::memcpy(block.data(), text.data(), text.size());
  return true;
}

// A malformed checksum line leaves hasPayloadCrc set with payloadCrc 0; InspectPackage
// reports such a package damaged whatever its payload.
void ReadPackageIni(const char* text, std::size_t length, PackageSettings& settings) {
  CrcLines crcs;
  ReadIni(text, length, settings, crcs);
}

std::size_t PackageCrcDigits(const std::string& text) {
  PackageSettings settings;
  CrcLines crcs;
  ReadIni(text.data(), text.size(), settings, crcs);
  return crcs.packageDigits;
}

std::uint64_t PackageLength(const PackageTrailer& t) {
  return std::uint64_t{t.programLength} + t.bigLength + t.fontLength + t.bootLength + t.smallLength +
         kPackageTailSize;
}

std::string PackageFileName(const std::string& bigFirmwarePath, bool loadFont, const std::string& fontListPath,
                            bool nor, bool loadBootCode, const std::string& bootPath) {
  std::string name;
  if (loadFont) {
    name = InsertBeforeExtension(bigFirmwarePath, "_" + BaseName(fontListPath), ".exe");
    // Only the file name changes, so the package sits next to its image.
    const std::size_t start = NameStart(name);
    std::string file = name.substr(start);
    file = file.find(".bin") != std::string::npos ? ReplaceAll(file, ".bin", ".exe") : ReplaceAll(file, ".BIN", ".exe");
    name = name.substr(0, start) + file;
  } else {
    const std::size_t dot = ExtensionDot(bigFirmwarePath);
    name = bigFirmwarePath.substr(0, dot) + "_NONE.exe";
  }
  if (nor) name = InsertBeforeExtension(name, loadBootCode ? "_" + BaseName(bootPath) : "_NOBOOT", ".exe");
  return name;
}

namespace {

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
  uLong value = crc;
  // zlib counts in uInt; larger spans go in pieces.
  constexpr std::size_t kPiece = 1u << 30;
  while (data != nullptr && length > 0) {
    const std::size_t n = length < kPiece ? length : kPiece;
    value = crc32(value, data, static_cast<uInt>(n));
    data += n;
    length -= n;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::uint32_t PayloadCrc32(const std::uint8_t* data, std::size_t length) { return Crc32Update(0, data, length); }

std::uint32_t PackageCrc32(const std::uint8_t* head, std::size_t headLength, const std::uint8_t* tail,
                           std::size_t tailLength, std::size_t digits) {
  std::uint32_t crc = Crc32Update(0, head, headLength);
  if (digits > tailLength) digits = tailLength;
  crc = Crc32Update(crc, tail, digits);
  const std::size_t after = tailLength - digits < kCrcDigits ? tailLength : digits + kCrcDigits;
  return Crc32Update(crc, tail + after, tailLength - after);
}

PackageKind InspectPackage(const std::uint8_t* file, std::size_t length, PackageTrailer& trailer,
                           PackageSettings& settings, std::string& damage) {
  trailer = PackageTrailer{};
  settings = PackageSettings{};
  damage.clear();
  if (file == nullptr || length < kTrailerSize) return PackageKind::Plain;
  PackageTrailer decoded;
  if (!DecodeTrailer(file + length - kTrailerSize, decoded)) {
    // A download cut off at the end leaves the trailer's start closer to the end than 28
    // bytes; the whole magic with its NUL there is no program's own constant.
    for (std::size_t tail = kTrailerSize - 1; tail >= sizeof kPackageMagic; --tail) {
      if (std::memcmp(file + length - tail, kPackageMagic, sizeof kPackageMagic) == 0) {
        damage = Format("it ends %zu bytes short of its trailer", kTrailerSize - tail);
        return PackageKind::Damaged;
      }
    }
    return PackageKind::Plain;
  }
  trailer = decoded;

  const std::uint64_t parts = PackageLength(decoded);
  if (parts != length) {
    damage = Format("its parts add up to %llu bytes, but the file has %llu", static_cast<unsigned long long>(parts),
                    static_cast<unsigned long long>(length));
    return PackageKind::Damaged;
  }

  // The sum matched, so the settings block and the payload lie inside the file.
  const std::size_t iniOffset = length - kPackageTailSize;
  CrcLines crcs;
  ReadIni(reinterpret_cast<const char*>(file + iniOffset), kPackageIniSize, settings, crcs);
  if (crcs.payloadMalformed || crcs.packageMalformed) {
    damage = crcs.payloadMalformed ? "the payload checksum line is malformed" : "the package checksum line is malformed";
    return PackageKind::Damaged;
  }
  if (settings.hasPayloadCrc) {
    const std::uint32_t crc = PayloadCrc32(file + decoded.programLength, iniOffset - decoded.programLength);
    if (crc != settings.payloadCrc) {
      damage = Format("the payload checksum is 0x%08X, the settings say 0x%08X", static_cast<unsigned>(crc),
                      static_cast<unsigned>(settings.payloadCrc));
      return PackageKind::Damaged;
    }
  }
  if (settings.hasPackageCrc) {
    // A well-formed line holds its eight digits inside the block's text.
    const std::uint32_t crc = PackageCrc32(nullptr, 0, file, length, iniOffset + crcs.packageDigits);
    if (crc != settings.packageCrc) {
      damage = Format("the package checksum is 0x%08X, the settings say 0x%08X", static_cast<unsigned>(crc),
                      static_cast<unsigned>(settings.packageCrc));
      return PackageKind::Damaged;
    }
  }
  return PackageKind::Package;
}

}  // namespace romsetter
