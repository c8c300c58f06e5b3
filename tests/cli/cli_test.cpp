// romsetter-cli run as a process, as a script would.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "base/format.h"
#include "base/text.h"
#include "package/sample_images.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using test::CliRun;
using test::JsonLines;

constexpr const char* kNand =
    "[device]\nfirmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n"
    "flash_file nand.flash\n";

// Every test runs twice: over the emulated pass-through, and with the emulated device behind
// the SG_IO transport (emulator-sgio:), whose runs must look the same.
class Cli : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir = test::ScratchForCurrentTest("cli");
    Save("fw.bin", BalancedImage(16, 21));
    Save("A.FNT", PatternBytes(3000, 22));
    test::WriteFile(dir + "/fonts.tab", "A.FNT\r\n");
    test::WriteFile(dir + "/nand.cfg", kNand);
  }
  void Save(const std::string& name, const std::vector<std::uint8_t>& data) {
    test::WriteFile(dir + "/" + name, std::string(data.begin(), data.end()));
  }
  CliRun Run(std::string args) {
    // ASPI runs stay as they are: SG_IO is the other transport family's.
    if (GetParam() && args.find("--aspi") == std::string::npos) args = ReplaceAll(args, "emulator:", "emulator-sgio:");
    return test::RunCli(dir, args);
  }
  std::string dir;
};

TEST_P(Cli, FullEmulatedUpgradePrintsTheLogLinesAndTheDeviceKeepsWhatWasWritten) {
  const CliRun r = Run("upgrade --device emulator:nand.cfg --firmware fw.bin --backup --font-list fonts.tab");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" ***** F/W, BackUp F/W and Font Upgrade successfully!!\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "Successful: Please Unplug the Device first!\n");
  // Standard output carries the log file's lines exactly.
  std::string unixLog;
  for (char c : test::ReadFile(dir + "/Romsetter.log")) {
    if (c != '\r') unixLog += c;
  }
  EXPECT_EQ(r.out, unixLog);
  EXPECT_TRUE(test::FileExists(dir + "/fonts.h"));

  // The emulated flash outlived the run: what extract reads back is the image.
  const CliRun extract = Run("extract --device emulator:nand.cfg --firmware fw.bin --output back.bin");
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(test::ReadFile(dir + "/back.bin"), test::ReadFile(dir + "/fw.bin"));
}

// Each exit status through the real binary, with the line that explains it.
TEST_P(Cli, ExitStatusesMeanWhatTheySay) {
  test::WriteFile(dir + "/unplugged.cfg", "[device]\nattached no\n");
  test::WriteFile(dir + "/faulty.cfg", "[device]\nfirmware 0x0100 0x1000 0x01000000\n"
                                       "fault not_delivered UPT_WRITE_PAGE occurrence=3\n");
  test::WriteFile(dir + "/none.cfg", "adapters 0\n[device]\n");
  test::WriteFile(dir + "/noproduct.cfg", "[device]\nfault bad_status DEV_GET_PRODUCT\n");
  test::WriteFile(dir + "/second.cfg", "[device]\ninquiry \"Other\"\n[device 0 1]\nflash_file none/x.flash\n");
  std::filesystem::create_directory(dir + "/folder");
  Save("bad.bin", std::vector<std::uint8_t>(513, 1));
  const struct {
    const char* args;
    int status;
    const char* said;  // in standard output or error
  } cases[] = {
      {"upgrade --device emulator:nand.cfg --format", 0, "Successful: Please Unplug the Device first!"},
      // A dry run plans and writes nothing: the extraction below still reads erased pages.
      {"upgrade --dry-run --device emulator:nand.cfg --firmware fw.bin --backup", 0,
       "Plan: Backup: 0x0010 pages to Backup_1 at"},
      {"upgrade --dry-run --json --device emulator:nand.cfg --firmware fw.bin", 0, "\"step\":\"F/W\",\"type\":\"plan\""},
      {"upgrade --dry-run --device emulator:unplugged.cfg --firmware fw.bin", 2, "please check the connection!"},
      {"upgrade --device emulator:nand.cfg --firmware nothere.bin", 1,
       "romsetter-cli: --firmware nothere.bin: no such file\nsee romsetter-cli upgrade --help\n"},
      {"info --device emulator:nand.cfg --bogus", 1, "--bogus\nsee romsetter-cli info --help\n"},
      {"upgrade --device emulator:nand.cfg --firmware folder", 1, "--firmware folder: a folder, not a file"},
      {"upgrade --device emulator:nand.cfg --firmware", 1, "--firmware"},
      {"upgrade --device emulator:nand.cfg --firmware ''", 1, "needs a value"},
      {"upgrade --device emulator:nand.cfg --boot fw.bin", 1, "--boot needs --nor"},
      {"upgrade --device emulator:nand.cfg", 1, "nothing to do"},
      {"", 1, "usage:"},
      {"upgrade --device emulator:nand.cfg --firmware bad.bin", 1, "The Size of the FW file is not correct!"},
      {"upgrade --device emulator:nand.cfg --format --backup", 1, "--backup needs --firmware"},
      {"upgrade --aspi --device emulator:none.cfg --format", 2, "F/W Upgrade: No ASPI for WIN32 support detected."},
      {"upgrade --device emulator:unplugged.cfg --format", 2, "The device opened failure!!,please check the connection!"},
      // An absent device when the firmware's flash type is probed is missing, not refused.
      {"upgrade --device emulator:unplugged.cfg --firmware fw.bin", 2, "please check the connection!"},
      {"upgrade --aspi --device emulator:unplugged.cfg --firmware fw.bin", 2, "Device opened Failure!!"},
      // Every device of the scenario answers the scan; the device got it all, its flash file was not kept.
      {"upgrade --aspi --device emulator:second.cfg --format", 4, "cannot create the emulated flash file"},
      {"upgrade --device emulator:faulty.cfg --firmware fw.bin", 3, "F/W WritePage failure!!"},
      {"extract --device emulator:nand.cfg --firmware fw.bin --output missing/back.bin", 4,
       "The Output BIN file missing/back.bin can't be opened."},
      // info promises the version and the product: without them it fails.
      {"info --device emulator:noproduct.cfg", 3, "Checking product is not supported"},
      {"info --aspi --device emulator:noproduct.cfg", 3, "Ver:01.02.03"},
      {"info --device emulator:nand.cfg", 0, "Ver:01.02.03  Product:MV-Demo Player"},
      {"info --device emulator:unplugged.cfg", 2, "The device opened failure!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    // A refused command line runs nothing at all.
    if (std::string(c.said).find("romsetter-cli") != std::string::npos) {
      EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // A refusal of a command names where to read more; only no command at all shows every usage.
    if (r.status == 1 && std::string(c.args).find("--device") != std::string::npos) {
      EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
    }
  }
  // No refusal wrote to the device the first run formatted.
  ASSERT_EQ(Run("extract --device emulator:nand.cfg --firmware fw.bin --output after.bin").status, 0);
  EXPECT_EQ(test::ReadFile(dir + "/after.bin"), std::string(16 * 512, '\xFF'));
}

TEST_P(Cli, SettingsSurviveARunAndBadSettingsFilesAreRefused) {
  std::filesystem::create_directory(dir + "/settings");
  const std::string ini = dir + "/settings/Romsetter.ini";
  // Written once by a run, so the file holds every key as the program writes it.
  ASSERT_EQ(Run("upgrade --device emulator:nand.cfg --format --settings settings").status, 0);
  std::string before = test::ReadFile(ini);
  const std::size_t at = before.find("FW_Version=");
  ASSERT_NE(at, std::string::npos) << before;
  before.insert(at + 11, "2.05");
  test::WriteFile(ini, before);
  EXPECT_EQ(Run("upgrade --device emulator:nand.cfg --firmware fw.bin --settings settings").status, 0);
  EXPECT_EQ(test::ReadFile(ini), before);

  for (const std::string& bad : {std::string("[Romsetter]\nFW_Version=") + std::string(5000, 'x') + "\n",
                                 std::string("[Romsetter]\nFW_Version=\x01\x02\n", 25)}) {
    test::WriteFile(ini, bad);
    const CliRun r = Run("upgrade --device emulator:nand.cfg --firmware fw.bin --settings settings");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("romsetter-cli: settings file ", 0), 0u) << r.err;
    EXPECT_EQ(test::ReadFile(ini), bad);  // a file we cannot read is never overwritten
  }
  std::filesystem::remove(ini);
  std::filesystem::create_directory(ini);  // cannot be read as a file
  const CliRun unreadable = Run("upgrade --device emulator:nand.cfg --format --settings settings");
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_NE(unreadable.err.find("cannot be read"), std::string::npos) << unreadable.err;
}

TEST_P(Cli, JsonLinesCarryEveryLineBoxProgressAndTheResult) {
  // One page reads back wrong once: it is marked, written again and verified.
  test::WriteFile(dir + "/nand.cfg", std::string(kNand) + "fault corrupt_once UPT_READ_PAGE page=0x1002\n");
  const CliRun ok = Run("upgrade --json --device emulator:nand.cfg --firmware fw.bin --backup");
  EXPECT_EQ(ok.status, 0) << ok.out;
  const auto lines = JsonLines(ok.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front()["type"], "log");
  EXPECT_EQ(lines.front()["number"], 1);
  std::set<std::string> copies;
  for (const auto& l : lines) {
    if (l["type"] == "progress") copies.insert(l["copy"].get<std::string>());
  }
  EXPECT_EQ(copies, (std::set<std::string>{"F/W", "Backup_1", "Backup_2"}));
  EXPECT_EQ(lines[lines.size() - 2], (nlohmann::json{{"type", "message"},
                                                     {"caption", "Successful"},
                                                     {"text", "Please Unplug the Device first!"}}));
  const nlohmann::json& result = lines.back();
  EXPECT_EQ(result["type"], "result");
  EXPECT_EQ(result["outcome"], "success");
  EXPECT_EQ(result["exit"], 0);
  EXPECT_EQ(result["pages"], (nlohmann::json{{"written", 49}, {"verified", 48}, {"remapped", 1}}));
  EXPECT_TRUE(ok.err.empty()) << ok.err;

  test::WriteFile(dir + "/faulty.cfg", "[device]\nfirmware 0x0100 0x1000 0x01000000\n"
                                       "fault not_delivered UPT_WRITE_PAGE occurrence=3\n");
  const CliRun failed = Run("upgrade --json --device emulator:faulty.cfg --firmware fw.bin");
  EXPECT_EQ(failed.status, 3);
  const auto failedLines = JsonLines(failed.out);
  EXPECT_EQ(failedLines.back()["outcome"], "device-failure");
  EXPECT_EQ(failedLines.back()["pages"]["written"], 2);

  // A refused command line answers in JSON too.  A name that is not UTF-8 (an overlong pair,
  // a code past U+10FFFF) travels as ISO 8859-1; one that is (the lowest and highest two- and
  // four-byte forms) as it is.
  const struct {
    const char* printf;  // the name, as printf spells it
    const char* text;    // the name in the JSON line
    bool latin1;
  } names[] = {
      {"\\301\\251", "\xc3\x81\xc2\xa9", true},
      {"\\364\\220\\200\\200", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80", true},
      {"\\302\\200\\337\\277\\360\\220\\200\\200\\364\\217\\277\\277",
       "\xc2\x80\xdf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", false},
  };
  for (const auto& name : names) {
    const CliRun refused =
        Run(Format("upgrade --json --device emulator:nand.cfg --firmware \"$(printf '%s.bin')\"", name.printf));
    EXPECT_EQ(refused.status, 1) << name.printf;
    const auto refusedLines = JsonLines(refused.out);
    ASSERT_EQ(refusedLines.size(), 2u) << refused.out << refused.err;
    EXPECT_EQ(refusedLines[0]["type"], "error");
    EXPECT_EQ(refusedLines[0]["text"], std::string("--firmware ") + name.text + ".bin: no such file");
    EXPECT_EQ(refusedLines[0].value("latin1", false), name.latin1) << name.printf;
    EXPECT_EQ(refusedLines[1]["outcome"], "refused");
  }
}

TEST_P(Cli, HelpVersionHeaderAndInfo) {
  for (const char* args : {"--help", "-h", "upgrade --help", "extract -h"}) {
    const CliRun r = Run(args);
    EXPECT_EQ(r.status, 0) << args;
    const bool command = args[0] != '-';
    EXPECT_NE(r.out.find(command ? "--device" : "upgrade"), std::string::npos) << args << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
  EXPECT_NE(Run("upgrade --help").out.find("--backup"), std::string::npos);
  const CliRun version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("romsetter-cli ", 0), 0u) << version.out;

  // The default header sits beside the list; only the list's own name loses ".tab".
  std::filesystem::create_directory(dir + "/my.tables");
  test::WriteFile(dir + "/my.tables/fonts.tab", "A.FNT\r\n");
  const CliRun header = Run("header --font-list my.tables/fonts.tab --report my.tables/fonts.h");
  EXPECT_EQ(header.status, 0) << header.err;
  EXPECT_NE(header.out.find("wrote my.tables/"), std::string::npos) << header.out;
  EXPECT_NE(test::ReadFile(dir + "/my.tables/fonts.h").find("#define A_NUM\t0x0006\r\n"), std::string::npos);
  std::filesystem::remove(dir + "/my.tables/fonts.h");
  EXPECT_EQ(Run("upgrade --device emulator:nand.cfg --font-list my.tables/fonts.tab").status, 0);
  EXPECT_TRUE(test::FileExists(dir + "/my.tables/fonts.h"));

  const CliRun info = Run("info --device emulator:nand.cfg");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("F/W Size=0x0100, 1BLK=0x00001000, 2BLK=0x01000000"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Ver:01.02.03  Product:MV-Demo Player\n"), std::string::npos) << info.out;

  test::WriteFile(dir + "/broken.cfg", "[device]\nfirmware 12\n");
  const CliRun broken = Run("info --device emulator:broken.cfg");
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("broken.cfg:2"), std::string::npos) << broken.err;
}

// A package made here opens and upgrades as the package itself would: its own images and
// settings, the "FontData" line, no header and no settings file touched.
TEST_P(Cli, PackUnpackAndUpgradeFromAPackage) {
  Save("small.bin", BalancedImage(8, 23));
  Save("prog.exe", PatternBytes(3000, 24));
  const CliRun pack = Run("pack --program prog.exe --firmware fw.bin --small-firmware small.bin --font-list fonts.tab "
                          "--backup --fw-version 3.1");
  ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
  EXPECT_NE(pack.out.find("fw_fonts.exe\n"), std::string::npos) << pack.out;

  std::filesystem::create_directory(dir + "/out");
  const CliRun unpack = Run("unpack fw_fonts.exe --output-dir out");
  EXPECT_EQ(unpack.status, 0) << unpack.err;
  EXPECT_NE(unpack.out.find("FW_Version=3.1\n"), std::string::npos) << unpack.out;
  EXPECT_EQ(test::ReadFile(dir + "/out/MV_Big.bin"), test::ReadFile(dir + "/fw.bin"));
  EXPECT_EQ(test::ReadFile(dir + "/out/MV_Small.bin"), test::ReadFile(dir + "/small.bin"));

  std::remove((dir + "/fonts.h").c_str());
  std::filesystem::create_directory(dir + "/settings");
  for (const char* transport : {"", "--aspi "}) {
    const CliRun r = Run(std::string("upgrade ") + transport + "--package fw_fonts.exe --device emulator:nand.cfg "
                         "--settings settings");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Loaded elapsed 0 seconds for FontData:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ***** F/W, BackUp F/W and Font Upgrade successfully!!"), std::string::npos);
  }
  EXPECT_FALSE(test::FileExists(dir + "/fonts.h"));
  EXPECT_FALSE(test::FileExists(dir + "/settings/Romsetter.ini"));

  // A package cut short is damaged: nothing runs.
  const std::string whole = test::ReadFile(dir + "/fw_fonts.exe");
  test::WriteFile(dir + "/cut.exe", whole.substr(0, whole.size() - 1));
  const CliRun cut = Run("upgrade --package cut.exe --device emulator:nand.cfg");
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("The package is damaged: "), std::string::npos) << cut.err;
  EXPECT_TRUE(cut.out.empty()) << cut.out;
}

// A package changed anywhere is refused before the device is touched, one built before the
// whole file was checked still upgrades, and unpack says which file it could not write.
TEST_P(Cli, ChangedPackagesAndUnwrittenFilesSayWhatHappened) {
  Save("small.bin", BalancedImage(8, 23));
  Save("prog.exe", PatternBytes(3000, 24));
  ASSERT_EQ(Run("pack --program prog.exe --firmware fw.bin --small-firmware small.bin --font-list fonts.tab --backup")
                .status, 0);
  const std::string good = test::ReadFile(dir + "/fw_fonts.exe");
  auto changed = [&](const char* name, std::size_t at, char to) {
    std::string b = good;
    b[at] = to;
    test::WriteFile(dir + "/" + name, b);
  };
  changed("settings.exe", good.find("Chk_Backup=1") + 11, '0');
  changed("payload.exe", 3000 + 5, static_cast<char>(good[3005] ^ 1));
  changed("trailer.exe", good.size() - 21, 'X');
  std::filesystem::create_directories(dir + "/full");
  std::filesystem::create_directories(dir + "/folder/MV_Big.bin");
  std::filesystem::create_directories(dir + "/copy/MV.out");
  std::filesystem::create_symlink("/dev/full", dir + "/full/MV_Font.dat");
  test::WriteFile(dir + "/old.exe", test::ReadFile(ROMSETTER_SOURCE_DIR "/tests/package/data/payload-crc-package.exe"));
  const struct {
    const char* args;
    int status;
    const char* err;  // in standard error; standard output holds `out`
    const char* out;
  } cases[] = {
      {"upgrade --package settings.exe --device emulator:nand.cfg", 1, "damaged: the package checksum is 0x", ""},
      {"upgrade --package payload.exe --device emulator:nand.cfg", 1, "damaged: the payload checksum is 0x", ""},
      {"upgrade --package trailer.exe --device emulator:nand.cfg", 1, "damaged: the package checksum is 0x", ""},
      {"upgrade --package old.exe --device emulator:nand.cfg", 0, "Successful: ", "Upgrade successfully!!"},
      {"upgrade --package prog.exe --device emulator:nand.cfg", 1, "prog.exe is a plain program", ""},
      {"unpack settings.exe --output-dir out", 1, "damaged: the package checksum is 0x", ""},
      {"unpack fw_fonts.exe --output-dir folder", 4, "Writing folder/MV_Big.bin failed.", "Is a directory"},
      {"unpack fw_fonts.exe --output-dir full", 4, "Writing full/MV_Font.dat failed.", "No space left on device"},
      {"unpack fw_fonts.exe --output-dir copy", 1, "Copy \"fw_fonts.exe\" to \"copy/MV.out\" ERROR!!",
       "Is a directory"},
      {"unpack fw_fonts.exe --output-dir made", 0, "", "FlashType=NAND"},
      {"unpack prog.exe --output-dir not-made", 1, "prog.exe is a plain program", ""},
      {"unpack fw_fonts.exe --output-dir no/parent", 4, "--output-dir no/parent: the folder cannot be made", ""},
      {"pack --program fw_fonts.exe --firmware fw.bin --small-firmware small.bin", 1, "is a package itself", ""},
      {"pack --program payload.exe --firmware fw.bin --small-firmware small.bin", 1, "is a damaged package", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("is a plain program") != std::string::npos, std::string(c.err).find("is a plain") != std::string::npos)
        << r.err;
    if (std::string(c.args).rfind("upgrade", 0) == 0 && c.status != 0) {
      EXPECT_EQ(r.out, "");  // not one line: the device was never asked
    } else {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
  }
  EXPECT_EQ(test::ReadFile(dir + "/made/MV_Small.bin"), test::ReadFile(dir + "/small.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/not-made"));  // nothing unpacked: the folder goes again
  EXPECT_FALSE(std::filesystem::exists(dir + "/no"));
}

// No output of a run may be a special file, an input or another output, in any spelling:
// each is refused before anything is written, and the file is left as it was.
TEST_P(Cli, OutputsNeverClobberInputsOrSpecialFiles) {
  // A socket (through a link: socket paths are short): special, and unlike a pipe it never
  // blocks a run that would open it.
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = Format("/tmp/romsetter-cli-test-%d.sock", static_cast<int>(getpid()));
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  std::remove(socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(sock);
  std::filesystem::create_symlink(socketPath, dir + "/sock");
  std::filesystem::create_symlink("fw.bin", dir + "/link.bin");
  test::WriteFile(dir + "/alias.cfg", "[device]\nflash_file one.flash\n[device 0 1]\nflash_file ./one.flash\n");
  const std::string fw = test::ReadFile(dir + "/fw.bin");
  const struct {
    const char* args;
    const char* said;
  } cases[] = {
      {"upgrade --device emulator:nand.cfg --format --log ./sock", "--log ./sock: a device, pipe or socket, not a regular file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --record sock", "--record sock: a device"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --record ./fw.bin",
       "--record ./fw.bin: the same file as --firmware fw.bin, which is read"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --log fw.bin", "--log fw.bin: the same file as --firmware"},
      {"extract --device emulator:nand.cfg --firmware fw.bin --output link.bin",
       "--output link.bin: the same file as --firmware fw.bin"},
      {"upgrade --device emulator:nand.cfg --font-list fonts.tab --log ./fonts.h", "--report fonts.h: the same file as --log"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --log x.log --record ./x.log",
       "--record ./x.log: the same file as --log x.log, which is written too"},
      {"upgrade --device emulator:nand.cfg --format --log nand.cfg", "the same file as --device nand.cfg"},
      {"upgrade --device emulator:nand.cfg --format --log ./nand.flash", "the flash_file of nand.cfg:"},
      {"upgrade --device emulator:nand.cfg --format --record ./nand.flash", "the flash_file of nand.cfg:"},
      {"upgrade --device emulator:alias.cfg --format", "flash file './one.flash' is already used"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(test::ReadFile(dir + "/fw.bin"), fw);
  EXPECT_EQ(test::ReadFile(dir + "/nand.cfg"), kNand);
  EXPECT_FALSE(test::FileExists(dir + "/nand.flash"));
  struct stat info {};
  ASSERT_EQ(stat((dir + "/sock").c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  std::remove(socketPath.c_str());
}

// A reader that goes away ends no job: the upgrade finishes, its log is whole, the flash is
// kept and the exit status is the device's.
TEST_P(Cli, AClosedOutputPipeEndsNoJob) {
  for (const char* json : {"", " --json"}) {
    SCOPED_TRACE(json);
    std::string args = std::string("upgrade --device emulator:nand.cfg --firmware fw.bin") + json;
    if (GetParam()) args = ReplaceAll(args, "emulator:", "emulator-sgio:");
    EXPECT_EQ(test::RunCliIntoClosedPipe(dir, args), 0);
    EXPECT_NE(test::ReadFile(dir + "/Romsetter.log").find(" ***** F/W Upgrade successfully!!\r\n"), std::string::npos);
    const CliRun back = Run("extract --device emulator:nand.cfg --firmware fw.bin --output back.bin");
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(test::ReadFile(dir + "/back.bin"), test::ReadFile(dir + "/fw.bin"));
    std::filesystem::remove(dir + "/nand.flash");
  }
}

// Two package runs started together in one folder each flash their own package's firmware:
// neither sees the other's working copies.
TEST(CliPackages, TwoRunsAtOnceInOneFolderKeepTheirOwnPackage) {
  const std::string dir = test::ScratchForCurrentTest("cli");
  std::string packages[2];
  for (int i = 0; i < 2; ++i) {
    const std::string folder = dir + Format("/p%d", i);
    std::filesystem::create_directories(folder);
    const std::vector<std::uint8_t> big = BalancedImage(16, 40 + i), small = BalancedImage(8, 50 + i);
    test::WriteFile(folder + "/fw.bin", std::string(big.begin(), big.end()));
    test::WriteFile(folder + "/small.bin", std::string(small.begin(), small.end()));
    test::WriteFile(dir + Format("/d%d.cfg", i), Format("[device]\nfirmware 0x0100 0x1000 0x01000000\nflash_file d%d.flash\n", i));
    const CliRun pack = test::RunCli(dir, Format("pack --program d0.cfg --firmware p%d/fw.bin --small-firmware p%d/small.bin", i, i));
    ASSERT_EQ(pack.status, 0) << pack.err;
    const std::size_t last = pack.out.find_last_of('\n', pack.out.size() - 2);
    packages[i] = pack.out.substr(last + 1, pack.out.size() - last - 2);  // the path is the last line
  }
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    const std::string both = "cd '" + dir + "' && ('" ROMSETTER_CLI "' upgrade --package " + packages[0] +
                             " --device emulator:d0.cfg --log l0.log >o0.txt 2>&1 & '" ROMSETTER_CLI "' upgrade --package " +
                             packages[1] + " --device emulator:d1.cfg --log l1.log >o1.txt 2>&1 & wait)";
    ASSERT_EQ(std::system(both.c_str()), 0);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(test::ReadFile(dir + Format("/l%d.log", i)).find("successfully!!"), std::string::npos);
      const CliRun back = test::RunCli(dir, Format("extract --device emulator:d%d.cfg --firmware p%d/fw.bin --output b.bin", i, i));
      ASSERT_EQ(back.status, 0) << back.err;
      ASSERT_TRUE(test::ReadFile(dir + "/b.bin") == test::ReadFile(dir + Format("/p%d/fw.bin", i))) << "device " << i;
    }
  }
  EXPECT_FALSE(test::FileExists(dir + "/MV.out"));
  EXPECT_FALSE(test::FileExists(dir + "/MV.ini"));
}

#ifndef _WIN32
TEST_P(Cli, LinuxDevicesAreNamedByNodeOrFoundAndRefusedWhenTheyCannotBeUsed) {
  if (GetParam()) GTEST_SKIP() << "no emulator here";
  test::WriteFile(dir + "/sg-file", "");
  const struct { const char* args; int status; const char* text; } cases[] = {
      // An unplugged device is what takes its node away: no device, for every command.
      {"upgrade --device /dev/no-such-sg --format", 2, "--device /dev/no-such-sg: no such device node"},
      {"info --device /dev/no-such-sg", 2, "--device /dev/no-such-sg: no such device node"},
      {"extract --device /dev/no-such-sg --output o.bin", 2, "--device /dev/no-such-sg: no such device node"},
      {"upgrade --device auto --aspi --format", 1, "--aspi reaches ASPI only on Windows"},
      {"upgrade --device emulator-sgio:nand.cfg --aspi --format", 1, "--aspi and emulator-sgio: name two transports"},
      {"upgrade --device something:nand.cfg --format", 1, "only emulator:CONFIG, emulator-sgio:CONFIG, replay:FILE, a node and auto"},
      {"upgrade --device E: --format", 1, "--device E:: drive letters and aspi:A:T name Windows devices"},
      {"upgrade --device aspi:0:1 --format", 1, "--device aspi:0:1: drive letters and aspi:A:T name Windows devices"},
      {"upgrade --device auto --device /dev/null --format", 1, "--device auto with other devices: name each real device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
  }
  // The same failure carries the errno of SG_IO (EIO) where the emulated pass-through has
  // its system error (ERROR_GEN_FAILURE).
  test::WriteFile(dir + "/lost.cfg", "[device]\nfault not_delivered UPT_FW_GET_SIZE\n");
  EXPECT_NE(Run("info --device emulator:lost.cfg").out.find("PrintError.ErrorCode=31"), std::string::npos);
  const CliRun lost = Run("info --device emulator-sgio:lost.cfg");
  EXPECT_EQ(lost.status, 3);
  EXPECT_NE(lost.out.find("PrintError.ErrorCode=5\n"), std::string::npos) << lost.out;
  // A node given by hand is opened as given; an ordinary file takes no SG_IO, so the device fails.
  const CliRun file = Run("upgrade --device " + dir + "/sg-file --format");
  EXPECT_EQ(file.status, 3) << file.err;
  EXPECT_NE(file.out.find("Use " + dir + "/sg-file as given."), std::string::npos) << file.out;
  EXPECT_NE(file.out.find("\"" + dir + "/sg-file\" is got for InDisk!!"), std::string::npos) << file.out;

  // Another program holding the node: busy, no device, nothing sent.
  const int held = open((dir + "/sg-file").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const CliRun busy = Run("upgrade --device " + dir + "/sg-file --format");
  close(held);
  EXPECT_EQ(busy.status, 2) << busy.err;
  EXPECT_NE(busy.out.find(dir + "/sg-file is busy: another program"), std::string::npos) << busy.out;
  // One node in two spellings is one device.
  const CliRun twice = Run("upgrade --device /dev/null --device //dev/./null --format");
  EXPECT_EQ(twice.status, 1);
  EXPECT_NE(twice.err.find("--device //dev/./null is named twice (as /dev/null)"), std::string::npos) << twice.err;
}
#endif

INSTANTIATE_TEST_SUITE_P(Transports, Cli, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "SgIo" : "PassThrough"; });

}  // namespace
}  // namespace romsetter
