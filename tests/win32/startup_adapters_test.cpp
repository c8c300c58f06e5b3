// The start-up's system adapters: the transport choice from the platform, and the
// system's error texts in the activity log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/win32/system_error_text.h"
#include "app/win32/tick_clock.h"
#include "device/win32/transport_choice.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

TEST(TransportChoice, NtChoosesPassThroughAnyOtherPlatformOrAFailedQueryAspi) {
  test::RecordingWindow window;
  ActivityLog log(test::ScratchDir("transport_choice") + "/romsetter.log", window);
  const auto platform = [](std::uint32_t id, bool ok) {
    return [id, ok](std::uint32_t& out) { return (out = id, ok); };
  };
  EXPECT_EQ(ChooseTransport(log, platform(1, true)), TransportFamily::Aspi);
  EXPECT_EQ(ChooseTransport(log, platform(kPlatformWin32Nt, false)), TransportFamily::Aspi);
  // The system's own answer: wine reports the NT family unless the run sets this program's
  // version to Windows 98 or ME (tools/wine-run).
  const char* version = std::getenv("ROMSETTER_WINE_VERSION");
  const bool nineX = version != nullptr && (std::string(version) == "win98" || std::string(version) == "winme");
  EXPECT_EQ(ChooseTransport(log), nineX ? TransportFamily::Aspi : TransportFamily::PassThrough);
  EXPECT_EQ(test::StripNumbers(test::ReadLines(log.logPath())),
            (std::vector<std::string>{"Checking OS version.", "OS = WinME or Win98", "Checking OS version.",
                                      "OS = WinME or Win98", "Checking OS version.",
                                      nineX ? "OS = WinME or Win98" : "OS != WinME or Win98"}));
}

TEST(TickClock, CountsSecondsOnAcrossTheWrapOfTheTickCount) {
  std::vector<std::uint32_t> ticks{0xFFFFF000u, 0xFFFFFC17u, 0x00000400u, 0x00001000u};
  std::size_t next = 0;
  TickClock clock([&] { return ticks[next++]; });
  const std::uint32_t start = clock.NowSeconds();
  EXPECT_EQ(start, 0xFFFFF000u / 1000);
  EXPECT_EQ(clock.NowSeconds() - start, 3u);   // 3095 ms on
  EXPECT_EQ(clock.NowSeconds() - start, 5u);   // past the wrap: 5120 ms on, not back to 0
  EXPECT_EQ(clock.NowSeconds() - start, 8u);   // 8192 ms on

  TickClock system;  // GetTickCount itself
  const std::uint32_t before = system.NowSeconds();
  system.SleepMs(20);
  EXPECT_LE(system.NowSeconds() - before, 1u);
}

TEST(SystemErrorText, LoggedAsTheCodeThenTheSystemsOwnLine) {
  std::string text, unknown;
  ASSERT_TRUE(Win32SystemErrorText(5, text));
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_FALSE(Win32SystemErrorText(0x2FFFFFFF, unknown));

  test::RecordingWindow window;
  ActivityLog log(test::ScratchDir("system_error_text") + "/romsetter.log", window, Win32SystemErrorText);
  log.LogSystemError(5);
  log.LogSystemError(0x2FFFFFFF);  // no text: not logged at all
  EXPECT_EQ(std::vector<std::string>(window.status.begin(), window.status.end()),
            (std::vector<std::string>{"0x00001 PrintError.ErrorCode=5", "0x00002 " + text}));
}

}  // namespace
}  // namespace romsetter
