// The settings file over the product's own settings store.
#include "app/settings_file.h"

#include <gtest/gtest.h>

#include "app/ini_profile_store.h"
#include "base/format.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Lines = std::vector<std::string>;

struct SettingsFileTest : ::testing::Test {
  std::string dir = ScratchForCurrentTest("settings");
  IniProfileStore ini{dir};
  MainWindowModel model;
  ProcessState process;
  RecordingWindow window;
  int updates = 0;
  SettingsFile settings{ini, model, process, window, [this] { ++updates; }};
  const Selections& sel = model.selections;

  std::string Get(const std::string& key) { return ini.Read("Romsetter", key, "<missing>"); }
  void Set(const std::string& key, const std::string& value) { ASSERT_TRUE(ini.Write("Romsetter", key, value)); }
  void Reload() {  // a second start over the same file
    model = MainWindowModel{};
    settings.LoadSettings();
  }
  Lines SectionLines() {
    Lines out;
    bool in = false;
    for (const std::string& line : ReadLines(ini.path())) {
      if (!line.empty() && line[0] == '[') in = line == "[Romsetter]";
      else if (in && !line.empty()) out.push_back(line);
    }
    return out;
  }
};

TEST_F(SettingsFileTest, FreshFileGetsDefaultsInOrderAndMissingHistoriesGetPlaceholders) {
  settings.LoadSettings();
  Lines expected;
  for (const auto& row : DataRows("app/data/settings_defaults.txt", 1)) expected.push_back(row[0]);
  EXPECT_EQ(SectionLines(), expected);
  for (const HistoryList* list : {&model.bootHistory, &model.bigHistory, &model.smallHistory}) {
    EXPECT_EQ(list->items(), (Lines{"NONE0", "NONE1", "NONE2", "NONE3", "NONE4"}));
    EXPECT_EQ(list->current(), 0);
  }
  EXPECT_FALSE(sel.norSelected || sel.loadFirmware || sel.loadFont || sel.loadBootCode);
  EXPECT_EQ(updates, 1);  // the NAND handler ran

  Set("FW_FileName", "");  // empty counts as missing: every default again
  Set("Check", "3");
  Set("FW0", "C:\\x.bin");
  Reload();
  EXPECT_EQ(SectionLines(), expected);

  // A missing history starts from the current name; without SelectType, NOR.
  ASSERT_TRUE(ini.DeleteFile());
  Set("FW_FileName", "C:\\fw\\Main.bin");
  Reload();
  EXPECT_EQ(model.bigHistory.items(),
            (Lines{"C:\\fw\\Main.bin", "NONE0", "NONE1", "NONE2", "NONE3", "NONE4"}));
  EXPECT_EQ(model.bigHistory.current(), 0);
  EXPECT_TRUE(sel.norSelected);
  EXPECT_EQ(Get("FW4") + Get("FW5"), "NONE4<missing>");
}

TEST_F(SettingsFileTest, FieldsFollowTheFileValuesExactly) {
  settings.LoadSettings();
  for (const auto& row : DataRows("app/data/check_values.txt", 2)) {
    Set("Check", row[0]);
    Reload();
    EXPECT_EQ(sel.loadFirmware + 2 * sel.loadFont, std::stoi(row[1])) << row[0];
  }
  Set("Format", "yes");  // only "1" is true
  Set("Backup", "1");
  Reload();
  EXPECT_FALSE(sel.norSelected || sel.formatChecked);
  EXPECT_TRUE(sel.backupChecked);

  Set("SelectType", "");  // NOR, which clears Backup on screen but not in the file
  Set("FW_FileName", std::string(300, 'p'));
  Reload();
  EXPECT_TRUE(sel.norSelected && !sel.backupChecked);
  EXPECT_EQ(Get("Backup") + Get("SelectType"), "11");
  EXPECT_EQ(sel.bigFirmwarePath, std::string(259, 'p'));
}

TEST_F(SettingsFileTest, HistoriesLoadWithinTheirKeyLimits) {
  Set("FW_FileName", "C:\\fw\\main");
  for (int i = 0; i <= 10; ++i) Set(Format("FW%d", i), Format("C:\\fw\\%c.bin", 'k' - i));
  for (int i = 0; i <= 5; ++i) Set(Format("Boot%d", i), Format("C:\\boot%d.bin", i));
  Set("FWs0", "b");
  Set("FWs1", "A");
  Set("FWs3", "c");  // after a gap: not read
  settings.LoadSettings();
  EXPECT_EQ(model.bigHistory.Count(), 10);
  EXPECT_EQ(model.bigHistory.At(0), "C:\\fw\\b.bin");  // sorted, and FW10 (a.bin) never read
  EXPECT_EQ(model.bootHistory.Count(), 5);
  EXPECT_EQ(model.smallHistory.items(), (Lines{"A", "b"}));
  Set("FW8", "");
  Reload();
  EXPECT_EQ(model.bigHistory.Count(), 8);
}

TEST_F(SettingsFileTest, PickingAndChoosingUpdateNameAndHistory) {
  settings.LoadSettings();
  settings.FilePicked(Picker::Big, "C:\\fw\\a.bin");  // replaces NONE0
  settings.FilePicked(Picker::Big, "c:\\FW\\a.b");    // a prefix of a listed item: that item
  EXPECT_EQ(model.bigHistory.Count(), 5);
  EXPECT_EQ(Get("FW_FileName") + " " + Get("FW0"), "c:\\FW\\a.b C:\\fw\\a.bin");

  ASSERT_TRUE(settings.HistoryItemChosen(Picker::Small, 2));
  settings.FilePicked(Picker::Small, "D:\\z.bin");  // replaces NONE2 where it stands
  EXPECT_EQ(model.smallHistory.items(), (Lines{"NONE0", "NONE1", "D:\\z.bin", "NONE3", "NONE4"}));
  EXPECT_EQ(Get("FWs2"), "D:\\z.bin");

  ASSERT_TRUE(settings.HistoryItemChosen(Picker::Boot, 3));
  EXPECT_EQ(sel.bootPath + " " + Get("Boot_FileName"), "NONE NONE");
  ASSERT_TRUE(settings.HistoryItemChosen(Picker::Small, -1));  // focus lost: remembered index
  EXPECT_EQ(sel.smallFirmwarePath, "D:\\z.bin");
  EXPECT_FALSE(settings.HistoryItemChosen(Picker::Small, 5));
}

}  // namespace
}  // namespace romsetter::test
