// romsetter-cli: its command lines parsed in this process (one parser reading many must read
// each as if it were the first), and the program run as a process, as a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "base/format.h"
#include "device/recording.h"
#include "package/sample_images.h"
#include "cli/cli_run.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using test::CliRun;

struct Parsed {
  CliParse parse;
  CliOptions options;
  std::string error;
};

Parsed ParseWith(CliParser& parser, std::vector<std::string> args) {
  args.insert(args.begin(), "romsetter-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Parsed p;
  std::string printed;
  p.parse = parser.Parse(static_cast<int>(args.size()), argv.data(), p.options, p.error, printed);
  return p;
}

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The working folder for one scope: the command line names files as a user in it would.
class InFolder {
 public:
  explicit InFolder(const std::string& dir) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InFolder() { std::filesystem::current_path(before_); }

 private:
  std::filesystem::path before_;
};

// Every command line refused before anything runs, with the one line that says why; parsed
// in this process (the exit statuses of refusals are the process tests' and transcripts').
// One parser reads them all, round after round past the point where it makes its tables
// afresh: each line must read as if it were the first (an option of the line before, kept,
// would change the next line's reason).
TEST(CliRefusals, EachLineIsRefusedWithItsReason) {
  const std::string dir = test::ScratchForCurrentTest("refusals");
  for (const char* file : {"fw.bin", "fonts.tab", "fonts.h", "nand.cfg", "a/nand.cfg", "b/nand.cfg"}) {
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + file).parent_path());
    test::WriteFile(dir + "/" + file, "x");
  }
  test::WriteFile(dir + "/r.jsonl", "");
  test::WriteFile(dir + "/tray.cfg", "[device 0 0]\n[device 0 1]\n[device 0 2]\n");
  std::filesystem::create_directory(dir + "/folder");
  std::filesystem::create_symlink("fw.bin", dir + "/link.bin");
  // A special file that never blocks, reached through a link.
  std::filesystem::create_symlink("/dev/null", dir + "/null");
  const InFolder here(dir);

  // tests/cli/refusals.txt: a command line | its exit status | its refusal line.
  const std::vector<std::vector<std::string>> rows = test::ReadTable("cli/refusals.txt");
  ASSERT_GT(rows.size(), 40u);
  CliParser parser;
  for (std::size_t parse = 0; parse < 25 * rows.size(); ++parse) {
    const std::vector<std::string>& row = rows[parse % rows.size()];
    ASSERT_EQ(row.size(), 3u) << row[0];
    SCOPED_TRACE(row[0]);
    Parsed p = ParseWith(parser, Split(row[0]));
    EXPECT_EQ(p.parse, CliParse::Refused);
    EXPECT_EQ(p.error, row[2]);
    EXPECT_EQ(p.options.refusalStatus, std::stoi(row[1]));
  }
}

// The default header sits beside the list; only the list's own name loses ".tab".
TEST(CliDefaults, TheReportIsNamedAfterTheListInItsFolder) {
  EXPECT_EQ(DefaultReportPath("my.tables/fonts.tab"), "my.tables/fonts.h");
  EXPECT_EQ(DefaultReportPath("x.tab\\FONTS.TAB"), "x.tab\\FONTS.H");
  EXPECT_EQ(DefaultReportPath("my.tab/fonts.h"), "my.tab/fonts.h.h");
}

constexpr const char* kNand =
    "[device]\nfirmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n"
    "flash_file nand.flash\n";

// What only a process shows, or a transcript cannot read: files left behind, the settings
// file, packages, a closed pipe, two processes at once.  The families' runs are transcripts.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::ScratchForCurrentTest("cli");
    test::WriteSampleInputs(dir);
    test::WriteFile(dir + "/nand.cfg", kNand);
  }
  CliRun Run(const std::string& args) { return test::RunCli(dir, args); }
  std::string dir;
};

TEST_F(Cli, SettingsSurviveARunAndBadSettingsFilesAreRefused) {
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

// A package unpacks to the very images and upgrades without writing a header or a settings
// file (its lines are tests/transcripts/packages); a damaged one is refused before the device
// is touched (which damage a file has is the package suite's), and unpack says which file it
// could not write (what it cannot make, or a package given as the program to pack, are lines
// of that transcript; the runs are tests/cli/packages.txt).
TEST_F(Cli, PackagesUnpackUpgradeOrSayWhatHappened) {
  ASSERT_EQ(Run("pack --program prog.exe --firmware fw.bin --small-firmware small.bin --font-list fonts.tab --backup")
                .status, 0);
  const std::string good = test::ReadFile(dir + "/fw_fonts.exe");
  std::remove((dir + "/fonts.h").c_str());
  std::filesystem::create_directory(dir + "/settings");
  EXPECT_EQ(Run("upgrade --package fw_fonts.exe --device emulator:nand.cfg --settings settings").status, 0);
  EXPECT_FALSE(test::FileExists(dir + "/fonts.h"));
  EXPECT_FALSE(test::FileExists(dir + "/settings/Romsetter.ini"));
  std::string changed = good;
  changed[good.find("Chk_Backup=1") + 11] = '0';
  test::WriteFile(dir + "/settings.exe", changed);
  std::filesystem::create_directories(dir + "/full");
  std::filesystem::create_directories(dir + "/folder/MV_Big.bin");
  std::filesystem::create_directories(dir + "/copy/MV.out");
  std::filesystem::create_symlink("/dev/full", dir + "/full/MV_Font.dat");
  for (std::vector<std::string> c : test::ReadTable("cli/packages.txt")) {
    ASSERT_EQ(c.size(), 4u) << c[0];
    for (std::string& field : c) field = field == "-" ? "" : field;
    SCOPED_TRACE(c[0]);
    const CliRun r = Run(c[0]);
    EXPECT_EQ(r.status, std::stoi(c[1])) << r.out << r.err;
    EXPECT_NE(r.err.find(c[2]), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("is a plain program") != std::string::npos, c[2].find("is a plain") != std::string::npos)
        << r.err;
    if (c[0].rfind("upgrade", 0) == 0 && c[1] != "0") {
      EXPECT_EQ(r.out, "");  // not one line: the device was never asked
    } else {
      EXPECT_NE(r.out.find(c[3]), std::string::npos) << r.out;
    }
  }
  EXPECT_EQ(test::ReadFile(dir + "/made/MV_Small.bin"), test::ReadFile(dir + "/small.bin"));
  EXPECT_EQ(test::ReadFile(dir + "/made/MV_Big.bin"), test::ReadFile(dir + "/fw.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/not-made"));  // nothing unpacked: the folder goes again
}

// A reader that goes away ends no job: the upgrade finishes, its log is whole, the flash is
// kept and the exit status is the device's (over each family that keeps a flash file).
TEST_F(Cli, AClosedOutputPipeEndsNoJob) {
  for (const char* args : {"upgrade --device emulator:nand.cfg --firmware fw.bin",
                           "upgrade --device emulator-sgio:nand.cfg --firmware fw.bin --json"}) {
    SCOPED_TRACE(args);
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

// A recording keeps digests, never the images.  That a run recorded now replays to its log and
// verdict over each family is a transcript (tests/transcripts/cli-record-replay); where a
// replay parts from its recording is the emulator's tests' and tests/transcripts/replays.
TEST_F(Cli, ARecordingKeepsNoPageOfTheImages) {
  EXPECT_EQ(Run("upgrade --firmware fw.bin --device emulator:nand.cfg --record run.jsonl").status, 0);
  Recording recording;
  std::string error;
  ASSERT_TRUE(LoadRecording(dir + "/run.jsonl", recording, error)) << error;
  EXPECT_FALSE(recording.header.data);
  const std::vector<std::uint8_t> fw = BalancedImage(16, 21);
  EXPECT_EQ(test::ReadFile(dir + "/run.jsonl").find(HexBytes(fw.data() + 1024, 512)), std::string::npos);
}

// What several devices' runs log together and alone, a bad image checked before them, a dry
// run, --all and a second spelling of a scenario are transcripts (tests/transcripts/
// several-devices*, cli-several-*).  Naming the devices is the same over every family.  The
// tsan preset runs these tests under the thread sanitizer, where a race between jobs fails.

// One device, one file (spellings of one device are refused by tests/cli/refusals.txt):
// jobs whose names share a tag still log apart, and a device name that is not UTF-8 (though
// its first byte looks like a lead byte) reaches JSON as bytes.
TEST(SeveralDevices, NamesAreNotIdentities) {
  const std::string dir = test::ScratchForCurrentTest("several");
  for (const char* folder : {"a", "b", "\xc1\xa9"}) {
    std::filesystem::create_directories(dir + "/" + folder);
    test::WriteFile(dir + "/" + folder + "/nand.cfg", "[device]\n");
  }
  CliRun r = test::RunCli(dir, "upgrade --device emulator:a/nand.cfg --device emulator:b/nand.cfg --format --log run.log");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string first = test::Timeless(test::ReadFile(dir + "/run-nand-1.log"));
  EXPECT_EQ(first, test::Timeless(test::ReadFile(dir + "/run-nand-1-2.log")));
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 9) << first;  // one run's lines, not two

  r = test::RunCli(dir, "upgrade --device emulator:\xc1\xa9/nand.cfg --device emulator:a/nand.cfg --format --json");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<nlohmann::json> lines = test::JsonLines(r.out);
  ASSERT_FALSE(lines.empty());
  // 0xC1 0xA9 would be an overlong "i": not UTF-8, so its bytes are carried as U+00C1 U+00A9.
  const std::string odd = "emulator:\xc3\x81\xc2\xa9/nand.cfg#1";
  int carried = 0;
  for (const nlohmann::json& line : lines) {
    if (!line.contains("device") || line["device"] != odd) continue;
    EXPECT_EQ(line.value("latin1", false), true) << line.dump();
    ++carried;
  }
  EXPECT_GT(carried, 2);
  EXPECT_EQ(lines.back()["exit"], 0);
}

#ifndef _WIN32
// Another program holding a node given by hand: busy, no device, nothing sent (one opened as
// given is tests/transcripts/cli-node).
TEST_F(Cli, ABusyNodeIsNoDevice) {
  test::WriteFile(dir + "/sg-file", "");
  const int held = open((dir + "/sg-file").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const CliRun busy = Run("upgrade --device " + dir + "/sg-file --format");
  close(held);
  EXPECT_EQ(busy.status, 2) << busy.err;
  EXPECT_NE(busy.out.find(dir + "/sg-file is busy: another program"), std::string::npos) << busy.out;
}
#endif

}  // namespace
}  // namespace romsetter
