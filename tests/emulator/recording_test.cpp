// The recording format: written and read back, hostile files refused with a line, and the
// replaying device finding the first command that differs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/bytes.h"
#include "base/sha256.h"
#include "device/recording.h"
#include "device/recording_transports.h"
#include "emulator/emulated_transport.h"
#include "emulator/replay_device.h"
#include "package/sample_images.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

TEST(Sha256, KnownDigests) {
  for (const auto& row : test::ReadTable("emulator/data/sha256.txt")) {
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(row.at(0).data()), row[0].size()), row.at(1)) << row[0];
  }
}

ScsiRequest PageCommand(std::uint8_t code, DataDirection direction, std::uint32_t address, std::uint16_t number) {
  ScsiRequest r;
  r.cdb[0] = 0xFF;
  r.cdb[1] = code;
  WritePageParam(&r.cdb[3], address);
  WritePageParam(&r.cdb[7], number);
  r.cdbLength = 12;
  r.direction = direction;
  r.length = 512;
  return r;
}

// A run on `drive`: open, a page written with `payload`, read back, close.
struct Run {
  ScsiResult written, read;
  std::vector<std::uint8_t> back = std::vector<std::uint8_t>(512, 0);
};
Run RunOn(DriveTransport& drive, std::vector<std::uint8_t> payload) {
  Run r;
  std::uint32_t systemError = 0;
  EXPECT_TRUE(drive.OpenDrive("\\\\.\\F:", systemError));
  ScsiRequest write = PageCommand(0x03, DataDirection::Out, 0x1002, 3);
  write.dataOut = payload.data();
  r.written = drive.Execute(write);
  ScsiRequest read = PageCommand(0x04, DataDirection::In, 0x1002, 3);
  read.dataIn = r.back.data();
  r.read = drive.Execute(read);
  drive.CloseDrive();
  return r;
}

// The run recorded on an emulated drive that reads the page back with byte 17 flipped.
std::string WriteRun(const std::string& dir, bool data) {
  const std::string path = dir + "/run.jsonl";
  RecordingWriter writer([] { return std::uint64_t{42}; });
  RecordingHeader header;
  header.program = "romsetter-cli test";
  header.os = "linux";
  header.data = data;
  std::string error;
  EXPECT_TRUE(writer.Open(path, header, error)) << error;
  EmulatedDevice device;
  device.AddFault({FaultKind::CorruptOnce, "UPT_READ_PAGE", true, 0, 0, 17});
  EmulatedTransport drive(device, 'F');
  RecordingDriveTransport recorder(drive);
  recorder.SetWriter(&writer);
  RunOn(recorder, PatternBytes(512, 1));
  return test::ReadFile(path);
}

// The run again on the drive of a replaying device, sending `payload` as its write.
struct Replayed {
  Run run;
  bool finished = false;
  std::vector<std::string> reports;
};
Replayed Replay(const Recording& recording, std::vector<std::uint8_t> payload) {
  Replayed r;
  ReplayDevice device(recording, [&](const std::string& line) { r.reports.push_back(line); });
  ReplayDriveTransport drive(device);
  r.run = RunOn(drive, payload);
  r.finished = device.Finish();
  return r;
}

// With digests or with data: the pages stay off a file of digests, the replay rebuilds the
// read-back from its digest and flips, and a payload differing in one byte diverges at its
// command, once, naming both digests.
TEST(Recording, TheReplayRebuildsTheReadBackAndDivergesAtAPayloadDifferingInOneByte) {
  const std::string dir = test::ScratchDir("recording_digests");
  for (bool data : {false, true}) {
    SCOPED_TRACE(data);
    const std::string text = WriteRun(dir, data);
    EXPECT_EQ(text.find(HexBytes(PatternBytes(512, 1).data(), 512)) != std::string::npos, data) << text;
    EXPECT_EQ(text.find("\"reply_xor\":\"011:ff\"") != std::string::npos, !data) << text;
    Recording recording;
    std::string error;
    ASSERT_TRUE(ParseRecording(text, "run.jsonl", recording, error)) << error;
    ASSERT_EQ(recording.entries.size(), 4u);
    EXPECT_EQ(recording.header.data, data);
    EXPECT_EQ(RecordedDriveLetter(recording, 'E'), 'F');
    EXPECT_EQ(recording.entries[1].micros, 0u);  // the injected clock stood still

    const Replayed same = Replay(recording, PatternBytes(512, 1));
    std::vector<std::uint8_t> expected = PatternBytes(512, 1);
    expected[17] ^= 0xFF;
    EXPECT_TRUE(same.run.written.statusGood && same.run.read.statusGood && same.finished);
    EXPECT_EQ(same.run.back, expected);
    EXPECT_TRUE(same.reports.empty());

    std::vector<std::uint8_t> page = PatternBytes(512, 1);
    page[300] ^= 0x01;
    const Replayed differing = Replay(recording, page);
    EXPECT_FALSE(differing.run.written.delivered || differing.run.read.delivered || differing.finished);  // and all after
    ASSERT_EQ(differing.reports.size(), 1u);
    const std::string& line = differing.reports[0];
    EXPECT_EQ(line.rfind("replay diverged at command 2: expected UPT_WRITE_PAGE (CDB ff03", 0), 0u) << line;
    EXPECT_NE(line.find(Sha256Hex(PatternBytes(512, 1).data(), 512).substr(0, 16)), std::string::npos);
    EXPECT_NE(line.find(Sha256Hex(page.data(), 512).substr(0, 16)), std::string::npos);

    // A run left short is the command line's replay suite; one going on past the end diverges here.
    recording.entries.resize(1);
    ReplayDevice device(recording, nullptr);
    std::uint32_t systemError = 0;
    EXPECT_TRUE(device.Open(systemError));
    device.Close();
    EXPECT_EQ(device.divergence(), "replay diverged at command 2: expected the end of the recording, got the drive closed");
  }
}

TEST(Recording, HostileFilesAreRefusedWithTheLineAndWhatIsWrong) {
  const std::string good = WriteRun(test::ScratchDir("recording_hostile"), false);
  const std::size_t secondLine = good.find('\n') + 1;
  const std::size_t thirdLine = good.find('\n', secondLine) + 1;
  for (const auto& row : test::ReadTable("emulator/data/hostile_recordings.txt")) {
    const std::string& op = row.at(0);
    ASSERT_NE(std::string("cut edit second whole").find(op), std::string::npos) << op;
    std::string text = op == "whole" ? row.at(1) : op == "second" ? good.substr(0, secondLine) + row.at(1) : good;
    if (op == "cut") text = good.substr(0, thirdLine + std::stoul(row.at(1)));
    if (op == "edit") text.replace(text.find(row.at(1)), row[1].size(), row.at(2));
    Recording recording;
    std::string error;
    EXPECT_FALSE(ParseRecording(text, "r", recording, error)) << text;
    EXPECT_EQ(error, row.back());
    EXPECT_TRUE(recording.entries.empty());
  }
  // Cut anywhere, or with any byte changed: a line or a recording, never a crash.
  std::mt19937 random(17);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    Recording recording;
    std::string error;
    if (!ParseRecording(good.substr(0, cut), "r", recording, error)) {
      EXPECT_EQ(error.rfind("r:", 0), 0u) << error;
    }
  }
  for (int i = 0; i < 3000; ++i) {
    std::string text = good;
    for (int k = 0; k < 3; ++k) text[random() % text.size()] = static_cast<char>(random() % 256);
    Recording recording;
    std::string error;
    if (ParseRecording(text, "r", recording, error)) {
      ReplayDevice device(recording, nullptr);
      std::uint32_t systemError = 0;
      device.Open(systemError);
      std::array<std::uint8_t, 512> page{};
      device.Answer(PageCommand(0x04, DataDirection::In, 0x1002, 3), page.data());
    } else {
      EXPECT_EQ(error.rfind("r:", 0), 0u) << error;
    }
  }
}


// Memory: the entries of any file, the shortest lines included, take at most 1.2 times the
// file (docs/recording.md), and every field comes back as it was written.
TEST(Recording, EntriesTakeAtMostTheirLinesInMemory) {
  const std::string dir = test::ScratchDir("recording_memory");
  for (const auto& shape : test::ReadTable("emulator/data/recording_shapes.txt")) {
    std::string text = "{\"format\":\"romsetter-recording\",\"version\":1,\"program\":\"t\",\"family\":\"" +
                       shape.at(0) + "\",\"os\":\"linux\",\"data\":false}\n";
    std::string last;
    for (int n = 1; n <= 2000; ++n) text += last = "{\"n\":" + std::to_string(n) + shape.at(1) + "\n";
    const std::string path = dir + "/short.jsonl";
    test::WriteFile(path, text);
    Recording recording;
    std::string error;
    ASSERT_TRUE(LoadRecording(path, recording, error)) << error;
    ASSERT_EQ(recording.entries.size(), 2000u);
    EXPECT_LE(recording.entries.Footprint(), text.size() * 12 / 10) << shape[1];
    if (shape[1].find("\"us\"") != std::string::npos) {
      EXPECT_EQ(RecordingEntryLine(recording.entries[1999]) + "\n", last);
    }
  }
}

}  // namespace
}  // namespace romsetter
