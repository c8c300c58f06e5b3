#include "package/package_format.h"
#include "package/payload_scrambler.h"
#include "package/sample_images.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Its reading is the inspection table's (package/data/inspection.txt).
TEST(PackageFormatTest, TrailerOfTheNandExample) {
  const auto bytes = EncodeTrailer({0x000AA000, 0x0003C000, 0x001D9400, 0, 0x0003C000});
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
            HexBytes("4D4F5256454E5400" "00A00A00" "00C00300" "00941D00" "00000000" "00C00300"));
}

TEST(PackageFormatTest, SettingsTextAndBlock) {
  PackageSettings s{"USB\\VID_1234", "Enum\\USBSTOR\\Disk", "ACME Flash", true, false, "1.07", true, true, 0xAB,
                    true, 0xFEDCBA98};
  const std::string text = PackageIniText(s);
  EXPECT_EQ(text,
            "[Romsetter]\r\nNT_DiskVen0=USB\\VID_1234\r\nNT_DiskVen1=Enum\\USBSTOR\\Disk\r\n"
            "Win98_DiskVen=ACME Flash\r\nChk_Format=1\r\nChk_Backup=0\r\nFW_Version=1.07\r\nFlashType=NOR\r\n"
            "Payload_CRC32=000000AB\r\nPackage_CRC32=FEDCBA98\r\n");
  EXPECT_EQ(PackageCrcDigits(text), text.size() - 10);
  EXPECT_EQ(PackageCrcDigits(text + "x Package_CRC32=\r\n"), text.size() + 14);  // the last line counts
  std::array<std::uint8_t, kPackageIniSize> block;
  ASSERT_TRUE(PackageIniBlock(text, block));
  PackageSettings read;
  ReadPackageIni(reinterpret_cast<const char*>(block.data()), block.size(), read);
  EXPECT_EQ(PackageIniText(read), text);
  EXPECT_TRUE(PackageIniBlock(std::string(2047, 'x'), block));
  EXPECT_EQ(block[2047], 0);
  EXPECT_FALSE(PackageIniBlock(std::string(2048, 'x'), block));
}

TEST(PackageFormatTest, ReadingRules) {
  for (const auto& row : ReadTable("package/data/ini_reading.txt")) {
    PackageSettings s{"hw", "key", "inq", true, true, "v1", true, false, 0};
    // Exactly the text's bytes, no terminator: the length alone must bound the reading.
    const std::vector<char> exact(row.at(0).begin(), row.at(0).end());
    ReadPackageIni(exact.data(), exact.size(), s);
    EXPECT_EQ(PackageIniText(s), row.at(1)) << row[0];
  }
  PackageSettings s;
  ReadPackageIni("FW_Version=abcdef", 13, s);
  EXPECT_EQ(s.fwVersion, "ab");
}

TEST(PackageFormatTest, PackageNames) {
  for (const auto& row : ReadTable("package/data/package_names.txt")) {
    const std::string& flags = row.at(1);
    EXPECT_EQ(PackageFileName(row[0], flags[0] == 'F', "D:\\lists.x\\big5.tab", flags[1] == 'N', flags[2] == 'B',
                              "D:/boot/boot7.bin"),
              row.at(2))
        << row[0] << " " << flags;
  }
}

// Program, payload and settings, with the trailer `lengths` (the parts' own sizes when empty).
Bytes Package(std::size_t program, std::size_t payload, const std::string& ini, PackageTrailer lengths = {}) {
  Bytes file = PatternBytes(program + payload, 13);
  std::array<std::uint8_t, kPackageIniSize> block;
  EXPECT_TRUE(PackageIniBlock(ini, block));
  file.insert(file.end(), block.begin(), block.end());
  if (lengths.programLength == 0) lengths = {std::uint32_t(program), std::uint32_t(payload), 0, 0, 0};
  const auto trailer = EncodeTrailer(lengths);
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

// The checksum lines as the builder writes them: the payload's, and the package's when `both`.
std::string Crc(std::size_t program, std::size_t payload, bool both = false) {
  PackageSettings s;
  s.hasPayloadCrc = true;
  s.hasPackageCrc = both;
  const Bytes file = Package(program, payload, "");
  s.payloadCrc = PayloadCrc32(file.data() + program, payload);
  return PackageIniText(s);
}

Bytes Whole(std::size_t program, std::size_t payload) {
  const std::string text = Crc(program, payload, true);
  Bytes file = Package(program, payload, text);
  const std::size_t at = program + payload + PackageCrcDigits(text);
  const std::string crc = Format("%08X", static_cast<unsigned>(PackageCrc32(nullptr, 0, file.data(), file.size(), at)));
  std::copy(crc.begin(), crc.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

TEST(PackageFormatTest, Inspection) {
  EXPECT_EQ(PayloadCrc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
  const std::map<std::string, PackageKind> kinds = {
      {"Package", PackageKind::Package}, {"Damaged", PackageKind::Damaged}, {"Plain", PackageKind::Plain}};
  for (const auto& row : ReadTable("package/data/inspection.txt")) {
    std::istringstream how(row.at(0));
    const auto number = [&how] {
      std::string word;
      how >> word;
      return static_cast<std::uint32_t>(std::stoull(word, nullptr, 0));
    };
    std::string word, edit;
    how >> word;
    const std::size_t program = number(), payload = word == "bytes" ? 0 : number();
    PackageTrailer lengths;
    if (how >> edit && edit == "trailer") {
      lengths = {number(), number(), number(), number(), number()};
      edit.clear();
      how >> edit;
    }
    const std::string& ini = row.at(1);
    Bytes file = word == "bytes" ? Bytes(program, 'M')
                 : ini == "BOTH"  ? Whole(program, payload)
                                  : Package(program, payload, ini == "CRC" ? Crc(program, payload) : ini, lengths);
    const std::size_t n = edit.empty() ? 0 : number();
    if (edit == "flip") file.at(n) ^= 1;
    if (edit == "drop") file.erase(file.begin() + static_cast<std::ptrdiff_t>(n));
    if (edit == "grow") file.resize(file.size() + n, 0);
    if (edit == "cut") file.resize(file.size() - n);
    PackageTrailer trailer;
    PackageSettings settings;
    std::string damage;
    EXPECT_EQ(InspectPackage(file.data(), file.size(), trailer, settings, damage), kinds.at(row.at(2))) << row[0];
    const std::string expected = row.size() > 3 ? row[3] : "";
    EXPECT_EQ(damage.substr(0, expected.size()), expected) << row[0];
    EXPECT_EQ(damage.empty(), expected.empty()) << row[0];
  }
}

TEST(PackageFormatTest, ScramblerReferenceAndTheFastOneMatchingIt) {
  const Bytes check{0x3F, 0xF9, 0xDD, 0xC3, 0xF6};
  Bytes data{0x01, 0x00, 0x00, 0x00, 0x80};
  ScramblePayloadBitwise(data.data(), data.size());
  EXPECT_EQ(data, check);
  DescramblePayloadBitwise(data.data(), data.size());
  EXPECT_EQ(data, (Bytes{0x01, 0x00, 0x00, 0x00, 0x80}));
  Bytes zeros(100, 0);
  ScramblePayloadBitwise(zeros.data(), zeros.size());
  EXPECT_EQ(zeros, Bytes(100, 0));

  // Descrambling from the middle with a cleared state: only the first 32 bits go wrong.
  const Bytes plain = PatternBytes(200, 1);
  Bytes scrambled = plain;
  ScramblePayloadBitwise(scrambled.data(), scrambled.size());
  for (std::size_t k : {1, 5, 77}) {
    Bytes suffix(scrambled.begin() + k, scrambled.end());
    DescramblePayloadBitwise(suffix.data(), suffix.size());
    EXPECT_EQ(Bytes(suffix.begin() + 4, suffix.end()), Bytes(plain.begin() + k + 4, plain.end())) << k;
  }
  // The fast scrambler matches it bytewise at every length around its word and block sizes.
  for (std::size_t length : {0, 1, 3, 7, 8, 9, 63, 64, 65, 1027}) {
    const Bytes plain = PatternBytes(length, static_cast<std::uint32_t>(length));
    Bytes fast = plain, slow = plain;
    ScramblePayload(fast.data(), fast.size());
    ScramblePayloadBitwise(slow.data(), slow.size());
    ASSERT_EQ(fast, slow) << length;
    DescramblePayload(fast.data(), fast.size());
    EXPECT_EQ(fast, plain) << length;
  }
}

}  // namespace
}  // namespace romsetter::test
