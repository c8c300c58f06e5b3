// romsetter-cli run as a process, as a script would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "package/sample_images.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::ScratchForCurrentTest("cli");
    Save("fw.bin", BalancedImage(16, 21));
    Save("A.FNT", PatternBytes(3000, 22));
    test::WriteFile(dir + "/fonts.tab", "A.FNT\r\n");
    test::WriteFile(dir + "/nand.cfg",
                    "[device]\nfirmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n");
  }
  void Save(const std::string& name, const std::vector<std::uint8_t>& data) {
    test::WriteFile(dir + "/" + name, std::string(data.begin(), data.end()));
  }
  CliRun Run(const std::string& args) {
    const std::string command =
        "cd '" + dir + "' && '" ROMSETTER_CLI "' " + args + " >stdout.txt 2>stderr.txt";
    CliRun r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = test::ReadFile(dir + "/stdout.txt");
    r.err = test::ReadFile(dir + "/stderr.txt");
    return r;
  }
  std::string dir;
};

TEST_F(Cli, FullEmulatedUpgradePrintsTheLogLinesAndSucceeds) {
  const CliRun r = Run("upgrade --device emulator:nand.cfg --firmware fw.bin --backup --font-list fonts.tab");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" ***** F/W, BackUp F/W and Font Upgrade successfully!!\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "Successful: Please Unplug the Device first!\n");
  // Standard output carries the log file's lines exactly.
  std::string log = test::ReadFile(dir + "/Romsetter.log");
  std::string unixLog;
  for (char c : log) {
    if (c != '\r') unixLog += c;
  }
  EXPECT_EQ(r.out, unixLog);
  EXPECT_TRUE(test::FileExists(dir + "/fonts.h"));
  EXPECT_TRUE(test::FileExists(dir + "/FONTS_In.dat") || test::FileExists(dir + "/fonts_In.dat"));
}

TEST_F(Cli, RefusedInputGivesOneLineAndTheUsage) {
  const CliRun missing = Run("upgrade --device emulator:nand.cfg --firmware nothere.bin");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("romsetter-cli: --firmware nothere.bin: no such file\nusage:", 0), 0u) << missing.err;
  EXPECT_TRUE(missing.out.empty());
  EXPECT_FALSE(test::FileExists(dir + "/Romsetter.log"));

  EXPECT_EQ(Run("upgrade --device emulator:nand.cfg --firmware fw.bin --bogus").status, 1);
  EXPECT_EQ(Run("upgrade --device emulator:nand.cfg --boot fw.bin").status, 1);
  EXPECT_EQ(Run("upgrade --device emulator:nand.cfg").status, 1);
  EXPECT_EQ(Run("").status, 1);

  // A bad image is refused by the job itself before the device is written.
  Save("bad.bin", std::vector<std::uint8_t>(513, 1));
  const CliRun bad = Run("upgrade --device emulator:nand.cfg --firmware bad.bin");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("The Size of the FW file is not correct!"), std::string::npos) << bad.err;

  test::WriteFile(dir + "/broken.cfg", "[device]\nfirmware 12\n");
  const CliRun broken = Run("info --device emulator:broken.cfg");
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("broken.cfg:2"), std::string::npos) << broken.err;
}

TEST_F(Cli, MissingDeviceIsItsOwnStatus) {
  test::WriteFile(dir + "/none.cfg", "adapters 0\n[device]\n");
  const CliRun r = Run("upgrade --aspi --device emulator:none.cfg --format");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "F/W Upgrade: No ASPI for WIN32 support detected.\n");

  test::WriteFile(dir + "/unplugged.cfg", "[device]\nattached no\n");
  const CliRun unplugged = Run("upgrade --device emulator:unplugged.cfg --format");
  EXPECT_EQ(unplugged.status, 2);
  EXPECT_EQ(unplugged.err, "F/W Upgrade: The device opened failure!!,please check the connection!\n");
  EXPECT_NE(unplugged.out.find("Lost InDisk Name!!"), std::string::npos) << unplugged.out;

  test::WriteFile(dir + "/other.cfg", "[device]\ninquiry \"Other    Disk\"\n");
  EXPECT_EQ(Run("upgrade --aspi --device emulator:other.cfg --format").status, 2);
}

TEST_F(Cli, DeviceFaultIsADeviceFailure) {
  test::WriteFile(dir + "/faulty.cfg",
                  "[device]\nfirmware 0x0100 0x1000 0x01000000\nfault not_delivered UPT_WRITE_PAGE occurrence=3\n");
  const CliRun r = Run("upgrade --device emulator:faulty.cfg --firmware fw.bin");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("F/W WritePage failure!!"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("*****"), std::string::npos);
  EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(Cli, ExtractHeaderAndInfo) {
  ASSERT_EQ(Run("upgrade --device emulator:nand.cfg --firmware fw.bin").status, 0);
  const CliRun info = Run("info --device emulator:nand.cfg");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("F/W Size=0x0100, 1BLK=0x00001000, 2BLK=0x01000000"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Ver:01.02.03  Product:MV-Demo Player\n"), std::string::npos) << info.out;

  const CliRun extract = Run("extract --device emulator:nand.cfg --firmware fw.bin --output back.bin");
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(test::ReadFile(dir + "/back.bin").size(), 16u * 512);

  const CliRun header = Run("header --font-list fonts.tab --report mem.h");
  EXPECT_EQ(header.status, 0) << header.err;
  EXPECT_NE(test::ReadFile(dir + "/mem.h").find("#define A_NUM\t0x0006\r\n"), std::string::npos);
}

}  // namespace
}  // namespace romsetter
