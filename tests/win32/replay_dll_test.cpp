// The emulator wnaspi32.dll replaying an ASPI recording: the run recorded through the library
// gets the same answers back, and a page one byte apart stops the replay.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "device/discovery_fakes.h"
#include "device/recording_transports.h"
#include "device/win32/transport_choice.h"
#include "support/test_support.h"
#include "win32/emulator_dll.h"

namespace romsetter {
namespace {

struct Session {
  bool available = false, erased = false, written = false, read = false, ready = false;
  PageBuffer back{};
  auto Answers() const { return std::tie(available, erased, written, read, back, ready); }
};

Session RunSession(AspiLibrary& library, LogSink& log, const PageBuffer& page) {
  Session s;
  AspiTransport transport(library, 200);
  DeviceLink link(transport, log);
  transport.BeginJob();
  s.available = transport.Available() && transport.CreateEvent();
  s.erased = link.Erase(EraseCommand::Firmware).ok;
  s.written = link.WritePage(0x1002, 3, PageArea::Firmware, page);
  s.read = link.ReadPage(0x1002, 3, PageArea::Firmware, s.back);
  s.ready = link.TestUnitReady();
  transport.EndJob();
  return s;
}

TEST(ReplayDll, ARecordedAspiRunGetsTheSameAnswersAndAChangedPageDiverges) {
  test::EmulatorDll dll;
  ASSERT_TRUE(dll.Loaded());
  Win32AspiLibrary library;
  ASSERT_TRUE(library.Load());
  const std::string dir = test::ScratchForCurrentTest("replay_dll");
  test::RecordingWindow window;
  ActivityLog log{dir + "/romsetter.log", window};
  PageBuffer page{};
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 3);

  test::WriteFile(dir + "/scenario.cfg",
                  "[device]\nfault bad_status UPT_FW_ERASE_MEM\nfault corrupt_once UPT_READ_PAGE page=0x1002 byte=17\n");
  ASSERT_TRUE(dll.LoadScenario(dir + "/scenario.cfg"));
  Session recorded;
  {
    RecordingWriter writer;
    RecordingHeader header;
    header.family = TransportFamily::Aspi;
    std::string error;
    ASSERT_TRUE(writer.Open(dir + "/run.jsonl", header, error)) << error;
    RecordingAspiLibrary recorder(library);
    recorder.SetWriter(&writer);
    recorded = RunSession(recorder, log, page);
  }
  EXPECT_TRUE(recorded.available);
  EXPECT_FALSE(recorded.erased);
  EXPECT_TRUE(recorded.read);
  EXPECT_EQ(recorded.back[17], static_cast<std::uint8_t>(page[17] ^ 0xFF));

  ASSERT_TRUE(dll.LoadScenario(dir + "/run.jsonl"));
  const Session replayed = RunSession(library, log, page);
  EXPECT_EQ(replayed.Answers(), recorded.Answers());

  ASSERT_TRUE(dll.LoadScenario(dir + "/run.jsonl"));
  PageBuffer changed = page;
  changed[200] ^= 0x01;
  const Session diverged = RunSession(library, log, changed);
  EXPECT_FALSE(diverged.written);
  EXPECT_FALSE(diverged.read);
  EXPECT_FALSE(diverged.ready);
}

}  // namespace
}  // namespace romsetter
