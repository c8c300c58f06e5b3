// Recording a run through romsetter-cli: a recording keeps digests, never the images.  That
// a run recorded now replays to its log and verdict over each family is a transcript
// (tests/transcripts/cli-record-replay); where a replay parts from its recording is the
// emulator's tests' and tests/transcripts/replays.
#include <gtest/gtest.h>

#include <string>

#include "device/recording.h"
#include "package/sample_images.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

TEST(RecordingCli, ARecordingKeepsNoPageOfTheImages) {
  const std::string dir = test::ScratchForCurrentTest("recording_cli");
  test::WriteSampleInputs(dir);
  test::WriteFile(dir + "/nand.cfg", "[device]\nfirmware 0x0100 0x1000 0x01000000\n");
  EXPECT_EQ(test::RunCli(dir, "upgrade --firmware fw.bin --device emulator:nand.cfg --record run.jsonl").status, 0);
  Recording recording;
  std::string error;
  ASSERT_TRUE(LoadRecording(dir + "/run.jsonl", recording, error)) << error;
  EXPECT_FALSE(recording.header.data);
  const std::vector<std::uint8_t> fw = BalancedImage(16, 21);
  EXPECT_EQ(test::ReadFile(dir + "/run.jsonl").find(HexBytes(fw.data() + 1024, 512)), std::string::npos);
}

}  // namespace
}  // namespace romsetter
