#include "package/package_format.h"
#include "package/payload_scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PackageFormatTest, TrailerOfTheNandExample) {
  const PackageTrailer example{0x000AA000, 0x0003C000, 0x001D9400, 0, 0x0003C000};
  auto bytes = EncodeTrailer(example);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), std::string("MORVENT", 8));
  const std::uint32_t fields[] = {0x000AA000, 0x0003C000, 0x001D9400, 0, 0x0003C000};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(ReadLe32(&bytes[8 + 4 * i]), fields[i]) << i;
  bytes[7] = 'X';  // only the first seven bytes are the magic
  PackageTrailer decoded;
  ASSERT_TRUE(DecodeTrailer(bytes.data(), decoded));
  EXPECT_EQ(decoded.fontLength, 0x001D9400u);
  EXPECT_EQ(decoded.smallLength, 0x0003C000u);
  bytes[6] = 'S';
  EXPECT_FALSE(DecodeTrailer(bytes.data(), decoded));
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
  Bytes file(program + payload);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
  std::array<std::uint8_t, kPackageIniSize> block;
  EXPECT_TRUE(PackageIniBlock(ini, block));
  file.insert(file.end(), block.begin(), block.end());
  if (lengths.programLength == 0) lengths = {std::uint32_t(program), std::uint32_t(payload), 0, 0, 0};
  const auto trailer = EncodeTrailer(lengths);
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

std::string Crc(std::size_t program, std::size_t payload) {
  PackageSettings s;
  s.hasPayloadCrc = true;
  const Bytes file = Package(program, payload, "");
  s.payloadCrc = PayloadCrc32(file.data() + program, payload);
  return PackageIniText(s);
}

TEST(PackageFormatTest, Inspection) {
  EXPECT_EQ(PayloadCrc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
  Bytes nand = Package(0xAA000, 0x3C000 + 0x1D9400 + 0x3C000, Crc(0xAA000, 0x3C000 + 0x1D9400 + 0x3C000),
                       {0xAA000, 0x3C000, 0x1D9400, 0, 0x3C000});
  Bytes inProgram = Package(10, 0, "");  // a program that carries a package inside
  inProgram.resize(inProgram.size() + 100, 0);
  Bytes missingByte = Package(100, 50, "");
  missingByte.erase(missingByte.begin() + 120);
  Bytes badPayload = Package(100, 50, Crc(100, 50));
  badPayload[149] ^= 1;
  Bytes badProgram = Package(100, 50, Crc(100, 50));
  badProgram[99] ^= 1;  // the payload checksum alone does not cover the program
  struct Case {
    Bytes file;
    PackageKind kind;
    std::string damage;
  };
  // Both checksums, as the builder writes them.
  auto whole = [](std::size_t program, std::size_t payload) {
    PackageSettings s;
    s.hasPayloadCrc = s.hasPackageCrc = true;
    Bytes file = Package(program, payload, "");
    s.payloadCrc = PayloadCrc32(file.data() + program, payload);
    const std::string text = PackageIniText(s);
    file = Package(program, payload, text);
    const std::size_t at = program + payload + PackageCrcDigits(text);
    const std::string crc = Format("%08X", static_cast<unsigned>(PackageCrc32(nullptr, 0, file.data(), file.size(), at)));
    std::copy(crc.begin(), crc.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
  };
  Bytes programChanged = whole(100, 50);
  programChanged[99] ^= 1;
  Bytes padChanged = whole(100, 50);
  padChanged[padChanged.size() - 30] = 'x';  // after the text's end: read by no reader, still covered
  const Case cases[] = {
      {nand, PackageKind::Package, ""},
      {whole(100, 50), PackageKind::Package, ""},
      {programChanged, PackageKind::Damaged, "the package checksum is 0x"},
      {padChanged, PackageKind::Damaged, "the package checksum is 0x"},
      {Package(100, 50, "Package_CRC32=0000000\r\n"), PackageKind::Damaged, "the package checksum line is malformed"},
      // A download cut off at the end: the trailer's start is still there, or gone.
      {Bytes(nand.begin(), nand.end() - 1), PackageKind::Damaged, "it ends 1 bytes short of its trailer"},
      {Bytes(nand.begin(), nand.end() - 20), PackageKind::Damaged, "it ends 20 bytes short of its trailer"},
      {Bytes(nand.begin(), nand.end() - 21), PackageKind::Plain, ""},
      {missingByte, PackageKind::Damaged, "its parts add up to 2226 bytes, but the file has 2225"},
      {Package(100, 50, "", {100, 51, 0, 0, 0}), PackageKind::Damaged,
       "its parts add up to 2227 bytes, but the file has 2226"},
      {Package(100, 50, "", {151, 0, 0, 0, 0xFFFFFFFF}), PackageKind::Damaged,
       "its parts add up to 4294969522 bytes, but the file has 2226"},
      {badPayload, PackageKind::Damaged, "the payload checksum is 0x"},
      {badProgram, PackageKind::Package, ""},
      {Package(100, 50, "Payload_CRC32=XYZ\r\n"), PackageKind::Damaged, "the payload checksum line is malformed"},
      {inProgram, PackageKind::Plain, ""},
      {Package(100, 50, ""), PackageKind::Package, ""},
      {Package(100, 50, "FlashType=NOR\r\n"), PackageKind::Package, ""},
      {Bytes(27, 'M'), PackageKind::Plain, ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    PackageTrailer trailer;
    PackageSettings settings;
    std::string damage;
    const Bytes& file = cases[i].file;
    EXPECT_EQ(InspectPackage(file.data(), file.size(), trailer, settings, damage), cases[i].kind) << i;
    EXPECT_EQ(damage.substr(0, cases[i].damage.size()), cases[i].damage) << i;
    EXPECT_EQ(damage.empty(), cases[i].damage.empty()) << i;
  }
}

Bytes Random(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(length);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
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
  const Bytes plain = Random(200, 1);
  Bytes scrambled = plain;
  ScramblePayloadBitwise(scrambled.data(), scrambled.size());
  for (std::size_t k : {1, 5, 77}) {
    Bytes suffix(scrambled.begin() + k, scrambled.end());
    DescramblePayloadBitwise(suffix.data(), suffix.size());
    EXPECT_EQ(Bytes(suffix.begin() + 4, suffix.end()), Bytes(plain.begin() + k + 4, plain.end())) << k;
  }
  // The fast scrambler matches it bytewise at every length around its word and block sizes.
  for (std::size_t length : {0, 1, 3, 7, 8, 9, 63, 64, 65, 1027}) {
    const Bytes plain = Random(length, static_cast<unsigned>(length));
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
