// The start-up's system adapters: the transport choice from the platform, and the
// system's error texts in the activity log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/win32/system_error_text.h"
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
  EXPECT_EQ(ChooseTransport(log), TransportFamily::PassThrough);  // wine reports the NT family
  EXPECT_EQ(test::StripNumbers(test::ReadLines(log.logPath())),
            (std::vector<std::string>{"Checking OS version.", "OS = WinME or Win98", "Checking OS version.",
                                      "OS = WinME or Win98", "Checking OS version.", "OS != WinME or Win98"}));
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
