#include "package/font_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/activity_log.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

namespace fs = std::filesystem;

// The reports expected byte for byte, kept as files so a changed blank or tab shows.
std::string Expected(const std::string& name) {
  return ReadFile(ROMSETTER_SOURCE_DIR "/tests/package/data/" + name + ".h.txt");
}

std::string Bytes(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 13);
  return s;
}

// Each test runs inside its own folder, so the upper-cased derived names stay relative.
struct FontListTest : ::testing::Test {
  std::string dir = ScratchForCurrentTest("fonts");
  fs::path previous = fs::current_path();
  RecordingWindow window;
  ActivityLog log{dir + "/Romsetter.log", window};
  Selections selections;
  ProcessState process;
  ImageStore images;
  ImagePageCounts pages;
  FontList fonts{log, window, process, images, pages};

  void SetUp() override {
    fs::current_path(dir);
    selections.fontListPath = "fonts.tab";
    selections.reportPath = "BIG5.H";
    // A font loaded earlier, which a failed load must not leave behind.
    images.Replace(ImageSlot::FontData, std::vector<std::uint8_t>(512, 0x11));
    pages.fontImagePages = 1;
  }
  void TearDown() override { fs::current_path(previous); }

  // The loader refused with `text`, logged and shown; nothing loaded.
  void ExpectRefused(const std::string& text, const std::string& caption = "F/W Upgrade") {
    ASSERT_EQ(window.messages.size(), 1u) << text;
    const RecordedMessage& m = window.messages[0];
    EXPECT_EQ(m.caption + ": " + m.text, caption + ": " + text);
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_EQ(StripNumbers({window.status.back()})[0], text);
    EXPECT_FALSE(images.Held(ImageSlot::FontData) || pages.fontImagePages != 0);
    window.messages.clear();
  }
  void LoadRefused(const std::string& list, const std::string& text) {
    WriteFile(selections.fontListPath, list);
    EXPECT_FALSE(fonts.FontListLoader(selections));
    ExpectRefused(text);
  }
};

TEST(FontListNames, DerivedFileNamesAndFontNames) {
  for (const auto& row : ReadTable("package/data/font_names.txt")) {
    const bool windows = row.at(0).find("ignore") != std::string::npos;
    const std::string name = row[0][0] == 'd'   ? FontDataFileName(row.at(1), windows)
                             : row[0][0] == 'b' ? HeaderBackupFileName(row.at(1), windows)
                                                : FontNameOf(row.at(1));
    EXPECT_EQ(name, row.at(2)) << row[0] << " " << row[1];
  }
}

TEST_F(FontListTest, HeaderGivesEachFontItsStartAndPageCount) {
  WriteFile("A.FNT", Bytes(4000, 'a'));
  WriteFile("B.FNT", Bytes(600, 'b'));
  WriteFile("fonts.tab", "A.FNT\r\nB.FNT\r\n");
  ASSERT_TRUE(fonts.HeaderReport(selections));
  EXPECT_EQ(ReadFile("BIG5.H"), Expected("report_two_fonts"));
  EXPECT_EQ(pages.fontImagePages, 1u);  // report mode leaves the loaded font alone

  fs::create_directories("one");
  fs::create_directories("two");
  WriteFile("one/F.fnt", Bytes(100, 'p'));
  WriteFile("two/F.fnt", Bytes(1100, 'q'));
  WriteFile("fonts.tab", "one/F.fnt\ntwo/F.fnt");  // LF alone, no end on the last line
  ASSERT_TRUE(fonts.HeaderReport(selections));
  EXPECT_EQ(ReadFile("BIG5.H"), Expected("report_one_name_twice"));

  WriteFile("fonts.tab", "\r\n\n\r\n");
  ASSERT_TRUE(fonts.HeaderReport(selections));
  EXPECT_EQ(ReadFile("BIG5.H"), Expected("report_no_fonts"));
  ASSERT_TRUE(fonts.FontListLoader(selections));
  EXPECT_FALSE(images.Held(ImageSlot::FontData) || pages.fontImagePages != 0);
  EXPECT_TRUE(FileExists("BIG5_In.dat") && ReadFile("BIG5_In.dat").empty());
}

TEST_F(FontListTest, FontsArePaddedToWholePagesWith0xFF) {
  WriteFile("one.fnt", Bytes(512, 'x'));
  WriteFile("two.fnt", Bytes(513, 'y'));
  WriteFile("fonts.tab", "one.fnt\r\ntwo.fnt\r\n");
  ASSERT_TRUE(fonts.FontListLoader(selections));
  EXPECT_EQ(pages.fontImagePages, 3u);
  const std::string expected = Bytes(512, 'x') + Bytes(513, 'y') + std::string(511, '\xFF');
  EXPECT_EQ(images.Slot(ImageSlot::FontData), std::vector<std::uint8_t>(expected.begin(), expected.end()));
  EXPECT_EQ(ReadFile("BIG5_In.dat"), expected);
}

TEST_F(FontListTest, LoadNeverChangesTheHeaderOrItsBackup) {
  WriteFile("BIG5.H", "previous header\r\n");
  WriteFile("BIG5_h.bak", "the user's backup\r\n");
  WriteFile("BIG5_In.dat", "previous data");
  WriteFile("a.fnt", Bytes(700, 'a'));
  WriteFile("b.fnt", Bytes(100, 'b'));
  LoadRefused("a.fnt\r\nmissing.fnt\r\n", "The missing.fnt isn't found. Please check contents of the fonts.tab!");
  EXPECT_EQ(ReadFile("BIG5_In.dat"), "previous data");

  fonts.SetBetweenPassesHook([] { fs::remove("b.fnt"); });
  LoadRefused("a.fnt\r\nb.fnt\r\n", "The b.fnt isn't found.\nPlese check contents of the fonts.tab!");

  // Grown past its measured pages: never read into a buffer sized for fewer.
  fonts.SetBetweenPassesHook([] { WriteFile("a.fnt", Bytes(5000, 'a')); });
  WriteFile("b.fnt", Bytes(100, 'b'));
  LoadRefused("a.fnt\r\nb.fnt\r\n",
              "The a.fnt changed while it was loaded. Please check contents of the fonts.tab!");

  fonts.SetBetweenPassesHook(nullptr);
  ASSERT_TRUE(fonts.FontListLoader(selections));
  EXPECT_EQ(ReadFile("BIG5.H") + ReadFile("BIG5_h.bak"), "previous header\r\nthe user's backup\r\n");

  WriteFile("fonts.tab", "missing.fnt\r\n");  // report mode: the previous header stays whole
  EXPECT_FALSE(fonts.HeaderReport(selections));
  EXPECT_EQ(ReadFile("BIG5.H"), "previous header\r\n");
}

TEST_F(FontListTest, OutputsNeverOverwriteInputs) {
  WriteFile("a.fnt", Bytes(10, 'a'));
  WriteFile("BIG5.TXT", "a header without the extension");
  selections.reportPath = "BIG5.TXT";
  LoadRefused("a.fnt\r\n", "The font data file \"BIG5.TXT\" would overwrite the Report file \"BIG5.TXT\"; "
                            "please choose a Report file ending in \".h\"!");
  EXPECT_EQ(ReadFile("BIG5.TXT"), "a header without the extension");

  selections.reportPath = "BIG5.H";
  selections.fontListPath = "BIG5_In.dat";
  LoadRefused("a.fnt\r\n", "The font data file \"BIG5_In.dat\" would overwrite the FontList file \"BIG5_In.dat\"!");
  EXPECT_EQ(ReadFile("BIG5_In.dat"), "a.fnt\r\n");

  selections.fontListPath = "fonts.tab";
  selections.reportPath = "./fonts.tab";  // the list under another spelling
  WriteFile("fonts.tab", "a.fnt\r\n");
  EXPECT_FALSE(fonts.HeaderReport(selections));
  EXPECT_EQ(ReadFile("fonts.tab"), "a.fnt\r\n");
}

TEST_F(FontListTest, UnusableListsAndFontsGetAClearMessage) {
  process.applicationName = "main12_big5";
  selections.fontListPath = "nope.tab";
  EXPECT_FALSE(fonts.FontListLoader(selections));
  ExpectRefused("The FontList file \"nope.tab\" can't be opend!!", "main12_big5");

  selections.fontListPath = "fonts.tab";
  WriteFile("a.fnt", Bytes(10, 'a'));
  WriteFile("max.fnt", "");
  fs::resize_file("max.fnt", std::uintmax_t{0xFFFF} * 512);  // the most font data can take

  const std::string longest(kMaxFontListLine, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"a.fnt\r\n" + longest + "\r\n", "The " + longest + " isn't found. Please check contents of the fonts.tab!"},
      {"a.fnt\r\n" + longest + "x\r\n", "The FontList file \"fonts.tab\" has a line longer than 4096 characters!!"},
      {std::string("a.fnt\0../x\r\n", 12), "The FontList file \"fonts.tab\" is not a text file!!"},
      {" a.fnt\r\n", "The  a.fnt isn't found. Please check contents of the fonts.tab!"},  // no trimming
      {"max.fnt\r\na.fnt\r\n", "The fonts of the fonts.tab need more than 65535 pages!!"}};
  for (const auto& [list, message] : cases) LoadRefused(list, message);
  fs::resize_file("max.fnt", std::uintmax_t{0xFFFF} * 512 + 1);
  LoadRefused("max.fnt\r\n", "The max.fnt is larger than 65535 pages. Please check contents of the fonts.tab!");
}

}  // namespace
}  // namespace romsetter::test
