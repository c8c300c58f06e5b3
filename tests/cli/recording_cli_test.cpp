// Recording a run and replaying it through romsetter-cli, as a technician and a developer
// would: the replay gives the recorded log and verdict.  Where a replay parts from its
// recording is the emulator's tests' and the transcripts' (tests/transcripts/replays.args).
#include <gtest/gtest.h>

#include <string>

#include "device/recording.h"
#include "package/sample_images.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using test::CliRun;
using test::RunCli;
using test::Timeless;

// Firmware with a corrupt page read, a failed backup erase, and the device unplugged at the
// third font page.
constexpr const char* kFaulty =
    "[device]\nfirmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n"
    "fault corrupt_once UPT_READ_PAGE page=0x1002 byte=17\nfault bad_status BACKUP_FW_ERASE_MEM\n"
    "fault detach FONT_WRITE_PAGE occurrence=3\n";
constexpr const char* kJob = "upgrade --firmware fw.bin --backup --font-list fonts.tab ";

Recording Read(const std::string& path) {
  Recording recording;
  std::string error;
  EXPECT_TRUE(LoadRecording(path, recording, error)) << error;
  return recording;
}

class Replay : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir = test::ScratchForCurrentTest("recording_cli");
    test::WriteSampleInputs(dir);
    test::WriteFile(dir + "/faulty.cfg", kFaulty);
  }
  std::string Transport() const { return GetParam() ? " --aspi" : ""; }
  std::string dir;
};

TEST_P(Replay, AFaultyRunReplaysToTheSameLogAndVerdict) {
  const CliRun recorded = RunCli(dir, kJob + std::string("--device emulator:faulty.cfg --record run.jsonl --log recorded.log") + Transport());
  EXPECT_EQ(recorded.status, 3) << recorded.err;
  const std::string log = test::ReadFile(dir + "/recorded.log");
  // All three faults were met.
  EXPECT_NE(log.find("Backup"), std::string::npos) << log;
  const Recording recording = Read(dir + "/run.jsonl");
  EXPECT_EQ(recording.header.family, GetParam() ? TransportFamily::Aspi : TransportFamily::PassThrough);
  EXPECT_FALSE(recording.header.data);
  // The firmware never reaches the file: no page of it in hex.
  const std::vector<std::uint8_t> fw = BalancedImage(16, 21);
  EXPECT_EQ(test::ReadFile(dir + "/run.jsonl").find(HexBytes(fw.data() + 1024, 512)), std::string::npos);

  // No scenario and no flash: only the recording answers.
  const CliRun replayed = RunCli(dir, kJob + std::string("--device replay:run.jsonl --log replayed.log"));
  EXPECT_EQ(replayed.status, recorded.status) << replayed.err;
  EXPECT_EQ(Timeless(test::ReadFile(dir + "/replayed.log")), Timeless(log));
  EXPECT_EQ(replayed.err, recorded.err);
}

INSTANTIATE_TEST_SUITE_P(Transports, Replay, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Aspi" : "PassThrough"); });

}  // namespace
}  // namespace romsetter
