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

  std::string Get(const std::string& key) { return store->Read("Romsetter", key, "<missing>"); }
  void Set(const std::string& key, const std::string& value) { ASSERT_TRUE(store->Write("Romsetter", key, value)); }
  // A second start over the same file.
  void Reload() {
    model = MainWindowModel{};
    settings.LoadSettings();
  }
  std::vector<std::string> SectionLines() {
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& line : ReadLines(Maker::FilePath(dir))) {
      if (!line.empty() && line[0] == '[') in = line == "[Romsetter]";
      else if (in && !line.empty()) out.push_back(line);
    }
    return out;
  }
};

TYPED_TEST_SUITE_P(SettingsFileSuite);

TYPED_TEST_P(SettingsFileSuite, FreshFileGetsDefaultsInOrderAndPlaceholderHistories) {
  this->settings.LoadSettings();
  const std::vector<std::string> expected = {
      "SelectType=0", "Format=0", "Backup=0", "LoadBootCode=0", "Boot_FileName=NONE", "Boot0=NONE0", "Boot1=NONE1",
      "Boot2=NONE2", "Boot3=NONE3", "Boot4=NONE4", "Check=0", "FW_FileName=NONE", "FW0=NONE0", "FW1=NONE1",
      "FW2=NONE2", "FW3=NONE3", "FW4=NONE4", "FW_FileNameS=NONE", "FWs0=NONE0", "FWs1=NONE1", "FWs2=NONE2",
      "FWs3=NONE3", "FWs4=NONE4", "FontList=NONE", "Report=NONE", "PackFile=NONE", "CheckProduct=1",
      "Debug_Write_Page_Error=0", "FW_Version=0000"};
  EXPECT_EQ(this->SectionLines(), expected);
  const std::vector<std::string> placeholders = {"NONE0", "NONE1", "NONE2", "NONE3", "NONE4"};
  for (const HistoryList* list : {&this->model.bootHistory, &this->model.bigHistory, &this->model.smallHistory}) {
    EXPECT_EQ(list->items(), placeholders);
    EXPECT_EQ(list->current(), 0);
  }
  const Selections& s = this->model.selections;
  EXPECT_FALSE(s.norSelected || s.loadFirmware || s.loadFont || s.formatChecked || s.loadBootCode);
  EXPECT_EQ(this->process.fwVersion, "0000");
  EXPECT_EQ(this->updates, 1);  // the NAND handler ran

  this->Set("FW_FileName", "");  // empty counts as missing: every default again
  this->Set("Check", "3");
  this->Set("FW0", "C:\\x.bin");
  this->Reload();
  EXPECT_EQ(this->SectionLines(), expected);
}

TYPED_TEST_P(SettingsFileSuite, FieldsFollowTheFileValuesExactly) {
  this->settings.LoadSettings();
  const struct {
    const char* check;
    bool firmware, font;
  } cases[] = {{"1", true, false}, {"2", false, true}, {"3", true, true}, {"4", false, false}, {"x", false, false}};
  for (const auto& c : cases) {
    this->Set("Check", c.check);
    this->Reload();
    EXPECT_EQ(this->model.selections.loadFirmware, c.firmware) << c.check;
    EXPECT_EQ(this->model.selections.loadFont, c.font) << c.check;
  }
  this->Set("Format", "yes");
  this->Set("LoadBootCode", "1");
  this->Set("CheckProduct", "0");
  this->Set("FW_Version", "0102");
  this->Set("SelectType", "");
  this->Set("Backup", "1");
  this->Reload();
  const Selections& s = this->model.selections;
  EXPECT_FALSE(s.formatChecked);
  EXPECT_TRUE(s.loadBootCode);
  EXPECT_TRUE(s.norSelected);
  EXPECT_FALSE(s.backupChecked);          // NOR clears it on screen ...
  EXPECT_EQ(this->Get("Backup"), "1");    // ... not in the file
  EXPECT_EQ(this->Get("SelectType"), "1");
  EXPECT_EQ(this->model.bigButtonCaption, "NOR");
  EXPECT_TRUE(this->window.IsEnabled(Control::BootList));
  EXPECT_EQ(this->window.versionLine, "To get F/W version and PorductName isn't supported.");
  EXPECT_EQ(this->process.fwVersion, "0102");
  const std::string longName(300, 'p');
  this->Set("FW_FileName", longName);
  this->Reload();
  EXPECT_EQ(this->model.selections.bigFirmwarePath, longName.substr(0, 259));
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
  EXPECT_EQ(this->model.bigHistory.FindPrefix("C:\\fw\\a.bin"), -1);  // FW10
  EXPECT_EQ(this->model.bigHistory.At(0), "C:\\fw\\b.bin");           // sorted
  EXPECT_EQ(this->model.bootHistory.Count(), 5);
  EXPECT_EQ(this->model.smallHistory.items(), (std::vector<std::string>{"A", "b"}));
  this->Set("FW8", "");
  this->Reload();
  EXPECT_EQ(this->model.bigHistory.Count(), 8);
}

TYPED_TEST_P(SettingsFileSuite, MissingHistoryStartsFromTheCurrentName) {
  this->Set("FW_FileName", "C:\\fw\\Main.bin");
  this->settings.LoadSettings();
  const HistoryList& big = this->model.bigHistory;
  EXPECT_EQ(big.items(), (std::vector<std::string>{"C:\\fw\\Main.bin", "NONE0", "NONE1", "NONE2", "NONE3", "NONE4"}));
  EXPECT_EQ(big.current(), 0);
  EXPECT_TRUE(this->model.selections.norSelected);  // no SelectType at all
  EXPECT_EQ(this->Get("FW4"), "NONE4");
  EXPECT_EQ(this->Get("FW5"), "<missing>");
}

TYPED_TEST_P(SettingsFileSuite, PickingAndChoosingUpdateNameAndHistory) {
  this->settings.LoadSettings();
  this->settings.FilePicked(Picker::Big, "C:\\fw\\a.bin");  // replaces NONE0
  this->settings.FilePicked(Picker::Big, "c:\\FW\\a.b");
  EXPECT_EQ(this->model.bigHistory.current(), 0);  // a prefix of a listed item: that item
  EXPECT_EQ(this->model.bigHistory.Count(), 5);
  EXPECT_EQ(this->Get("FW_FileName"), "c:\\FW\\a.b");
  EXPECT_EQ(this->Get("FW0"), "C:\\fw\\a.bin");

  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Small, 2));
  this->settings.FilePicked(Picker::Small, "D:\\z.bin");  // replaces NONE2 where it stands
  EXPECT_EQ(this->model.smallHistory.items(),
            (std::vector<std::string>{"NONE0", "NONE1", "D:\\z.bin", "NONE3", "NONE4"}));
  EXPECT_EQ(this->Get("FWs2"), "D:\\z.bin");
  EXPECT_EQ(this->Get("FW_FileNameS"), "D:\\z.bin");

  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Boot, 3));
  EXPECT_EQ(this->model.selections.bootPath, "NONE");
  EXPECT_EQ(this->Get("Boot_FileName"), "NONE");
  ASSERT_TRUE(this->settings.HistoryItemChosen(Picker::Small, -1));  // focus lost: remembered index
  EXPECT_EQ(this->model.selections.smallFirmwarePath, "D:\\z.bin");
  EXPECT_FALSE(this->settings.HistoryItemChosen(Picker::Small, 5));
}

REGISTER_TYPED_TEST_SUITE_P(SettingsFileSuite, FreshFileGetsDefaultsInOrderAndPlaceholderHistories,
                            FieldsFollowTheFileValuesExactly,
                            HistoriesLoadWithinTheirKeyLimits, MissingHistoryStartsFromTheCurrentName,
                            PickingAndChoosingUpdateNameAndHistory);

}  // namespace romsetter::test
