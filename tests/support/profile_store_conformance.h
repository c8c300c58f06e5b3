#pragma once
// What every ProfileStore must do, the Windows profile functions being the reference.
// Instantiate with a maker type:
//   struct Maker {
//     static std::unique_ptr<ProfileStore> Make(const std::string& dir);  // file inside `dir`
//     static std::string FilePath(const std::string& dir);
//   };
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/profile_store.h"
#include "support/test_support.h"

namespace romsetter::test {

inline std::string ScratchForCurrentTest(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = tag + "_" + info->test_suite_name() + "_" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return ScratchDir(name);
}

template <typename Maker>
class ProfileStoreConformance : public ::testing::Test {
 protected:
  std::string dir = ScratchForCurrentTest("profile");
  std::string file = Maker::FilePath(dir);
  std::unique_ptr<ProfileStore> store = Maker::Make(dir);
};

TYPED_TEST_SUITE_P(ProfileStoreConformance);

TYPED_TEST_P(ProfileStoreConformance, WritesCreateFileSectionAndKeyAndNamesIgnoreCase) {
  ProfileStore& s = *this->store;
  EXPECT_EQ(s.Read("Romsetter", "FW0", "dflt  "), "dflt");  // no file: the default, trailing blanks dropped
  ASSERT_TRUE(s.Write("Romsetter", "FW_FileName", "C:\\fw\\a.bin"));
  ASSERT_TRUE(s.Write("Environment", "IniVersion", "1.72"));
  EXPECT_TRUE(FileExists(this->file));
  EXPECT_EQ(s.Read("ROMSETTER", "fw_filename", ""), "C:\\fw\\a.bin");
  ASSERT_TRUE(s.Write("romsetter", "FW_FILENAME", "b"));  // updates, does not add a second key
  EXPECT_EQ(s.Read("Romsetter", "FW_FileName", ""), "b");
  EXPECT_EQ(s.Read("Environment", "IniVersion", ""), "1.72");
  EXPECT_EQ(s.Read("Environment", "FW_FileName", "none"), "none");  // keys belong to their section
}

TYPED_TEST_P(ProfileStoreConformance, ValuesAreTrimmedCutAndMayBeEmpty) {
  ProfileStore& s = *this->store;
  ASSERT_TRUE(s.Write("Romsetter", "Report", "C:\\r.h   "));
  EXPECT_EQ(s.Read("Romsetter", "Report", ""), "C:\\r.h");
  std::string longValue;
  for (int i = 0; i < 300; ++i) longValue += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(s.Write("Romsetter", "FW0", longValue));
  EXPECT_EQ(s.Read("Romsetter", "FW0", ""), longValue.substr(0, 259));
  ASSERT_TRUE(s.Write("Romsetter", "FW1", ""));
  EXPECT_EQ(s.Read("Romsetter", "FW1", "dflt"), "");  // present though empty
  ASSERT_TRUE(s.Write("Romsetter", "FW2", "x=y"));
  EXPECT_EQ(s.Read("Romsetter", "FW2", ""), "x=y");
}

TYPED_TEST_P(ProfileStoreConformance, HandWrittenFileIsReadAndKeptWhenWritten) {
  WriteFile(this->file,
            "; kept\r\n[Other]\r\nFW0=wrong\r\n\r\n[romsetter]\r\n  fw0 =  C:\\a b.bin  \r\n"
            "FW1=\"C:\\q.bin\"\r\nFW3\r\n");
  ProfileStore& s = *this->store;
  EXPECT_EQ(s.Read("Romsetter", "FW0", ""), "C:\\a b.bin");
  EXPECT_EQ(s.Read("Romsetter", "FW1", ""), "C:\\q.bin");  // surrounding quotes dropped
  EXPECT_EQ(s.Read("Romsetter", "FW2", "dflt"), "dflt");
  ASSERT_TRUE(s.Write("Romsetter", "FW2", "new"));
  EXPECT_EQ(s.Read("Other", "FW0", ""), "wrong");
  EXPECT_EQ(s.Read("Romsetter", "FW0", ""), "C:\\a b.bin");
  EXPECT_EQ(s.Read("Romsetter", "FW2", ""), "new");
  EXPECT_NE(ReadFile(this->file).find("; kept"), std::string::npos);
}

TYPED_TEST_P(ProfileStoreConformance, LineBreaksCannotSmuggleInEntriesAndDeleteEmptiesAll) {
  ProfileStore& s = *this->store;
  EXPECT_TRUE(s.DeleteFile());  // no file yet
  EXPECT_FALSE(s.Write("Romsetter", "FW0", "a\r\n[Evil]\r\nx=1"));
  EXPECT_FALSE(s.Write("Romsetter", "FW0\nx", "a") || s.Write("Romsetter", "A=B", "a"));
  EXPECT_EQ(s.Read("Evil", "x", "none"), "none");
  ASSERT_TRUE(s.Write("Romsetter", "Check", "3"));
  EXPECT_TRUE(s.DeleteFile());
  EXPECT_FALSE(FileExists(this->file));
  EXPECT_EQ(s.Read("Romsetter", "Check", "gone"), "gone");
  ASSERT_TRUE(s.Write("Romsetter", "Check", "1"));
  EXPECT_EQ(s.Read("Romsetter", "Check", ""), "1");
}

REGISTER_TYPED_TEST_SUITE_P(ProfileStoreConformance, WritesCreateFileSectionAndKeyAndNamesIgnoreCase,
                            ValuesAreTrimmedCutAndMayBeEmpty, HandWrittenFileIsReadAndKeptWhenWritten,
                            LineBreaksCannotSmuggleInEntriesAndDeleteEmptiesAll);

}  // namespace romsetter::test
