// Recording a run and replaying it through romsetter-cli, as a technician and a developer
// would: the replay gives the recorded log and verdict, and stops at the first difference.
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
constexpr const char* kClean = "[device]\nfirmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\n";
constexpr const char* kJob = "upgrade --firmware fw.bin --backup --font-list fonts.tab ";

// Sample inputs every recording here was made with (tests/transcripts/README.md).
void WriteInputs(const std::string& dir) {
  const std::vector<std::uint8_t> fw = BalancedImage(16, 21);
  const std::vector<std::uint8_t> font = PatternBytes(3000, 22);
  test::WriteFile(dir + "/fw.bin", std::string(fw.begin(), fw.end()));
  test::WriteFile(dir + "/A.FNT", std::string(font.begin(), font.end()));
  test::WriteFile(dir + "/fonts.tab", "A.FNT\r\n");
}

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
    WriteInputs(dir);
    test::WriteFile(dir + "/faulty.cfg", kFaulty);
    test::WriteFile(dir + "/clean.cfg", kClean);
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

// The first command that differs stops the replay, for a page one byte apart, whether the
// recording kept the pages or their digests.
TEST_P(Replay, APageOneByteApartDivergesAtItsFirstWrite) {
  for (const char* data : {"", " --record-data"}) {
    const CliRun recorded = RunCli(dir, kJob + std::string("--device emulator:clean.cfg --record run.jsonl") + data + Transport());
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    std::string fw = test::ReadFile(dir + "/fw.bin");
    const std::string original = fw;
    // Page 5 one byte apart; the same bit of page 6 keeps the image's XOR checksum.
    fw[5 * 512 + 100] = static_cast<char>(fw[5 * 512 + 100] ^ 0x01);
    fw[6 * 512 + 100] = static_cast<char>(fw[6 * 512 + 100] ^ 0x01);
    test::WriteFile(dir + "/fw.bin", fw);
    // Where the two runs part: the first entry the changed run records differently.
    const CliRun changed = RunCli(dir, kJob + std::string("--device emulator:clean.cfg --record changed.jsonl") + Transport());
    ASSERT_EQ(changed.status, 0) << changed.err;
    const Recording a = Read(dir + "/run.jsonl");
    const Recording b = Read(dir + "/changed.jsonl");
    std::size_t first = 0;
    while (first < a.entries.size() && a.entries[first].command.cdb == b.entries[first].command.cdb &&
           a.entries[first].command.payloadDigest == b.entries[first].command.payloadDigest) {
      ++first;
    }
    ASSERT_LT(first, a.entries.size());

    const CliRun replayed = RunCli(dir, kJob + std::string("--device replay:run.jsonl"));
    EXPECT_EQ(replayed.status, 3);
    const std::string line = "romsetter-cli: replay diverged at command " + std::to_string(first + 1) +
                             ": expected UPT_WRITE_PAGE (CDB ff03";
    EXPECT_EQ(replayed.err.rfind(line, 0), 0u) << replayed.err;
    EXPECT_NE(replayed.err.find(a.entries[first].command.payloadDigest.substr(0, 16)), std::string::npos);
    EXPECT_NE(replayed.err.find(b.entries[first].command.payloadDigest.substr(0, 16)), std::string::npos);
    test::WriteFile(dir + "/fw.bin", original);
  }
}

// A run that goes well but stops short of the recording still fails.
TEST_P(Replay, ARecordingLeftUnfinishedFailsTheRun) {
  ASSERT_EQ(RunCli(dir, kJob + std::string("--device emulator:clean.cfg --record run.jsonl") + Transport()).status, 0);
  const std::size_t entries = Read(dir + "/run.jsonl").entries.size();
  const std::string next = std::to_string(entries + 1);
  test::WriteFile(dir + "/run.jsonl", test::ReadFile(dir + "/run.jsonl") + "{\"n\":" + next + ",\"entry\":\"close\"}\n");
  const CliRun r = RunCli(dir, kJob + std::string("--device replay:run.jsonl"));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("romsetter-cli: replay diverged at command " + next + ": expected the drive closed, got the end of the run\n"),
            std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Transports, Replay, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Aspi" : "PassThrough"); });

TEST(ReplayRefusal, ABadRecordingIsRefusedBeforeTheRun) {
  const std::string dir = test::ScratchDir("recording_cli_refusal");
  WriteInputs(dir);
  test::WriteFile(dir + "/cut.jsonl", "{\"format\":\"romsetter-recording\",\"version\":1,\"program\":\"x\",\"family\":\"aspi\"");
  const CliRun r = RunCli(dir, kJob + std::string("--device replay:cut.jsonl"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("romsetter-cli: cut.jsonl:1: the recording ends in the middle of an entry (truncated)\n", 0), 0u)
      << r.err;
  EXPECT_FALSE(test::FileExists(dir + "/Romsetter.log"));
  EXPECT_EQ(RunCli(dir, kJob + std::string("--device replay:missing.jsonl")).status, 1);
  EXPECT_EQ(RunCli(dir, kJob + std::string("--device emulator:x --record-data")).status, 1);
}

}  // namespace
}  // namespace romsetter
