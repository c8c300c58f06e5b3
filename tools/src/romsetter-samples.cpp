// Writes a set of sample inputs for the demo and for trying the command line: firmware
// images with valid checksums, a boot image, fonts with their font list, and emulator
// configurations for a NAND and a NOR device.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/sample_images.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using romsetter::BalancedImage;
using romsetter::NandHeaderImage;
using romsetter::PatternBytes;

bool Save(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "romsetter-samples: cannot create %s\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

bool SaveText(const std::string& path, const std::string& text) { return Save(path, Bytes(text.begin(), text.end())); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: romsetter-samples FOLDER\n");
    return 1;
  }
  const std::string dir = argv[1];
  bool ok = Save(dir + "/firmware.bin", NandHeaderImage(256, 1)) && Save(dir + "/small.bin", BalancedImage(128, 2)) &&
            Save(dir + "/nor.bin", BalancedImage(96, 3)) && Save(dir + "/boot.bin", BalancedImage(16, 4)) &&
            Save(dir + "/BIG5_16.FNT", PatternBytes(40000, 5)) && Save(dir + "/ASCII.FNT", PatternBytes(4000, 6)) &&
            Save(dir + "/SYMBOL.FNT", PatternBytes(600, 7));
  // Entries are relative to the folder the upgrade runs in.
  ok = ok && SaveText(dir + "/fonts.tab", "BIG5_16.FNT\r\nASCII.FNT\r\n\r\nSYMBOL.FNT\r\n");
  ok = ok && SaveText(dir + "/nand.cfg",
                      "# A NAND device with room for the samples\n"
                      "drive E\n"
                      "[device]\n"
                      "version \"01.07.40\"\n"
                      "product \"MV-Demo Player\"\n"
                      "firmware 0x0400 0x00001000 0x01000000\n"
                      "flash_type 1\n"
                      "backup 0x00002000 0x00003000\n"
                      "font 0x0200 0x00004000 0x00005000\n"
                      "boot 0x0040 0x00000100 0x00000200\n");
  ok = ok && SaveText(dir + "/nor.cfg",
                      "# A NOR device whose firmware region skips four pages at page 8\n"
                      "[device]\n"
                      "firmware 0x0100 0x00001000 0\n"
                      "gap 4 8\n"
                      "boot 0x0040 0x00000100 0x00000200\n"
                      "font 0x0200 0x00004000 0x00005000\n");
  if (!ok) return 1;
  std::printf("samples written to %s\n", dir.c_str());
  return 0;
}
