// romsetter-cli upgrading several devices at once, run as a process.  The tsan preset runs
// these under the thread sanitizer, where a data race between the jobs fails the run.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
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

// Three NAND devices: the first healthy, the second with a page that always reads back
// wrong, the third unplugged at its 40th page write.
std::string Tray(bool flashFiles) {
  const std::string regions = "firmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n";
  std::string text;
  for (int i = 1; i <= 3; ++i) {
    text += Format("[device 0 %d]\n", i - 1) + regions;
    if (flashFiles) text += Format("flash_file d%d.flash\n", i);
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
    const std::vector<std::uint8_t> fw = BalancedImage(16, 31);
    test::WriteFile(dir + "/fw.bin", std::string(fw.begin(), fw.end()));
    test::WriteFile(dir + "/tray.cfg", Tray(true));
    test::WriteFile(dir + "/solo.cfg", Tray(false));
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

TEST_P(SeveralDevices, FaultsStayOnTheirOwnDeviceAndEachLogIsThatDevicesRunAlone) {
  const CliRun r = Run(
      "upgrade --device emulator:tray.cfg#1 --device emulator:tray.cfg#2 --device emulator:tray.cfg#3 "
      "--firmware fw.bin --backup --log run.log --json");
  // The worst outcome of the three.
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  std::map<std::string, std::string> outcome;
  for (const nlohmann::json& event : JsonLines(r.out)) {
    const std::string type = event.value("type", "");
    if (type == "result") {
      EXPECT_EQ(event["exit"], 3);
      continue;
    }
    ASSERT_TRUE(event.contains("device")) << event.dump();
    if (type == "device-result") outcome[event["device"]] = event["outcome"];
  }
  const std::string name = Kind() + ":tray.cfg#";
  EXPECT_EQ(outcome[name + "1"], "success");
  EXPECT_EQ(outcome[name + "2"], "device-failure");
  EXPECT_EQ(outcome[name + "3"], "device-failure");

  // Each device's log holds exactly what that device alone writes into a log of its own.
  for (int i = 1; i <= 3; ++i) {
    const CliRun alone = Run(Format("upgrade --device emulator:solo.cfg#%d --firmware fw.bin --backup --log alone.log", i));
    EXPECT_EQ(alone.status, i == 1 ? 0 : 3);
    EXPECT_EQ(Log(Format("run-tray-%d.log", i)), Log("alone.log")) << "device " << i;
  }
  // The checks made once before the devices keep their lines in the run's own log.
  EXPECT_NE(test::ReadFile(dir + "/run.log").find("OK!! the Big(Default) block FileSize=0x0010 BLKs"), std::string::npos);

  // The healthy device holds the image; the failures did not reach it.
  const CliRun back = Run("extract --device emulator:tray.cfg#1 --firmware fw.bin --output back.bin --log x.log");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(test::ReadFile(dir + "/back.bin"), test::ReadFile(dir + "/fw.bin"));
}

// A dry run of several devices plans each and writes to none: their flash files stay as they were.
TEST_P(SeveralDevices, DryRunPlansEveryDeviceAndWritesNone) {
  const std::string regions = "firmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\n";
  test::WriteFile(dir + "/two.cfg", "[device 0 0]\n" + regions + "flash_file t1.flash\n[device 0 1]\n" + regions +
                                        "flash_file t2.flash\n");
  std::vector<std::string> before;
  for (const char* device : {"#1", "#2"}) {
    ASSERT_EQ(Run(std::string("info --device emulator:two.cfg") + device).status, 0);
  }
  for (const char* flash : {"/t1.flash", "/t2.flash"}) before.push_back(test::ReadFile(dir + flash));
  const CliRun made = Run("upgrade --device emulator:two.cfg#1 --device emulator:two.cfg#2 --dry-run --json "
                          "--firmware fw.bin --backup --log run.log");
  ASSERT_EQ(made.status, 0) << made.out << made.err;
  int plans = 0;
  for (const auto& object : JsonLines(made.out)) plans += object["type"] == "plan";
  EXPECT_EQ(plans, 4);  // F/W and Backup for each device
  EXPECT_EQ(test::ReadFile(dir + "/t1.flash"), before[0]);
  EXPECT_EQ(test::ReadFile(dir + "/t2.flash"), before[1]);
  EXPECT_FALSE(before[0].empty());
}

TEST_P(SeveralDevices, AllTakesEveryMatchingDeviceAndNeedsYesWithoutATerminal) {
  const std::string device = "--device emulator:all.cfg --firmware fw.bin --log run.log";
  const std::string healthy = "firmware 0x0100 0x1000 0x01000000\n";
  const std::string other = "inquiry \"Generic USB Flash Disk  1.00\"\n";
  const std::string unplugged = healthy + "attached no\n";

  test::WriteFile(dir + "/all.cfg", "[device 0 0]\n" + other + "[device 0 1]\n" + unplugged);
  CliRun r = Run("upgrade --all --yes " + device);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("romsetter-cli: 0 devices match\n"), std::string::npos) << r.out;

  test::WriteFile(dir + "/all.cfg", "[device 0 0]\n" + other + "[device 0 1]\n" + healthy);
  r = Run("upgrade --all --yes " + device);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("romsetter-cli: 1 devices match\n" + Kind() + ":all.cfg#2\n"), std::string::npos) << r.out;
  EXPECT_TRUE(test::FileExists(dir + "/run-all-2.log"));
  EXPECT_FALSE(test::FileExists(dir + "/run-all-1.log"));

  test::WriteFile(dir + "/all.cfg", "[device 0 0]\n" + healthy + "[device 0 1]\n" + other + "[device 0 2]\n" +
                                        healthy + "[device 0 3]\n" + unplugged);
  // Listed, but without --yes and without a terminal to ask nothing is written.
  r = Run("upgrade --all --device emulator:all.cfg --firmware fw.bin --log none.log");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(Kind() + ":all.cfg#1\n" + Kind() + ":all.cfg#3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("give --yes"), std::string::npos) << r.err;
  EXPECT_FALSE(test::FileExists(dir + "/none-all-1.log"));

  r = Run("upgrade --all --yes " + device);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(test::FileExists(dir + "/run-all-1.log"));
  EXPECT_TRUE(test::FileExists(dir + "/run-all-3.log"));
  EXPECT_NE(r.out.find(" success "), std::string::npos) << r.out;  // the table
}

TEST_P(SeveralDevices, ImagesAreCheckedOnceBeforeAnyDevice) {
  std::string bad(512, '\0');
  bad[10] = '\x01';  // the checksum no longer adds up
  test::WriteFile(dir + "/bad.bin", bad);
  CliRun r = Run("upgrade --device emulator:tray.cfg#1 --device emulator:tray.cfg#2 --firmware bad.bin --log run.log");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("ERROR!! the Big(Default) block FileSize=0x0001 BLKs"), std::string::npos) << r.out;
  EXPECT_FALSE(test::FileExists(dir + "/run-tray-1.log"));
  EXPECT_FALSE(test::FileExists(dir + "/d1.flash"));  // no device was touched, nothing saved
}

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
