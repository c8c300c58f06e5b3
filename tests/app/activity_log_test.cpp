#include "app/activity_log.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace romsetter {
namespace {

using test::ReadLines;
using test::RecordingWindow;

struct LogFixture : ::testing::Test {
  std::string dir = test::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::string path = dir + "/Romsetter.log";
  RecordingWindow window;
};

TEST_F(LogFixture, NumbersAreHexZeroPaddedToSevenAndGrowPastIt) {
  ActivityLog log(path, window);
  log.Log("Checking OS version.");
  EXPECT_EQ(window.status.back(), "0x00001 Checking OS version.");
  log.SetLineNumber(16);
  log.Log("");
  EXPECT_EQ(window.status.back(), "0x00010 ");  // an empty text still gets number and blank
  log.SetLineNumber(255);
  log.Log("x");
  EXPECT_EQ(window.status.back(), "0x000ff x");
  log.SetLineNumber(0x100000);
  log.Log("wide");
  EXPECT_EQ(window.status.back(), "0x100000 wide");
  EXPECT_EQ(log.lineNumber(), 0x100001u);
}

TEST_F(LogFixture, FirstLineOfARunDeletesThePreviousFile) {
  test::WriteFile(path, "old run\r\n");
  ActivityLog log(path, window);
  log.Log("one");
  log.Log("two");
  EXPECT_EQ(test::ReadFile(path), "0x00001 one\r\n0x00002 two\r\n");

  // A later line never deletes: a second log object continuing at line 3 appends.
  ActivityLog more(path, window);
  more.SetLineNumber(3);
  more.Log("three");
  EXPECT_EQ(ReadLines(path).size(), 3u);
}

TEST_F(LogFixture, StatusListKeepsTheNewest201WhileTheFileKeepsAll) {
  ActivityLog log(path, window);
  for (int i = 1; i <= 202; ++i) log.Logf("line %d", i);
  ASSERT_EQ(window.status.size(), 201u);
  EXPECT_EQ(window.status.front(), "0x00002 line 2");
  EXPECT_EQ(window.status.back(), "0x000ca line 202");
  EXPECT_EQ(ReadLines(path).size(), 202u);
}

TEST_F(LogFixture, StatusLinesAreUnnumberedListOnlyAndDoNotCount) {
  ActivityLog log(path, window);
  log.Log("a");
  log.AddStatusLine("Error occurs at [3]: Src = 0x01, Err = 0x02");
  log.Log("b");
  EXPECT_EQ(window.allStatus[1], "Error occurs at [3]: Src = 0x01, Err = 0x02");
  EXPECT_EQ(window.allStatus[2], "0x00002 b");
  EXPECT_EQ(test::ReadFile(path), "0x00001 a\r\n0x00002 b\r\n");
}

TEST_F(LogFixture, UnopenableFileLosesOnlyTheFileLine) {
  ActivityLog log(dir + "/no/such/folder/Romsetter.log", window);
  log.Log("still listed");
  EXPECT_EQ(window.status.back(), "0x00001 still listed");
}

TEST_F(LogFixture, SystemErrorLogsCodeThenTextOrNothing) {
  ActivityLog log(path, window, [](std::uint32_t code, std::string& text) {
    if (code != 5) return false;
    text = "Access is denied.\r\n";
    return true;
  });
  log.LogSystemError(5);
  log.LogSystemError(999999);
  ASSERT_EQ(window.allStatus.size(), 2u);
  EXPECT_EQ(window.allStatus[0], "0x00001 PrintError.ErrorCode=5");
  EXPECT_EQ(window.allStatus[1], "0x00002 Access is denied.\r\n");
}

TEST_F(LogFixture, CRuntimeTextsKnowCommonCodesOnly) {
  std::string text;
  EXPECT_TRUE(CRuntimeErrorText(2, text));
  EXPECT_FALSE(text.empty());
  EXPECT_FALSE(CRuntimeErrorText(987654, text));
}

}  // namespace
}  // namespace romsetter
