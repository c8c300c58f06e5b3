// The real dialog from the real resources, driven with window messages (under wine, on a
// private Xvfb display).  The device is the emulator wnaspi32.dll beside this program,
// reached as on Windows 98.
#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "app/win32/gui/resource.h"
#include "support/test_support.h"
#include "win32/emulator_dll.h"

namespace romsetter {
namespace {

class Dialog : public ::testing::Test {
 protected:
  void Open(PackageMode mode = PackageMode::Plain) {
    test::WriteFile(dir + "/scenario.cfg", "[device]\n");
    ASSERT_TRUE(emulator.LoadScenario(dir + "/scenario.cfg"));
    process.packageMode = mode;
    MainDialogOptions options;
    options.paths = FixedPaths::UnderFolder(dir);
    options.settingsFile = dir + "\\Romsetter.ini";
    options.platform = [](std::uint32_t& id) {
      id = 1;  // Windows 98: the emulator wnaspi32.dll is the device
      return true;
    };
    options.fileDialog = [this](const FileDialogRequest& request) {
      requests.push_back(request);
      return answer;
    };
    options.messageBox = [this](const std::string& text, const std::string& caption, MessageIcon) {
      boxes.push_back(caption + ": " + text);
      return MessageAnswer::Ok;
    };
    dialog = std::make_unique<MainDialog>(process, files, options);
    ASSERT_NE(dialog->Create(GetModuleHandleA(nullptr)), nullptr);
  }
  HWND Item(int id) const { return GetDlgItem(dialog->hwnd(), id); }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != 0; }
  bool Visible(int id) const { return (GetWindowLongA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  // As a mouse click: an automatic box toggles, then the dialog hears of it.
  void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
  std::string Setting(const char* key) {
    char value[512] = {};
    GetPrivateProfileStringA("Romsetter", key, "<none>", value, sizeof value, (dir + "\\Romsetter.ini").c_str());
    return value;
  }
  std::string Text(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
  }
  Selections& Sel() { return dialog->core()->model.selections; }

  std::string dir = test::ScratchForCurrentTest("gui");
  test::EmulatorDll emulator;
  ProcessState process;
  StdioPackageFiles files{"prog.exe"};
  std::vector<FileDialogRequest> requests;
  std::optional<std::string> answer;
  std::vector<std::string> boxes;
  std::unique_ptr<MainDialog> dialog;
};

TEST_F(Dialog, StartsWithTitleAboutEntryHiddenControlsAndTheDevicesVersion) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Text(dialog->hwnd()), "Romsetter Version:1.74");
  char entry[64] = {};
  GetMenuStringA(GetSystemMenu(dialog->hwnd(), FALSE), IDM_ABOUTBOX, entry, sizeof entry, MF_BYCOMMAND);
  EXPECT_STREQ(entry, "About Romsetter(&A)...");
  for (int id : {IDC_USB_OFF, IDC_EXTRACT, IDC_PROGRESS2, IDC_HIDDEN_TEXT1, IDC_YES_BUTTON, IDC_NO_BUTTON,
                 IDC_ERASE_NOTICE}) {
    EXPECT_FALSE(Visible(id)) << id;
  }
  EXPECT_TRUE(dialog->core()->discovery.present());
  // A fresh settings file: NAND, no firmware, the five placeholder names of each history.
  EXPECT_EQ(Setting("Check"), "0");
  EXPECT_EQ(SendMessageA(Item(IDC_BIG_LIST), CB_GETCOUNT, 0, 0), 5);
  const std::vector<std::string> log = test::ReadLines(dir + "/Romsetter.log");
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].substr(8), "Checking OS version.");
  EXPECT_EQ(log[1].substr(8), "OS = WinME or Win98");
  EXPECT_EQ(log.back().substr(8), "Waiting to launch...");
}

TEST_F(Dialog, EnablingRules) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const struct {
    bool nor, firmware, format;
    const char *big, *small;
    bool upgrade;
  } cases[] = {
      {false, true, false, "NONE", "D:\\fw\\small.bin", true},
      {true, true, false, "NONE", "D:\\fw\\small.bin", false},
      {false, true, false, "D:\\NONEXT\\big.bin", "NONE", false},
      {false, false, true, "NONE", "NONE", true},  // a format alone needs no file
      {false, false, false, "D:\\fw\\big.bin", "NONE", false},
  };
  for (const auto& c : cases) {
    Selections& s = Sel();
    s.norSelected = c.nor;
    s.loadFirmware = c.firmware;
    s.formatChecked = c.format;
    s.bigFirmwarePath = c.big;
    s.smallFirmwarePath = c.small;
    dialog->core()->UpdateControls();
    EXPECT_EQ(Enabled(IDC_UPGRADE), c.upgrade) << c.big << " " << c.nor;
  }
  dialog->core()->discovery.SetPresent(false);
  dialog->core()->UpdateControls();
  EXPECT_FALSE(Enabled(IDC_UPGRADE));
}

TEST_F(Dialog, ChoicesWriteTheirSettings) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Click(IDC_FORMAT);
  Click(IDC_BACKUP);
  EXPECT_EQ(Setting("Format"), "1");
  EXPECT_EQ(Setting("Backup"), "1");
  Click(IDC_NOR);
  EXPECT_EQ(Setting("SelectType"), "1");
  // Cleared on screen, kept in the file for a return to NAND.
  EXPECT_EQ(SendMessageA(Item(IDC_FORMAT), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(Setting("Format"), "1");
  EXPECT_FALSE(Visible(IDC_SMALL_BUTTON));
  EXPECT_EQ(Text(Item(IDC_BIG_BUTTON)), "NOR");

  Click(IDC_LOAD_BOOT);
  EXPECT_EQ(Setting("LoadBootCode"), "1");
  EXPECT_TRUE(Enabled(IDC_BOOT_BUTTON));
  Click(IDC_LOAD_FW);
  Click(IDC_LOAD_FONT);
  EXPECT_EQ(Setting("Check"), "3");
  EXPECT_TRUE(Enabled(IDC_BIG_LIST) && Enabled(IDC_FONT_EDIT));

  // "NONE3" chosen in a history list names the file "NONE".
  SendMessageA(Item(IDC_BIG_LIST), CB_SETCURSEL, 3, 0);
  SendMessageA(dialog->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BIG_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(IDC_BIG_LIST)));
  EXPECT_EQ(Sel().bigFirmwarePath, "NONE");
  EXPECT_EQ(Setting("FW_FileName"), "NONE");
}

TEST_F(Dialog, HistorySelectionAndFocusLossNameTheFile) {
  const std::string ini = dir + "\\Romsetter.ini";
  WritePrivateProfileStringA("Environment", "IniVersion", "1.72", ini.c_str());
  WritePrivateProfileStringA("Romsetter", "FW_FileName", "D:\\fw\\b.bin", ini.c_str());
  for (const auto& [key, value] : {std::pair<const char*, const char*>{"FW0", "D:\\fw\\a.bin"},
                                   {"FW1", "D:\\fw\\b.bin"}, {"FW2", "D:\\fw\\c.bin"}}) {
    WritePrivateProfileStringA("Romsetter", key, value, ini.c_str());
  }
  ASSERT_NO_FATAL_FAILURE(Open());
  HWND list = Item(IDC_BIG_LIST);
  auto notify = [&](int code) {
    SendMessageA(dialog->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BIG_LIST, code), reinterpret_cast<LPARAM>(list));
  };
  SendMessageA(list, CB_SETCURSEL, 2, 0);
  notify(CBN_SELCHANGE);
  EXPECT_EQ(Sel().bigFirmwarePath, "D:\\fw\\c.bin");
  EXPECT_EQ(Setting("FW_FileName"), "D:\\fw\\c.bin");
  // Focus lost with nothing selected: the remembered item is selected again.
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  notify(CBN_KILLFOCUS);
  EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Sel().bigFirmwarePath, "D:\\fw\\c.bin");
  // Focus lost over an item the user only scrolled to: the remembered item still counts.
  SendMessageA(list, CB_SETCURSEL, 0, 0);
  notify(CBN_KILLFOCUS);
  EXPECT_EQ(Sel().bigFirmwarePath, "D:\\fw\\c.bin");
}

TEST_F(Dialog, FontListPickerNamesTheReportAndCancelRemovesNone) {
  ASSERT_NO_FATAL_FAILURE(Open());
  for (const auto& [list, report] : {std::pair<const char*, const char*>{"D:\\a.tab\\b.tab", "D:\\a.h\\b.h"},
                                     {"D:\\L\\BIG5.TAB", "D:\\L\\BIG5.H"}}) {
    answer = list;
    Click(IDC_FONT_BUTTON);
    EXPECT_EQ(Sel().reportPath, report);
    EXPECT_EQ(Setting("Report"), report);
  }
  EXPECT_EQ(boxes.back(), "Error: The D:\\L\\BIG5.TAB file is no effect.");
  EXPECT_EQ(requests.back().filter, "(*.tab)|*.tab|All Files (*.*)|*.*||");
  // Paths at and past the classic limit are kept whole, in the field and in the settings.
  for (std::size_t length : {259u, 260u}) {
    const std::string path = "D:\\" + std::string(length - 7, 'f') + ".tab";
    answer = path;
    Click(IDC_FONT_BUTTON);
    EXPECT_EQ(Sel().fontListPath, path);
    SendMessageA(dialog->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_FONT_EDIT, EN_CHANGE), 0);  // pulled back from the field
    EXPECT_EQ(Sel().fontListPath, path) << length;
    EXPECT_EQ(Setting("FontList"), path);
  }
  EXPECT_EQ(requests.back().defaultExtension, "tab");

  SetDlgItemTextA(dialog->hwnd(), IDC_FONT_EDIT, "NONE");
  std::FILE* none = std::fopen("NONE", "wb");
  ASSERT_NE(none, nullptr);
  std::fclose(none);
  Click(IDCANCEL);
  EXPECT_EQ(std::fopen("NONE", "rb"), nullptr);
}

TEST_F(Dialog, ToolTipsNameTheirControls) {
  ASSERT_NO_FATAL_FAILURE(Open());
  HWND tip = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr);
  ASSERT_NE(tip, nullptr);
  const std::pair<int, const char*> tips[] = {{IDC_UPGRADE, "Launch to Upgrade F/W or Font"},
                                              {IDC_BIG_BUTTON, "Select BIN File to Upgrade F/W"},
                                              {IDC_BOOT_BUTTON, "Select Boot File to Upgrade BootCode"},
                                              {IDC_FONT_BUTTON, "Font of List"},
                                              {IDC_REPORT_BUTTON, "Select or Create Report File"},
                                              {IDC_PACK_BUTTON, "Build Package File"},
                                              {IDC_SMALL_BUTTON, "Select Small Block F/W."},
                                              {IDC_STATUS, " Status Bar "}};
  for (const auto& [id, text] : tips) {
    char buffer[128] = {};
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.hwnd = dialog->hwnd();
    info.uId = reinterpret_cast<UINT_PTR>(Item(id));
    info.lpszText = buffer;
    SendMessageA(tip, TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&info));
    EXPECT_STREQ(buffer, text);
  }
}

TEST_F(Dialog, PackagePresetsAndLocksTheWindow) {
  const struct {
    const char* name;
    bool nor;
    std::uint32_t boot, font;
  } cases[] = {{"NAND", false, 0, 1024}, {"NOR with boot", true, 512, 1024}, {"NOR without boot", true, 0, 1024},
               {"no fonts", false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    process = ProcessState{};
    process.package.nor = c.nor;
    process.package.format = process.package.backup = true;
    process.package.bootLength = c.boot;
    process.package.fontLength = c.font;
    ASSERT_NO_FATAL_FAILURE(Open(PackageMode::Package));
    const Selections& s = Sel();
    EXPECT_EQ(s.norSelected, c.nor);
    EXPECT_EQ(s.loadBootCode, c.boot != 0);
    EXPECT_EQ(s.formatChecked, !c.nor);
    EXPECT_EQ(s.loadFont, c.font != 0);
    EXPECT_FALSE(Enabled(c.nor ? IDC_NOR : IDC_NAND));
    EXPECT_FALSE(Visible(c.nor ? IDC_NAND : IDC_NOR));
    EXPECT_FALSE(Enabled(IDC_PACK_BUTTON) || Enabled(IDC_BIG_LIST) || Enabled(IDC_LOAD_FW));
    EXPECT_FALSE(Visible(IDC_REPORT_BUTTON) || Visible(IDC_REPORT_EDIT));
    EXPECT_EQ(Visible(IDC_FORMAT), !c.nor);
    EXPECT_EQ(Text(Item(IDC_PACK_EDIT)), "prog.exe");
    dialog.reset();
  }
}

}  // namespace
}  // namespace romsetter
