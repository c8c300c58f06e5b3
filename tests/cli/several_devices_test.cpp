// romsetter-cli upgrading several devices at once, run as a process.  The tsan preset runs
// these under the thread sanitizer, where a data race between the jobs fails the run.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using test::CliRun;
using test::JsonLines;

// What several devices' runs log together and alone, a bad image checked before them, a dry
// run, --all and a second spelling of a scenario are transcripts (tests/transcripts/
// several-devices*, cli-several-*).  Naming the devices is the same over every family.

// One device, one file (spellings of one device are refused in tests/cli/cli_parser_test.cpp):
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
  const std::vector<nlohmann::json> lines = JsonLines(r.out);
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

}  // namespace
}  // namespace romsetter
