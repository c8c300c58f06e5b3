// romsetter-cli upgrading several devices at once, run as a process.  The tsan preset runs
// these under the thread sanitizer, where a data race between the jobs fails the run.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/format.h"
#include "base/text.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using test::CliRun;
using test::JsonLines;

// Three NAND devices, each keeping its flash: the first healthy, the second with a page that
// always reads back wrong, the third unplugged at its 40th page write.  What their runs log
// together and alone, a bad image checked before them, a dry run, and --all are transcripts
// (tests/transcripts/several-devices*, cli-several-dry-run).
std::string Tray() {
  const std::string regions = "firmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n";
  std::string text;
  for (int i = 1; i <= 3; ++i) {
    text += Format("[device 0 %d]\n", i - 1) + regions;
    text += Format("flash_file d%d.flash\n", i);
    if (i == 2) text += "fault bad_page UPT_READ_PAGE page=0x1003\n";
    if (i == 3) text += "fault detach UPT_WRITE_PAGE occurrence=40\n";
  }
  return text;
}

// Every test runs over the emulated pass-through and with the devices behind SG_IO.
class SeveralDevices : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir = test::ScratchForCurrentTest("several");
    test::WriteFile(dir + "/tray.cfg", Tray());
  }
  CliRun Run(std::string args) {
    if (GetParam() && args.find("--aspi") == std::string::npos) args = ReplaceAll(args, "emulator:", "emulator-sgio:");
    return test::RunCli(dir, args);
  }
  // A log with the seconds of its elapsed lines blanked: two runs may straddle a second.
  std::string Log(const std::string& name) { return test::Timeless(test::ReadFile(dir + "/" + name)); }
  std::string Kind() const { return GetParam() ? "emulator-sgio" : "emulator"; }
  std::string dir;
};

// One device, one file (spellings of one device are refused in tests/cli/cli_parser_test.cpp):
// a second spelling of a scenario is its devices, jobs whose names share a tag still log apart, and a device name that is not UTF-8 reaches JSON as bytes.
TEST_P(SeveralDevices, NamesAreNotIdentities) {
  std::filesystem::create_directories(dir + "/a");
  std::filesystem::create_directories(dir + "/b");
  std::filesystem::create_directories(dir + "/\xff");
  for (const char* folder : {"a", "b", "\xff"}) test::WriteFile(dir + "/" + folder + "/nand.cfg", "[device]\n");
  // The second spelling of the scenario is its devices, not a second copy whose flash files
  // would be saved over the first's.
  CliRun r = Run("upgrade --device emulator:tray.cfg#1 --device emulator:./tray.cfg#2 --format --log run.log");
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run("upgrade --device emulator:a/nand.cfg --device emulator:b/nand.cfg --format --log run.log");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string first = Log("run-nand-1.log");
  EXPECT_EQ(first, Log("run-nand-1-2.log"));
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 9) << first;  // one run's lines, not two

  r = Run("upgrade --device emulator:\xff/nand.cfg --device emulator:a/nand.cfg --format --json");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<nlohmann::json> lines = JsonLines(r.out);
  ASSERT_FALSE(lines.empty());
  const std::string odd = Kind() + ":\xc3\xbf/nand.cfg#1";  // the byte 0xFF carried as U+00FF
  int carried = 0;
  for (const nlohmann::json& line : lines) {
    if (!line.contains("device") || line["device"] != odd) continue;
    EXPECT_EQ(line.value("latin1", false), true) << line.dump();
    ++carried;
  }
  EXPECT_GT(carried, 2);
  EXPECT_EQ(lines.back()["exit"], 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, SeveralDevices, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "SgIo" : "PassThrough"; });

}  // namespace
}  // namespace romsetter
