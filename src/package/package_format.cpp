#include "package/package_format.h"

#include <zlib.h>

// x86-64 processors with carry-less multiplication scramble and descramble by multiplying
// polynomials; everything else uses the tables and word shifts below.
#if defined(__x86_64__) && defined(__GNUC__)
#define ROMSETTER_CLMUL 1
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

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

// ---- Scrambler ----

// The scrambler's output over 64 bits in stream order (bit t of the word is the stream's
// bit t), given the 64 plain bits and the previous 32 output bits (bit 31 the most recent).
constexpr std::uint64_t ScrambleBlockSerial(std::uint64_t plain, std::uint32_t past) {
  std::uint64_t out = 0;
  for (int t = 0; t < 64; ++t) {
    std::uint64_t bit = (plain >> t) & 1;
    for (int i = 0; i < 32; ++i) {
      if (((kScramblerTaps >> i) & 1) == 0) continue;
      const int back = t - (i + 1);
      bit ^= back >= 0 ? (out >> back) & 1 : (past >> (32 + back)) & 1;
    }
    out |= bit << t;
  }
  return out;
}

// The scrambler is linear, so a 64-bit block's output is the XOR of what each byte of plain
// text and each byte of the past contributes alone: one table per byte position.  `past`
// gives the past's share in the block right after it, `pastNext` in the block after that
// (both blocks' input zero), so two blocks can be finished from one past.
struct ScrambleTables {
  std::uint64_t plain[8][256];
  std::uint64_t past[4][256];
  std::uint64_t pastNext[4][256];
};

template <std::size_t Bytes>
constexpr void FillByteTables(const std::uint64_t (&bitShare)[8 * Bytes], std::uint64_t (&table)[Bytes][256]) {
  for (std::size_t b = 0; b < Bytes; ++b) {
    for (std::size_t v = 0; v < 256; ++v) {
      std::uint64_t sum = 0;
      for (std::size_t j = 0; j < 8; ++j) {
        if ((v >> j) & 1) sum ^= bitShare[8 * b + j];
      }
      table[b][v] = sum;
    }
  }
}

constexpr ScrambleTables BuildScrambleTables() {
  ScrambleTables tables{};
  std::uint64_t plainBit[64] = {};
  std::uint64_t pastBit[32] = {};
  std::uint64_t pastNextBit[32] = {};
  for (int i = 0; i < 64; ++i) plainBit[i] = ScrambleBlockSerial(std::uint64_t{1} << i, 0);
  for (int i = 0; i < 32; ++i) {
    pastBit[i] = ScrambleBlockSerial(0, std::uint32_t{1} << i);
    pastNextBit[i] = ScrambleBlockSerial(0, static_cast<std::uint32_t>(pastBit[i] >> 32));
  }
  FillByteTables(plainBit, tables.plain);
  FillByteTables(pastBit, tables.past);
  FillByteTables(pastNextBit, tables.pastNext);
  return tables;
}

constexpr ScrambleTables kScrambleTables = BuildScrambleTables();

inline std::uint64_t LoadLe64(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{p[i]} << (8 * i);
  return v;
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) |
         (std::uint64_t{p[3]} << 24) | (std::uint64_t{p[4]} << 32) | (std::uint64_t{p[5]} << 40) |
         (std::uint64_t{p[6]} << 48) | (std::uint64_t{p[7]} << 56);
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
  p[4] = static_cast<std::uint8_t>(v >> 32);
  p[5] = static_cast<std::uint8_t>(v >> 40);
  p[6] = static_cast<std::uint8_t>(v >> 48);
  p[7] = static_cast<std::uint8_t>(v >> 56);
}

inline std::uint64_t FromPlain(std::uint64_t plain) {
  const ScrambleTables& t = kScrambleTables;
  return t.plain[0][plain & 0xFF] ^ t.plain[1][(plain >> 8) & 0xFF] ^ t.plain[2][(plain >> 16) & 0xFF] ^
         t.plain[3][(plain >> 24) & 0xFF] ^ t.plain[4][(plain >> 32) & 0xFF] ^ t.plain[5][(plain >> 40) & 0xFF] ^
         t.plain[6][(plain >> 48) & 0xFF] ^ t.plain[7][plain >> 56];
}
inline std::uint64_t FromPast(const std::uint64_t (&table)[4][256], std::uint32_t past) {
  return table[0][past & 0xFF] ^ table[1][(past >> 8) & 0xFF] ^ table[2][(past >> 16) & 0xFF] ^ table[3][past >> 24];
}
inline std::uint32_t Top(std::uint64_t block) { return static_cast<std::uint32_t>(block >> 32); }

// Tap I: the scrambled stream delayed by I + 1 bits, taken from this word and the one before.
template <std::size_t I>
inline std::uint64_t Tap(std::uint64_t word, std::uint64_t previous) {
  if constexpr (((kScramblerTaps >> I) & 1) != 0) {
    return (word << (I + 1)) | (previous >> (63 - I));
  } else {
    return 0;
  }
}
template <std::size_t... I>
inline std::uint64_t Feedback(std::uint64_t word, std::uint64_t previous, std::index_sequence<I...>) {
  return (std::uint64_t{0} ^ ... ^ Tap<I>(word, previous));
}

// Descrambling reads only scrambled bits, so each word needs just itself and the word before.
inline std::uint64_t DescrambleBlock(std::uint64_t word, std::uint64_t previous) {
  return word ^ Feedback(word, previous, std::make_index_sequence<32>{});
}

#if defined(ROMSETTER_CLMUL)
// As polynomials over GF(2), scrambling divides the stream by g = 1 + taps and descrambling
// multiplies by g.  Bit t of a word is the coefficient of D^t.
constexpr std::uint64_t kTapsPolynomial = std::uint64_t{kScramblerTaps} << 1;  // bit i taps i + 1 back
// 1/g to 128 terms: the response to a single 1 bit from a cleared state.
constexpr std::uint64_t kInverseLow = ScrambleBlockSerial(1, 0);
constexpr std::uint64_t kInverseHigh = ScrambleBlockSerial(0, static_cast<std::uint32_t>(kInverseLow >> 32));

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul");
  return has;
}

// Each 16-byte block scrambled as if from a cleared state: its 128 bits times 1/g, truncated.
__attribute__((target("pclmul"))) void ScrambleBlocksFromClearedClmul(std::uint8_t* data, std::size_t length) {
  const __m128i inverse = _mm_set_epi64x(static_cast<long long>(kInverseHigh), static_cast<long long>(kInverseLow));
  for (std::size_t n = 0; n + 16 <= length; n += 16) {
    const __m128i plain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    const __m128i low = _mm_clmulepi64_si128(plain, inverse, 0x00);
    const __m128i cross = _mm_xor_si128(_mm_clmulepi64_si128(plain, inverse, 0x10),
                                        _mm_clmulepi64_si128(plain, inverse, 0x01));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), _mm_xor_si128(low, _mm_slli_si128(cross, 8)));
  }
}

// Whole 16-byte blocks times g: each word's own product plus the part of the word before's
// that reaches past it.  Returns the bytes done and leaves the last scrambled word read.
__attribute__((target("pclmul"))) std::size_t DescrambleClmul(std::uint8_t* data, std::size_t length,
                                                              std::uint64_t& previous) {
  const __m128i taps = _mm_set_epi64x(0, static_cast<long long>(kTapsPolynomial));
  __m128i carriesBefore = _mm_setzero_si128();
  __m128i wordsBefore = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 16 <= length; n += 16) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    const __m128i first = _mm_clmulepi64_si128(words, taps, 0x00);
    const __m128i second = _mm_clmulepi64_si128(words, taps, 0x01);
    const __m128i own = _mm_unpacklo_epi64(first, second);
    const __m128i carries = _mm_unpackhi_epi64(first, second);
    const __m128i incoming =
        _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(carriesBefore), _mm_castsi128_pd(carries), 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), _mm_xor_si128(words, _mm_xor_si128(own, incoming)));
    carriesBefore = carries;
    wordsBefore = words;
  }
  previous = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(wordsBefore, wordsBefore)));
  return n;
}
#endif

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

void ScramblePayloadBitwise(std::uint8_t* data, std::size_t length) {
  std::uint32_t state = 0;  // bit i: the scrambled bit i + 1 steps back
  for (std::size_t n = 0; data != nullptr && n < length; ++n) {
    std::uint8_t out = 0;
    for (int j = 0; j < 8; ++j) {
      const std::uint32_t x = (data[n] >> j) & 1u;
      const std::uint32_t y = x ^ static_cast<std::uint32_t>(__builtin_parity(state & kScramblerTaps));
      state = (state << 1) | y;
      out = static_cast<std::uint8_t>(out | (y << j));
    }
    data[n] = out;
  }
}

void DescramblePayloadBitwise(std::uint8_t* data, std::size_t length) {
  std::uint32_t state = 0;
  for (std::size_t n = 0; data != nullptr && n < length; ++n) {
    std::uint8_t out = 0;
    for (int j = 0; j < 8; ++j) {
      const std::uint32_t y = (data[n] >> j) & 1u;
      const std::uint32_t x = y ^ static_cast<std::uint32_t>(__builtin_parity(state & kScramblerTaps));
      state = (state << 1) | y;
      out = static_cast<std::uint8_t>(out | (x << j));
    }
    data[n] = out;
  }
}

namespace {

// Each 16-byte block of `length` (a multiple of 16) scrambled as if from a cleared state.
void ScrambleBlocksFromCleared(std::uint8_t* data, std::size_t length) {
#if defined(ROMSETTER_CLMUL)
  if (HasClmul()) return ScrambleBlocksFromClearedClmul(data, length);
#endif
  for (std::size_t n = 0; n < length; n += 16) {
    const std::uint64_t first = FromPlain(LoadLe64(data + n));
    StoreLe64(data + n, first);
    StoreLe64(data + n + 8, FromPlain(LoadLe64(data + n + 8)) ^ FromPast(kScrambleTables.past, Top(first)));
  }
}

}  // namespace

void ScramblePayload(std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return;
  std::uint32_t past = 0;  // the last 32 scrambled bits, the most recent at bit 31
  std::size_t n = 0;
  // Two passes over each chunk.  The first scrambles every pair of blocks as if from a cleared
  // state, which needs no earlier output; the second adds the past's share, so only four
  // lookups per pair lie on the chain from one pair to the next.
  constexpr std::size_t kChunk = 4096;
  while (length - n >= 16) {
    const std::size_t end = n + ((length - n < kChunk ? length - n : kChunk) & ~std::size_t{15});
    ScrambleBlocksFromCleared(data + n, end - n);
    for (; n < end; n += 16) {
      StoreLe64(data + n, LoadLe64(data + n) ^ FromPast(kScrambleTables.past, past));
      const std::uint64_t second = LoadLe64(data + n + 8) ^ FromPast(kScrambleTables.pastNext, past);
      StoreLe64(data + n + 8, second);
      past = Top(second);
    }
  }
  if (length - n >= 8) {
    const std::uint64_t out = FromPlain(LoadLe64(data + n)) ^ FromPast(kScrambleTables.past, past);
    StoreLe64(data + n, out);
    past = Top(out);
    n += 8;
  }
  // Output bits never depend on later input, so zero padding leaves the tail's bits right.
  if (n < length) {
    const std::uint64_t out = FromPlain(LoadLe64(data + n, length - n)) ^ FromPast(kScrambleTables.past, past);
    StoreLe64(data + n, out, length - n);
  }
}

void DescramblePayload(std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return;
  std::uint64_t previous = 0;  // the scrambled word before, read before it was overwritten
  std::size_t n = 0;
#if defined(ROMSETTER_CLMUL)
  if (HasClmul()) n = DescrambleClmul(data, length, previous);
#endif
  for (; n + 8 <= length; n += 8) {
    const std::uint64_t word = LoadLe64(data + n);
    StoreLe64(data + n, DescrambleBlock(word, previous));
    previous = word;
  }
  if (n < length) StoreLe64(data + n, DescrambleBlock(LoadLe64(data + n, length - n), previous), length - n);
}

}  // namespace romsetter
