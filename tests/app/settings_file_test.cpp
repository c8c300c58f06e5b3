#include "app/ini_profile_store.h"
#include "app/settings_file_suite.h"

namespace romsetter::test {
namespace {

struct IniMaker {
  static std::unique_ptr<ProfileStore> Make(const std::string& dir) { return std::make_unique<IniProfileStore>(dir); }
  static std::string FilePath(const std::string& dir) { return dir + "/Romsetter.ini"; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Ini, SettingsFileSuite, IniMaker);

// Refuses every write after the first `allowed`.
class FailingStore : public ProfileStore {
 public:
  explicit FailingStore(int allowed) : allowed_(allowed) {}
  std::string Read(const std::string&, const std::string&, const std::string& d) override { return d; }
  bool Write(const std::string&, const std::string& key, const std::string&) override {
    keys.push_back(key);
    return static_cast<int>(keys.size()) <= allowed_;
  }
  bool DeleteFile() override { return true; }
  std::vector<std::string> keys;

 private:
  int allowed_;
};

TEST(SettingsFile, WriteHistoryStopsAtTheFirstFailedWrite) {
  FailingStore store(2);
  MainWindowModel model;
  ProcessState process;
  RecordingWindow window;
  SettingsFile settings(store, model, process, window, nullptr);
  HistoryList list;
  for (const char* item : {"c", "A", "b", "d"}) list.Add(item);
  EXPECT_FALSE(settings.WriteHistory("FW", list));
  EXPECT_EQ(store.keys, (std::vector<std::string>{"FW0", "FW1", "FW2"}));
  EXPECT_EQ(list.At(0), "A");
}

}  // namespace
}  // namespace romsetter::test
