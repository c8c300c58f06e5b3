#include "app/ini_profile_store.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>

#include "base/format.h"
#include "support/profile_store_conformance.h"

namespace romsetter::test {
namespace {

struct IniMaker {
  static std::unique_ptr<ProfileStore> Make(const std::string& dir) { return std::make_unique<IniProfileStore>(dir); }
  static std::string FilePath(const std::string& dir) { return dir + "/Romsetter.ini"; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Ini, ProfileStoreConformance, IniMaker);

// A file too large to be settings, a folder that is not there, a write the file system cuts
// short: the write fails, and the old file stays as it was with nothing left beside it.
TEST(IniProfileStore, AFailedWriteLeavesTheFileAsItWas) {
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

#ifndef _WIN32
  const std::string cut = ScratchDir("ini_cut_short");
  const std::string old = "[Romsetter]\r\nFW_Version=2.1\r\n";
  WriteFile(cut + "/Romsetter.ini", old);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{16, 16};  // the new text is longer
    setrlimit(RLIMIT_FSIZE, &small);
    _exit(IniProfileStore(cut).Write("Romsetter", "Check", "3") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(cut + "/Romsetter.ini"), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cut), std::filesystem::directory_iterator()), 1);
#endif
}

// Notepad saves with a byte-order mark; it must not become part of the first section's name,
// and a write keeps it, so text behind it cannot move up into its place.
TEST(IniProfileStore, AByteOrderMarkIsPassedOverAndKept) {
  const std::string dir = ScratchDir("ini_byte_order_mark");
  IniProfileStore store(dir);
  const std::string bom = "\xEF\xBB\xBF";
  WriteFile(store.path(), bom + "[Romsetter]\r\nFW_Version=2.1\r\n");
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", ""), "2.1");
  ASSERT_TRUE(store.Write("Romsetter", "Check", "3"));
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", ""), "2.1");
  EXPECT_EQ(ReadFile(store.path()), bom + "[Romsetter]\r\nFW_Version=2.1\r\nCheck=3\r\n");

  // Two marks: the second is part of the first line, which is then no section header; a
  // value written must read back, not the one of a section that appears after the write.
  WriteFile(store.path(), bom + bom + "[Romsetter]\r\nFW_Version=2.1\r\n");
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", "none"), "none");
  ASSERT_TRUE(store.Write("Romsetter", "FW_Version", "3.0"));
  EXPECT_EQ(store.Read("Romsetter", "FW_Version", ""), "3.0");
}

#ifndef _WIN32
// Two processes sharing one settings file, writing at once: the file is never missing for a
// reader, and neither writer loses the other's keys nor the user's.
TEST(IniProfileStore, TwoProcessesWritingAtOnceKeepEveryKey) {
  const std::string dir = ScratchDir("ini_two_writers");
  WriteFile(dir + "/Romsetter.ini", "[Romsetter]\r\nFW_Version=2.1\r\n");
  constexpr int kKeys = 150;
  std::vector<pid_t> writers;
  for (const char* name : {"A", "B"}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      IniProfileStore store(dir);
      bool ok = true;
      for (int i = 0; i < kKeys; ++i) ok = store.Write(name, Format("Key%d", i), Format("%d", i)) && ok;
      _exit(ok ? 0 : 1);
    }
    writers.push_back(child);
  }
  IniProfileStore reader(dir);
  int missing = 0;
  for (int i = 0; i < 2000; ++i) missing += reader.Read("Romsetter", "FW_Version", "") == "2.1" ? 0 : 1;
  for (pid_t child : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(reader.Read("Romsetter", "FW_Version", ""), "2.1");
  for (const char* name : {"A", "B"}) {
    for (int i = 0; i < kKeys; ++i) EXPECT_EQ(reader.Read(name, Format("Key%d", i), ""), Format("%d", i)) << name << i;
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);  // no temporary file left behind
}
#endif

}  // namespace
}  // namespace romsetter::test
