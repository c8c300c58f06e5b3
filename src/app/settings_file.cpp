#include "app/settings_file.h"

#include <utility>

#include "base/format.h"

namespace romsetter {

namespace {

// Returned for a key that is not in the file at all, which the histories must tell apart
// from a key that is present but empty.
const char kMissing[] = "\x01";

struct DefaultEntry {
  const char* key;
  const char* value;
};

// The order is the order in which a fresh file receives them.
constexpr DefaultEntry kDefaults[] = {
    {"SelectType", "0"},     {"Format", "0"},        {"Backup", "0"},      {"LoadBootCode", "0"},
    {"Boot_FileName", "NONE"}, {"Boot0", "NONE0"},   {"Boot1", "NONE1"},   {"Boot2", "NONE2"},
    {"Boot3", "NONE3"},      {"Boot4", "NONE4"},     {"Check", "0"},       {"FW_FileName", "NONE"},
    {"FW0", "NONE0"},        {"FW1", "NONE1"},       {"FW2", "NONE2"},     {"FW3", "NONE3"},
    {"FW4", "NONE4"},        {"FW_FileNameS", "NONE"}, {"FWs0", "NONE0"},  {"FWs1", "NONE1"},
    {"FWs2", "NONE2"},       {"FWs3", "NONE3"},      {"FWs4", "NONE4"},    {"FontList", "NONE"},
    {"Report", "NONE"},      {"PackFile", "NONE"},   {"CheckProduct", "1"}, {"Debug_Write_Page_Error", "0"},
    {"FW_Version", "0000"},
};
static_assert(sizeof kDefaults / sizeof kDefaults[0] == SettingsFile::kDefaultCount, "one entry per key");

constexpr int kPlaceholderCount = 5;

// Leading digits with an optional sign, as the profile functions read a number; anything
// else is 0.  Saturates instead of overflowing on a hostile value.
long ParseDecimal(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < 1000000) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

SettingsFile::SettingsFile(ProfileStore& store, MainWindowModel& model, ProcessState& process, WindowPort& window,
                           std::function<void()> updateControls)
    : store_(store), model_(model), process_(process), window_(window), updateControls_(std::move(updateControls)) {}

const char* SettingsFile::NameKey(Picker picker) {
  switch (picker) {
    case Picker::Boot: return "Boot_FileName";
    case Picker::Small: return "FW_FileNameS";
    case Picker::Big: break;
  }
  return "FW_FileName";
}

const char* SettingsFile::HistoryPrefix(Picker picker) {
  switch (picker) {
    case Picker::Boot: return "Boot";
    case Picker::Small: return "FWs";
    case Picker::Big: break;
  }
  return "FW";
}

HistoryList& SettingsFile::History(Picker picker) {
  switch (picker) {
    case Picker::Boot: return model_.bootHistory;
    case Picker::Small: return model_.smallHistory;
    case Picker::Big: break;
  }
  return model_.bigHistory;
}

std::string& SettingsFile::PathOf(Picker picker) {
  Selections& s = model_.selections;
  switch (picker) {
    case Picker::Boot: return s.bootPath;
    case Picker::Small: return s.smallFirmwarePath;
    case Picker::Big: break;
  }
  return s.bigFirmwarePath;
}

std::string SettingsFile::ReadValue(const std::string& key, const std::string& defaultValue) {
  return store_.Read(kSection, key, defaultValue);
}

bool SettingsFile::ReadBool(const std::string& key) { return ReadValue(key, "") == "1"; }

bool SettingsFile::WriteSetting(const std::string& key, const std::string& value) {
  return store_.Write(kSection, key, value);
}

bool SettingsFile::WriteHistory(const std::string& prefix, const HistoryList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    if (!WriteSetting(Format("%s%d", prefix.c_str(), i), list.At(i))) return false;
  }
  return true;
}

void SettingsFile::WriteDefaults() {
  for (const DefaultEntry& entry : kDefaults) WriteSetting(entry.key, entry.value);
}

void SettingsFile::UpdateControls() {
  if (updateControls_) updateControls_();
}

void SettingsFile::LoadSettings() {
  Selections& s = model_.selections;
  if (ReadValue("FW_FileName", "").empty()) WriteDefaults();

  s.bootPath = ReadValue("Boot_FileName", "NONE");
  s.bigFirmwarePath = ReadValue("FW_FileName", "NONE");
  s.smallFirmwarePath = ReadValue("FW_FileNameS", "NONE");
  s.fontListPath = ReadValue("FontList", "NONE");
  s.reportPath = ReadValue("Report", "NONE");
  s.packPath = ReadValue("PackFile", "NONE");

  const long check = ParseDecimal(ReadValue("Check", ""));
  const bool known = check >= 1 && check <= 3;
  s.loadFirmware = known && (check & 1) != 0;
  s.loadFont = known && (check & 2) != 0;

  s.checkProduct = ReadBool("CheckProduct");
  model_.versionLabel = s.checkProduct ? "" : "To get F/W version and PorductName isn't supported.";

  s.debugWritePageError = ReadBool("Debug_Write_Page_Error");
  s.formatChecked = ReadBool("Format");
  s.backupChecked = ReadBool("Backup");
  s.loadBootCode = ReadBool("LoadBootCode");

  process_.fwVersion = ReadValue("FW_Version", "");

  const std::string selectType = ReadValue("SelectType", "");
  if (!selectType.empty() && selectType[0] == '0') {
    SelectNand();
  } else {
    SelectNor();
  }

  LoadHistory(Picker::Boot);
  LoadHistory(Picker::Big);
  LoadHistory(Picker::Small);

  window_.SetVersionLine(model_.versionLabel);
}

void SettingsFile::LoadHistory(Picker picker) {
  HistoryList& list = History(picker);
  const std::string prefix = HistoryPrefix(picker);
  const std::string& path = PathOf(picker);
  const int limit = picker == Picker::Boot ? kBootHistoryKeys : kFirmwareHistoryKeys;

  list.Clear();
  bool firstMissing = false;
  for (int i = 0; i < limit; ++i) {
    const std::string item = ReadValue(Format("%s%d", prefix.c_str(), i), kMissing);
    if (item == kMissing) {
      firstMissing = i == 0;
      break;
    }
    if (item.empty()) break;
    list.Add(item);
  }
  if (firstMissing) {
    // An empty name would be stored as an empty entry and cut the history short next time.
    if (!path.empty()) list.Add(path);
    for (int i = 0; i < kPlaceholderCount; ++i) {
      const std::string placeholder = Format("NONE%d", i);
      WriteSetting(Format("%s%d", prefix.c_str(), i), placeholder);
      list.Add(placeholder);
    }
  }

  int selected = list.FindPrefix(path);
  if (selected < 0) selected = list.Count() > 0 ? 0 : -1;
  list.SetCurrent(selected);
}

void SettingsFile::SelectNand() {
  Selections& s = model_.selections;
  window_.EnableControl(Control::LoadBootCode, false);
  window_.EnableControl(Control::BootButton, false);
  window_.EnableControl(Control::BootList, false);
  window_.EnableControl(Control::Format, true);
  window_.EnableControl(Control::Backup, true);
  model_.bigButtonCaption = "Bi&g";
  window_.EnableControl(Control::SmallButton, true);
  window_.EnableControl(Control::SmallList, true);
  window_.ShowControl(Control::SmallButton, true);
  window_.ShowControl(Control::SmallList, true);
  WriteSetting("SelectType", "0");
  s.norSelected = false;
  UpdateControls();
}

void SettingsFile::SelectNor() {
  Selections& s = model_.selections;
  window_.EnableControl(Control::LoadBootCode, true);
  window_.EnableControl(Control::BootButton, s.loadBootCode);
  window_.EnableControl(Control::BootList, s.loadBootCode);
  // Cleared on screen only: the file keeps Format and Backup for a return to NAND.
  s.formatChecked = false;
  window_.EnableControl(Control::Format, false);
  s.backupChecked = false;
  window_.EnableControl(Control::Backup, false);
  model_.bigButtonCaption = "NOR";
  window_.EnableControl(Control::SmallButton, false);
  window_.EnableControl(Control::SmallList, false);
  window_.ShowControl(Control::SmallButton, false);
  window_.ShowControl(Control::SmallList, false);
  WriteSetting("SelectType", "1");
  s.norSelected = true;
  UpdateControls();
}

void SettingsFile::FilePicked(Picker picker, const std::string& path) {
  PathOf(picker) = path;
  WriteSetting(NameKey(picker), path);

  HistoryList& list = History(picker);
  const int found = list.FindPrefix(path);
  if (found >= 0) {
    list.SetCurrent(found);
    return;
  }
  const int at = list.current();
  list.RemoveAt(at);
  list.SetCurrent(list.InsertAt(at, path));
  WriteHistory(HistoryPrefix(picker), list);
}

bool SettingsFile::HistoryItemChosen(Picker picker, int index) {
  HistoryList& list = History(picker);
  if (index < 0) index = list.current();
  if (!list.Valid(index)) return false;
  list.SetCurrent(index);
  const std::string& item = list.At(index);
  PathOf(picker) = item.compare(0, 4, "NONE") == 0 ? std::string("NONE") : item;
  WriteSetting(NameKey(picker), PathOf(picker));
  UpdateControls();
  return true;
}

void SettingsFile::ImageRefused(std::optional<ImagePicker> picker) {
  window_.EnableControl(Control::Upgrade, false);
  if (!picker) return;
  const Control button = *picker == ImagePicker::Boot  ? Control::BootButton
                         : *picker == ImagePicker::Big ? Control::BigButton
                                                       : Control::SmallButton;
  window_.EnableControl(button, true);
}

void SettingsFile::BootFileAccepted(const std::string& path) {
  WriteSetting("LoadBootCode", model_.selections.loadBootCode ? "1" : "0");
  WriteSetting("Boot_FileName", path);
  WriteHistory("Boot", model_.bootHistory);
}

}  // namespace romsetter
