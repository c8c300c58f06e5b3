#pragma once
// The settings file over any profile store; instantiated with the makers of the conformance suite.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "base/format.h"
#include "support/profile_store_conformance.h"

namespace romsetter::test {

using Lines = std::vector<std::string>;

template <typename Maker>
class SettingsFileSuite : public ::testing::Test {
 protected:
  std::string dir = ScratchForCurrentTest("settings");
  std::unique_ptr<ProfileStore> store = Maker::Make(dir);
  MainWindowModel model;
  ProcessState process;
  RecordingWindow window;
  int updates = 0;
  SettingsFile settings{*store, model, process, window, [this] { ++updates; }};
  const Selections& sel = model.selections;

  std::string Get(const std::string& key) { return store->Read("Romsetter", key, "<missing>"); }
  void Set(const std::string& key, const std::string& value) { ASSERT_TRUE(store->Write("Romsetter", key, value)); }
  void Reload() {  // a second start over the same file
    model = MainWindowModel{};
    settings.LoadSettings();
  }
  Lines SectionLines() {
    Lines out;
    bool in = false;
    for (const std::string& line : ReadLines(Maker::FilePath(dir))) {
      if (!line.empty() && line[0] == '[') in = line == "[Romsetter]";
      else if (in && !line.empty()) out.push_back(line);
    }
    return out;
  }
};

TYPED_TEST_SUITE_P(SettingsFileSuite);

TYPED_TEST_P(SettingsFileSuite, FreshFileGetsDefaultsInOrderAndMissingHistoriesGetPlaceholders) {
  this->settings.LoadSettings();
  const Lines expected = {
      "SelectType=0", "Format=0", "Backup=0", "LoadBootCode=0", "Boot_FileName=NONE", "Boot0=NONE0", "Boot1=NONE1",
      "Boot2=NONE2", "Boot3=NONE3", "Boot4=NONE4", "Check=0", "FW_FileName=NONE", "FW0=NONE0", "FW1=NONE1",
      "FW2=NONE2", "FW3=NONE3", "FW4=NONE4", "FW_FileNameS=NONE", "FWs0=NONE0", "FWs1=NONE1", "FWs2=NONE2",
      "FWs3=NONE3", "FWs4=NONE4", "FontList=NONE", "Report=NONE", "PackFile=NONE", "CheckProduct=1",
      "Debug_Write_Page_Error=0", "FW_Version=0000"};
  EXPECT_EQ(this->SectionLines(), expected);
  for (const HistoryList* list : {&this->model.bootHistory, &this->model.bigHistory, &this->model.smallHistory}) {
    EXPECT_EQ(list->items(), (Lines{"NONE0", "NONE1", "NONE2", "NONE3", "NONE4"}));
    EXPECT_EQ(list->current(), 0);
  }
  EXPECT_FALSE(this->sel.norSelected || this->sel.loadFirmware || this->sel.loadFont || this->sel.loadBootCode);
  EXPECT_EQ(this->updates, 1);  // the NAND handler ran

  this->Set("FW_FileName", "");  // empty counts as missing: every default again
  this->Set("Check", "3");
  this->Set("FW0", "C:\\x.bin");
  this->Reload();
  EXPECT_EQ(this->SectionLines(), expected);

  // A missing history starts from the current name; without SelectType, NOR.
  ASSERT_TRUE(this->store->DeleteFile());
  this->Set("FW_FileName", "C:\\fw\\Main.bin");
  this->Reload();
  EXPECT_EQ(this->model.bigHistory.items(),
            (Lines{"C:\\fw\\Main.bin", "NONE0", "NONE1", "NONE2", "NONE3", "NONE4"}));
  EXPECT_EQ(this->model.bigHistory.current(), 0);
  EXPECT_TRUE(this->sel.norSelected);
  EXPECT_EQ(this->Get("FW4") + this->Get("FW5"), "NONE4<missing>");
}

TYPED_TEST_P(SettingsFileSuite, FieldsFollowTheFileValuesExactly) {
  this->settings.LoadSettings();
  const std::pair<const char*, int> cases[] = {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 0}, {"7", 0}, {"x", 0}};
  for (const auto& [check, loads] : cases) {  // firmware 1, font 2
    this->Set("Check", check);
    this->Reload();
    EXPECT_EQ(this->sel.loadFirmware + 2 * this->sel.loadFont, loads) << check;
  }
  this->Set("Format", "yes");  // only "1" is true
  this->Set("Backup", "1");
  this->Reload();
  EXPECT_FALSE(this->sel.norSelected || this->sel.formatChecked);
  EXPECT_TRUE(this->sel.backupChecked);

  this->Set("SelectType", "");  // NOR, which clears Backup on screen but not in the file
  this->Set("FW_FileName", std::string(300, 'p'));
  this->Reload();
  EXPECT_TRUE(this->sel.norSelected && !this->sel.backupChecked);
  EXPECT_EQ(this->Get("Backup") + this->Get("SelectType"), "11");
  EXPECT_EQ(this->sel.bigFirmwarePath, std::string(259, 'p'));
}

TYPED_TEST_P(SettingsFileSuite, HistoriesLoadWithinTheirKeyLimits) {
  this->Set("FW_FileName", "C:\\fw\\main");
  for (int i = 0; i <= 10; ++i) this->Set(Format("FW%d", i), Format("C:\\fw\\%c.bin", 'k' - i));
  for (int i = 0; i <= 5; ++i) this->Set(Format("Boot%d", i), Format("C:\\boot%d.bin", i));
  this->Set("FWs0", "b");
  this->Set("FWs1", "A");
  this->Set("FWs3", "c");  // after a gap: not read
  this->settings.LoadSettings();
  EXPECT_EQ(this->model.bigHistory.Count(), 10);
  EXPECT_EQ(this->model.bigHistory.At(0), "C:\\fw\\b.bin");  // sorted, and FW10 (a.bin) never read
  EXPECT_EQ(this->model.bootHistory.Count(), 5);
  EXPECT_EQ(this->model.smallHistory.items(), (Lines{"A", "b"}));
  this->Set("FW8", "");
  this->Reload();
  EXPECT_EQ(this->model.bigHistory.Count(), 8);
}

TYPED_TEST_P(SettingsFileSuite, PickingAndChoosingUpdateNameAndHistory) {
  this->settings.LoadSettings();
  this->settings.FilePicked(Picker::Big, "C:\\fw\\a.bin");  // replaces NONE0
  this->settings.FilePicked(Picker::Big, "c:\\FW\\a.b");    // a prefix of a listed item: that item
  EXPECT_EQ(this->model.bigHistory.Count(), 5);
  EXPECT_EQ(this->Get("FW_FileName") + " " + this->Get("FW0"), "c:\\FW\\a.b C:\\fw\\a.bin");

  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Small, 2));
  this->settings.FilePicked(Picker::Small, "D:\\z.bin");  // replaces NONE2 where it stands
  EXPECT_EQ(this->model.smallHistory.items(), (Lines{"NONE0", "NONE1", "D:\\z.bin", "NONE3", "NONE4"}));
  EXPECT_EQ(this->Get("FWs2"), "D:\\z.bin");

  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Boot, 3));
  EXPECT_EQ(this->sel.bootPath + " " + this->Get("Boot_FileName"), "NONE NONE");
  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Small, -1));  // focus lost: remembered index
  EXPECT_EQ(this->sel.smallFirmwarePath, "D:\\z.bin");
  EXPECT_FALSE(this->settings.HistoryItemChosen(Picker::Small, 5));
}

REGISTER_TYPED_TEST_SUITE_P(SettingsFileSuite, FreshFileGetsDefaultsInOrderAndMissingHistoriesGetPlaceholders,
                            FieldsFollowTheFileValuesExactly, HistoriesLoadWithinTheirKeyLimits,
                            PickingAndChoosingUpdateNameAndHistory);

}  // namespace romsetter::test
