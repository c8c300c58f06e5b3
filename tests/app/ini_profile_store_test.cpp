#include "app/ini_profile_store.h"

#include "support/profile_store_conformance.h"

namespace romsetter::test {
namespace {

struct IniMaker {
  static std::unique_ptr<ProfileStore> Make(const std::string& dir) { return std::make_unique<IniProfileStore>(dir); }
  static std::string FilePath(const std::string& dir) { return dir + "/Romsetter.ini"; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Ini, ProfileStoreConformance, IniMaker);

TEST(IniProfileStore, FileThatIsNotASettingsFileIsNeitherReadNorReplaced) {
  const std::string dir = ScratchDir("ini_oversized");
  IniProfileStore store(dir);
  std::string huge = "[Romsetter]\r\nCheck=3\r\n";
  huge.resize(IniProfileStore::kFileLimit + 1, 'x');
  WriteFile(store.path(), huge);
  EXPECT_EQ(store.Read("Romsetter", "Check", "0"), "0");
  EXPECT_FALSE(store.Write("Romsetter", "Check", "1"));
  EXPECT_EQ(ReadFile(store.path()).size(), huge.size());

  IniProfileStore nowhere(dir + "/no/such/folder");
  EXPECT_FALSE(nowhere.Write("Romsetter", "Check", "1"));
  EXPECT_FALSE(FileExists(dir + "/no/such/folder/Romsetter.ini.tmp"));
}

// Notepad saves with a byte-order mark; it must not become part of the first section's name.
TEST(IniProfileStore, AByteOrderMarkBeforeTheFirstSectionIsPassedOver) {
  const std::string dir = ScratchDir("ini_byte_order_mark");
  IniProfileStore store(dir);
  WriteFile(store.path(), "\xEF\xBB\xBF[Romsetter]\r\nFW_Version=2.1\r\n");
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", ""), "2.1");
  ASSERT_TRUE(store.Write("Romsetter", "Check", "3"));
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", ""), "2.1");
  EXPECT_EQ(ReadFile(store.path()), "[Romsetter]\r\nFW_Version=2.1\r\nCheck=3\r\n");
}

}  // namespace
}  // namespace romsetter::test
