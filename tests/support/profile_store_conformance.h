#pragma once
// What every ProfileStore must do, the Windows profile functions being the reference.  Instantiate with a
// maker type with static Make(dir) -> std::unique_ptr<ProfileStore> (file inside `dir`) and FilePath(dir).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/profile_store.h"
#include "support/test_support.h"

namespace romsetter::test {

template <typename Maker>
class ProfileStoreConformance : public ::testing::Test {
 protected:
  std::string dir = ScratchForCurrentTest("profile");
  std::string file = Maker::FilePath(dir);
  std::unique_ptr<ProfileStore> store = Maker::Make(dir);
  std::string Get(const char* key, const char* dflt = "") { return store->Read("Romsetter", key, dflt); }
};

TYPED_TEST_SUITE_P(ProfileStoreConformance);

TYPED_TEST_P(ProfileStoreConformance, WritesCreateFileSectionAndKeyAndValuesAreTrimmedAndCut) {
  ProfileStore& s = *this->store;
  EXPECT_EQ(this->Get("FW0", "dflt  "), "dflt");  // no file: the default, trailing blanks dropped
  ASSERT_TRUE(s.Write("Romsetter", "FW_FileName", "C:\\fw\\a.bin"));
  ASSERT_TRUE(s.Write("Environment", "IniVersion", "1.72"));
  EXPECT_TRUE(FileExists(this->file));
  EXPECT_EQ(s.Read("ROMSETTER", "fw_filename", ""), "C:\\fw\\a.bin");
  ASSERT_TRUE(s.Write("romsetter", "FW_FILENAME", "b"));  // updates, does not add a second key
  EXPECT_EQ(this->Get("FW_FileName"), "b");
  EXPECT_EQ(s.Read("Environment", "IniVersion", ""), "1.72");
  EXPECT_EQ(s.Read("Environment", "FW_FileName", "none"), "none");  // keys belong to their section

  const std::string longValue = std::string(259, 'v') + std::string(41, 'w');
  ASSERT_TRUE(s.Write("Romsetter", "FW0", longValue));
  ASSERT_TRUE(s.Write("Romsetter", "FW2", "x=y"));
  ASSERT_TRUE(s.Write("Romsetter", "Report", "C:\\r.h   "));
  EXPECT_EQ(this->Get("FW0"), longValue.substr(0, 259));
  EXPECT_EQ(this->Get("FW2"), "x=y");
  EXPECT_EQ(this->Get("Report"), "C:\\r.h");
}

TYPED_TEST_P(ProfileStoreConformance, HandWrittenFileIsReadAndKeptAndNothingIsSmuggledIn) {
  ProfileStore& s = *this->store;
  WriteFile(this->file,
            "; kept\r\n[Other]\r\nFW0=wrong\r\n\r\n\t[romsetter]\r\n \tfw0\t= \tC:\\a b.bin \t\r\n"
            "FW1=\"C:\\q.bin\"\r\nFW3\r\n");  // tabs are blanks as spaces are
  EXPECT_EQ(this->Get("FW1"), "C:\\q.bin");  // surrounding quotes dropped
  EXPECT_EQ(this->Get("FW2", "dflt"), "dflt");
  ASSERT_TRUE(s.Write("Romsetter", "FW2", "new"));
  EXPECT_EQ(s.Read("Other", "FW0", ""), "wrong");
  EXPECT_EQ(this->Get("FW0"), "C:\\a b.bin");
  EXPECT_EQ(this->Get("FW2"), "new");
  EXPECT_NE(ReadFile(this->file).find("; kept"), std::string::npos);

  // Line breaks cannot smuggle in entries.
  EXPECT_FALSE(s.Write("Romsetter", "FW0", "a\r\n[Evil]\r\nx=1"));
  EXPECT_FALSE(s.Write("Romsetter", "FW0\nx", "a") || s.Write("Romsetter", "A=B", "a"));
  EXPECT_EQ(s.Read("Evil", "x", "none"), "none");
  EXPECT_TRUE(s.DeleteFile());
  EXPECT_FALSE(FileExists(this->file));
  EXPECT_EQ(this->Get("FW0", "gone"), "gone");
}

REGISTER_TYPED_TEST_SUITE_P(ProfileStoreConformance, WritesCreateFileSectionAndKeyAndValuesAreTrimmedAndCut,
                            HandWrittenFileIsReadAndKeptAndNothingIsSmuggledIn);

}  // namespace romsetter::test
