#include "app/win32/win32_profile_store.h"

#include "support/profile_store_conformance.h"

namespace romsetter::test {
namespace {

struct Win32Maker {
  static std::unique_ptr<ProfileStore> Make(const std::string& dir) {
    return std::make_unique<Win32ProfileStore>(FilePath(dir));
  }
  static std::string FilePath(const std::string& dir) { return dir + "\\Romsetter.ini"; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ProfileStoreConformance, Win32Maker);

TEST(Win32ProfileStore, BareNameLivesInTheWindowsDirectory) {
  Win32ProfileStore store;
  const std::string path = store.FullPath();
  ASSERT_NE(path.find("\\Romsetter.ini"), std::string::npos);
  ASSERT_TRUE(store.Write("Romsetter", "Check", "2"));
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(store.DeleteFile());
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(store.Read("Romsetter", "Check", "gone"), "gone");
}

}  // namespace
}  // namespace romsetter::test
