// The real dialog from the real resources, driven with window messages (under wine, on a
// private Xvfb display).  The device is the emulator wnaspi32.dll (on wine's PATH),
// reached as on Windows 98.
#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstdio>
#include <tuple>

#include "app/win32/gui/resource.h"
#include "app/removal_warnings.h"
#include "support/data_rows.h"
#include "device/recording.h"
#include "package/sample_images.h"
#include "support/test_support.h"
#include "win32/emulated_pass_through.h"
#include "win32/emulator_dll.h"
#include "win32/nt_registry_setup.h"

namespace romsetter {
namespace {

class Dialog : public ::testing::Test {
 protected:
  void Open(PackageMode mode = PackageMode::Plain) {
    test::WriteFile(dir + "/scenario.cfg", scenario);
    ASSERT_TRUE(emulator.LoadScenario(dir + "/scenario.cfg"));
    process.packageMode = mode;
    MainDialogOptions options;
    options.paths = FixedPaths::UnderFolder(dir);
    options.settingsFile = dir + "\\Romsetter.ini";
    options.platform = [this](std::uint32_t& id) {
      id = platformId;
      return true;
    };
    options.ioControl = [this](void*, std::uint32_t code, void* in, std::uint32_t, void* out, std::uint32_t,
                               std::uint32_t*) {
      ioControlCodes.push_back(code);
      if (code != PassThroughTransport::kIoctlScsiPassThroughDirect) return true;  // the volume's lock, dismount
      return test::EmulatedPassThrough(ntDevice, in, out);
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
  Selections& Sel() { return dialog->core()->model().selections; }
  // A settings file of this version (IniVersion 1.72) holding `entries`, written before Open.
  void Ini(std::initializer_list<std::tuple<const char*, const char*, std::string>> entries) {
    const std::string ini = dir + "\\Romsetter.ini";
    WritePrivateProfileStringA("Environment", "IniVersion", "1.72", ini.c_str());
    for (const auto& [section, key, value] : entries) WritePrivateProfileStringA(section, key, value.c_str(), ini.c_str());
  }
  // The emulator library's device from now on.
  void Attach(const std::string& lines) {
    test::WriteFile(dir + "/now.cfg", lines);
    ASSERT_TRUE(emulator.LoadScenario(dir + "/now.cfg"));
  }
  void DeviceChange(WPARAM event, DWORD type = DBT_DEVTYP_VOLUME) {
    DEV_BROADCAST_HDR header{};
    header.dbch_size = sizeof header;
    header.dbch_devicetype = type;
    SendMessageA(dialog->hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
  }

  std::string dir = test::ScratchForCurrentTest("gui");
  std::string scenario = "[device]\n";
  std::uint32_t platformId = 1;  // Windows 98: the emulator wnaspi32.dll is the device
  test::EmulatorDll emulator;
  EmulatedDevice ntDevice;  // behind the pass-through on the NT family
  std::vector<std::uint32_t> ioControlCodes;
  ProcessState process;
  StdioPackageFiles files{"prog.exe"};
  std::vector<FileDialogRequest> requests;
  std::optional<std::string> answer;
  std::vector<std::string> boxes;
  std::unique_ptr<MainDialog> dialog;
};

// The window as it opens: its title and menu entry, the hidden controls, the device found,
// the tool tips, and a banner that covers its template's rectangle and nothing below it,
// whatever the bitmap's own size.
TEST_F(Dialog, TheWindowAsItOpens) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Text(dialog->hwnd()), "Romsetter Version:1.74");
  char entry[64] = {};
  GetMenuStringA(GetSystemMenu(dialog->hwnd(), FALSE), IDM_ABOUTBOX, entry, sizeof entry, MF_BYCOMMAND);
  EXPECT_STREQ(entry, "About Romsetter(&A)...");
  for (int id : {IDC_USB_OFF, IDC_EXTRACT, IDC_PROGRESS2, IDC_HIDDEN_TEXT1, IDC_YES_BUTTON, IDC_NO_BUTTON,
                 IDC_ERASE_NOTICE}) {
    EXPECT_FALSE(Visible(id)) << id;
  }
  EXPECT_TRUE(dialog->core()->devicePresent());
  // A fresh settings file: the five placeholder names of each history (its entries are the
  // settings suite's).
  EXPECT_EQ(SendMessageA(Item(IDC_BIG_LIST), CB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(test::ReadLines(dir + "/Romsetter.log").back().substr(8), "Waiting to launch...");

  HWND tip = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr);
  ASSERT_NE(tip, nullptr);
  const int ids[] = {IDC_UPGRADE,       IDC_BIG_BUTTON,  IDC_BOOT_BUTTON,  IDC_FONT_BUTTON,
                     IDC_REPORT_BUTTON, IDC_PACK_BUTTON, IDC_SMALL_BUTTON, IDC_STATUS};
  const auto texts = test::DataRows("gui/data/tool_tips.txt", 1);
  ASSERT_EQ(texts.size(), std::size(ids));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    char buffer[128] = {};
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.hwnd = dialog->hwnd();
    info.uId = reinterpret_cast<UINT_PTR>(Item(ids[i]));
    info.lpszText = buffer;
    SendMessageA(tip, TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(buffer, texts[i][0]);
  }

  RECT expected{0, 0, BANNER_WIDTH, BANNER_HEIGHT};
  MapDialogRect(dialog->hwnd(), &expected);
  auto placed = [&](int id) {
    RECT r{};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, dialog->hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT banner = placed(IDC_BANNER);
  EXPECT_EQ(std::tie(banner.left, banner.top, banner.right, banner.bottom),
            std::tie(expected.left, expected.top, expected.right, expected.bottom));
  EXPECT_LE(banner.bottom, placed(IDC_NAND).top);
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
}

TEST_F(Dialog, HistorySelectionAndFocusLossNameTheFile) {
  Ini({{"Romsetter", "FW_FileName", "D:\\fw\\b.bin"}, {"Romsetter", "FW0", "D:\\fw\\a.bin"},
       {"Romsetter", "FW1", "D:\\fw\\b.bin"}, {"Romsetter", "FW2", "D:\\fw\\c.bin"}});
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

TEST_F(Dialog, PackagePresetsAndLocksTheWindow) {
  for (const auto& row : test::DataRows("gui/data/package_presets.txt", 4)) {
    SCOPED_TRACE(row[3]);
    const bool nor = row[0] == "nor";
    const std::uint32_t boot = std::stoul(row[1]), font = std::stoul(row[2]);
    process = ProcessState{};
    process.package.nor = nor;
    process.package.format = process.package.backup = true;
    process.package.bootLength = boot;
    process.package.fontLength = font;
    ASSERT_NO_FATAL_FAILURE(Open(PackageMode::Package));
    const Selections& s = Sel();
    EXPECT_EQ(s.norSelected, nor);
    EXPECT_EQ(s.loadBootCode, boot != 0);
    EXPECT_EQ(s.formatChecked, !nor);
    EXPECT_EQ(s.loadFont, font != 0);
    EXPECT_FALSE(Enabled(nor ? IDC_NOR : IDC_NAND));
    EXPECT_FALSE(Visible(nor ? IDC_NAND : IDC_NOR));
    EXPECT_FALSE(Enabled(IDC_PACK_BUTTON) || Enabled(IDC_BIG_LIST) || Enabled(IDC_LOAD_FW));
    EXPECT_FALSE(Visible(IDC_REPORT_BUTTON) || Visible(IDC_REPORT_EDIT));
    EXPECT_EQ(Visible(IDC_FORMAT), !nor);
    EXPECT_EQ(Text(Item(IDC_PACK_EDIT)), "prog.exe");
    dialog.reset();
  }
}

// RecordFile= in the settings records every command the window sends, from the start-up on;
// a file that cannot be created is said once and the window runs unrecorded.
TEST_F(Dialog, RecordFileRecordsTheWindowsCommands) {
  const std::string recording = dir + "\\unit.jsonl";
  Ini({{"DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   "}, {"Romsetter", "CheckProduct", "1"},
       {"Romsetter", "RecordFile", recording}});
  ASSERT_NO_FATAL_FAILURE(Open());
  dialog.reset();
  Recording recorded;
  std::string error;
  ASSERT_TRUE(LoadRecording(recording, recorded, error)) << error;
  EXPECT_EQ(recorded.header.family, TransportFamily::Aspi);
  std::size_t versionQueries = 0;
  for (const RecordingEntry& entry : recorded.entries) {
    const RecordedCommand& c = entry.command;
    if (c.cdbLength > 1 && c.cdb[0] == kVendorOpcode && c.cdb[1] == DEV_GET_VERSION) ++versionQueries;
  }
  EXPECT_EQ(versionQueries, 1u);
  EXPECT_TRUE(boxes.empty());

  Ini({{"Romsetter", "RecordFile", dir + "\\no such folder\\unit.jsonl"}});
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(dialog->core()->devicePresent());
}

// The start-up probe: an empty identification must not match every disk on the bus (the
// settings file's other damage is the settings and profile store suites'); a device that goes
// away between the scan and the product query leaves the window without its version (the
// query failed) and without a box, and counts as present until a job finds it gone.
TEST_F(Dialog, TheStartUpProbeOfAnUnknownOrALostDevice) {
  Ini({{"DiskVen_98", "DiskVen_00", ""}});
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_FALSE(dialog->core()->devicePresent());
  EXPECT_TRUE(boxes.empty()) << boxes.front();

  Ini({{"DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   "}, {"Romsetter", "CheckProduct", "1"}});
  scenario = "[device]\nfault detach DEV_GET_VERSION\n";
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Text(Item(IDC_VERSION)), "Checking product is not supported");
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(IsWindow(dialog->hwnd()));
}

// On the NT family the device is found through the set-up service and the mounted volumes,
// then reached by the pass-through on its drive; a format runs through the same driver (the
// job's lock of the volume is the job suite's).
TEST_F(Dialog, OnTheNtFamilyTheRegistryNamesTheDriveAndPassThroughReachesIt) {
  using namespace test;
  const std::string instance = kTwo + "\\0001";
  struct Cleanup {
    ~Cleanup() {
      DeleteTree(HKEY_LOCAL_MACHINE, kTwo);
      HKEY key = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMounted.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
      RegDeleteValueA(key, Dos('Q').c_str());
      RegCloseKey(key);
    }
  } cleanup;
  ASSERT_TRUE(AddInstance(instance, {"USBSTOR\\DiskRsB_Two", "GenDisk"}));
  ASSERT_TRUE(SetRaw(instance, "ParentIdPrefix", REG_SZ, kPrefix + '\0'));
  ASSERT_TRUE(SetRaw(kMounted, Dos('Q'), REG_BINARY, Utf16(kVolume + kVolumeTail)));
  Ini({{"HardwareID", "DiskVen_00", "DiskRsB_Two"}, {"USBSTOR_SUBKEY", "DiskVen_00", "Disk&Ven_RsB&Prod_Two"},
       {"DiskVen_98", "DiskVen_00", "RsB Two"}, {"Romsetter", "CheckProduct", "1"}});
  ntDevice.config().version = "04.05.06";
  platformId = kPlatformWin32Nt;
  ASSERT_NO_FATAL_FAILURE(Open());

  EXPECT_TRUE(dialog->core()->devicePresent());
  EXPECT_EQ(Text(Item(IDC_VERSION)).rfind("Ver:04.05.06", 0), 0u) << Text(Item(IDC_VERSION));
  const std::string log = test::ReadFile(dir + "/Romsetter.log");
  EXPECT_NE(log.find("\"Q:\" is got for InDisk!!"), std::string::npos) << log;
  ASSERT_FALSE(ioControlCodes.empty());
  for (std::uint32_t code : ioControlCodes) EXPECT_EQ(code, PassThroughTransport::kIoctlScsiPassThroughDirect);

  Sel().formatChecked = true;
  dialog->core()->UpdateControls();
  ntDevice.ClearTrace();
  Click(IDC_UPGRADE);
  EXPECT_FALSE(ntDevice.TraceOf("DEV_FORMAT_16").empty()) << test::ReadFile(dir + "/Romsetter.log");
}

// The About box runs its own modal loop; a timer on this thread reads it and closes it.
struct AboutReading {
  std::string caption, version, built;
  int ticks = 0;
};
AboutReading about;

void CALLBACK ReadAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowA(nullptr, "About");
  if (box == nullptr && ++about.ticks < 100) return;
  KillTimer(nullptr, timer);
  if (box == nullptr) return;
  char text[128] = {};
  GetWindowTextA(box, text, sizeof text);
  about.caption = text;
  GetDlgItemTextA(box, IDC_ABOUT_VERSION, text, sizeof text);
  about.version = text;
  GetDlgItemTextA(box, IDC_ABOUT_BUILT, text, sizeof text);
  about.built = text;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Dialog, SystemMenuAboutBoxAndTheMinimisedIcon) {
  ASSERT_NO_FATAL_FAILURE(Open());
  about = AboutReading{};
  SetTimer(nullptr, 0, 50, ReadAboutBox);
  SendMessageA(dialog->hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);  // returns when the box is closed
  EXPECT_EQ(about.caption, "About");
  EXPECT_EQ(about.version, "Romsetter Version:1.74");
  EXPECT_EQ(about.built, "Built date:2005/5/25-- Version:1.74");
  EXPECT_TRUE(IsWindow(dialog->hwnd()));

  // Minimised, and when dragged, the window shows the application's icon.
  const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog->hwnd(), WM_QUERYDRAGICON, 0, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog->hwnd(), WM_GETICON, ICON_BIG, 0)), icon);
}

TEST_F(Dialog, VolumeArrivalAndRemovalProbeTheDeviceAgain) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Sel().formatChecked = true;  // a format alone: the device's presence decides
  dialog->core()->UpdateControls();
  ASSERT_TRUE(Enabled(IDC_UPGRADE));
  Attach("[device]\nattached no\n");
  DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE);  // not a volume: nothing is probed
  EXPECT_TRUE(dialog->core()->devicePresent());
  DeviceChange(DBT_DEVICEREMOVECOMPLETE);
  EXPECT_FALSE(dialog->core()->devicePresent());
  EXPECT_FALSE(Enabled(IDC_UPGRADE));
  EXPECT_EQ(Text(Item(IDC_VERSION)), "");  // cleared by the core's presence, which also waits out a job
  SendMessageA(dialog->hwnd(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);  // no header: ignored, no crash
  // Windows 98/ME put a drive number where a header would be, a screen change its size.
  for (const auto& [event, value] : {std::pair<WPARAM, LPARAM>{DBT_LOW_DISK_SPACE, 3}, {DBT_NO_DISK_SPACE, 2},
                                     {DBT_MONITORCHANGE, MAKELPARAM(1024, 768)}}) {
    SendMessageA(dialog->hwnd(), WM_DEVICECHANGE, event, value);
  }

  Attach("[device]\nversion \"09.08.07\"\n");
  DeviceChange(DBT_DEVICEARRIVAL);
  EXPECT_TRUE(dialog->core()->devicePresent());
  EXPECT_TRUE(Enabled(IDC_UPGRADE));
  EXPECT_EQ(Text(Item(IDC_VERSION)).rfind("Ver:09.08.07", 0), 0u) << Text(Item(IDC_VERSION));
}

TEST_F(Dialog, ActivationClosesTheSystemsRemovalWarning) {
  ASSERT_NO_FATAL_FAILURE(Open());
  HWND warning = CreateWindowExA(0, "STATIC", RemovalWarningTitles()[2].c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(warning, nullptr);
  auto pump = [] {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  };
  HWND second = CreateWindowExA(0, "STATIC", RemovalWarningTitles()[5].c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(second, nullptr);
  // Losing the foreground closes one as gaining it does; one window per message.
  EXPECT_EQ(SendMessageA(dialog->hwnd(), WM_ACTIVATEAPP, FALSE, 0), 0);
  pump();
  EXPECT_FALSE(IsWindow(warning));
  EXPECT_TRUE(IsWindow(second));
  EXPECT_EQ(SendMessageA(dialog->hwnd(), WM_ACTIVATEAPP, TRUE, 0), 0);
  pump();
  EXPECT_FALSE(IsWindow(second));
}

// Saved with BackupFW on and Load F/W off: the window opens without the backup, which would
// otherwise erase both copies with no image to write.
TEST_F(Dialog, BackupFWNeedsLoadFWFromTheStart) {
  Ini({{"Romsetter", "FW_FileName", "NONE"}, {"Romsetter", "SelectType", "0"}, {"Romsetter", "Backup", "1"},
       {"Romsetter", "Check", "0"}, {"Romsetter", "Format", "1"}});
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_FALSE(Sel().backupChecked);
  EXPECT_NE(SendMessageA(Item(IDC_BACKUP), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(Enabled(IDC_BACKUP));
  EXPECT_TRUE(Sel().formatChecked);
  Click(IDC_LOAD_FW);
  EXPECT_TRUE(Enabled(IDC_BACKUP));
}

// Alt+Backspace in a package writes its images out; elsewhere the key does nothing special.
// Which files a failed extraction names is the unpacker's (package suite).
TEST_F(Dialog, AltBackspaceExtractsAPackagesImages) {
  const std::vector<std::uint8_t> firmware = BalancedImage(8, 3);
  test::WriteFile(dir + "/fw.bin", std::string(firmware.begin(), firmware.end()));
  test::WriteFile(dir + "/prog.exe", "MZ the program");
  files = StdioPackageFiles(dir + "/prog.exe");
  const std::string extracted = dir + "/MV_Big.bin";
  auto altBackspace = [&] { SendMessageA(dialog->hwnd(), WM_SYSCOMMAND, SC_KEYMENU, 8); };

  // The package, as the window's "Build Package File" makes it.
  ASSERT_NO_FATAL_FAILURE(Open());
  Click(IDC_LOAD_FW);
  Sel().bigFirmwarePath = Sel().smallFirmwarePath = dir + "/fw.bin";
  SendMessageA(dialog->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_PACK_BUTTON, BN_CLICKED), 0);
  ASSERT_TRUE(test::FileExists(Sel().packPath)) << Sel().packPath;
  files = StdioPackageFiles(Sel().packPath);
  altBackspace();
  EXPECT_EQ(test::ReadFile(extracted), "") << "outside package mode";
  dialog.reset();

  ASSERT_NO_FATAL_FAILURE(Open(PackageMode::Package));
  SendMessageA(dialog->hwnd(), WM_SYSCOMMAND, SC_KEYMENU, 'x');  // another key
  EXPECT_EQ(test::ReadFile(extracted), "");
  altBackspace();
  EXPECT_EQ(test::ReadFile(extracted), std::string(firmware.begin(), firmware.end()));
  std::vector<std::string> log = test::ReadLines(dir + "/Romsetter.log");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].substr(8), "Extracting Data ...");
  EXPECT_EQ(log.back().substr(8), "Extracting Data ... OK");

  // The program file gone: the user is told, and the log does not call it done.
  files = StdioPackageFiles(dir + "/gone.exe");
  altBackspace();
  log = test::ReadLines(dir + "/Romsetter.log");
  EXPECT_EQ(log.back().substr(8), "Extracting Data ... failed");
  EXPECT_FALSE(boxes.empty());
}

}  // namespace
}  // namespace romsetter
