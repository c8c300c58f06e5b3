#include "app/activity_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Lines = std::vector<std::string>;

struct LogFixture : ::testing::Test {
  std::string dir = ScratchForCurrentTest("log");
  std::string path = dir + "/Romsetter.log";
  RecordingWindow window;
};

TEST_F(LogFixture, NumbersAreHexZeroPaddedToSevenAndGrowPastItEvenWithoutAFile) {
  ActivityLog log(dir + "/no/such/folder/Romsetter.log", window);
  log.Log("Checking OS version.");
  log.SetLineNumber(16);
  log.Log("");  // an empty text still gets number and blank
  log.SetLineNumber(0x100000);
  log.Log("wide");
  EXPECT_EQ(window.allStatus, (Lines{"0x00001 Checking OS version.", "0x00010 ", "0x100000 wide"}));
}

TEST_F(LogFixture, FirstLineReplacesTheOldFileAndStatusLinesAreUnnumberedListOnly) {
  WriteFile(path, "old run\r\n");
  ActivityLog log(path, window);
  log.Log("a");
  log.AddStatusLine("Error occurs at [3]: Src = 0x01, Err = 0x02");
  log.Log("b");
  EXPECT_EQ(window.allStatus, (Lines{"0x00001 a", "Error occurs at [3]: Src = 0x01, Err = 0x02", "0x00002 b"}));
  EXPECT_EQ(ReadFile(path), "0x00001 a\r\n0x00002 b\r\n");

  ActivityLog more(path, window);  // a later line appends
  more.SetLineNumber(3);
  more.Log("c");
  EXPECT_EQ(ReadLines(path).size(), 3u);

#ifndef _WIN32
  // The first line empties what the path names and never deletes it: a link stays a link.
  const std::string link = dir + "/link.log";
  std::filesystem::create_symlink(path, link);
  ActivityLog linked(link, window);
  linked.Log("d");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(path), "0x00001 d\r\n");
#endif
}

TEST_F(LogFixture, StatusListKeepsTheNewest201WhileTheFileKeepsAll) {
  ActivityLog log(path, window);
  log.AddStatusLine("unnumbered");  // counts as an item too
  for (int i = 1; i <= 202; ++i) log.Logf("line %d", i);
  ASSERT_EQ(window.status.size(), 201u);
  EXPECT_EQ(window.status.front(), "0x00002 line 2");
  EXPECT_EQ(window.status.back(), "0x000ca line 202");
  EXPECT_EQ(ReadLines(path).size(), 202u);
}

}  // namespace
}  // namespace romsetter::test
