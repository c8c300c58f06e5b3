// The shipped program itself, started under wine as on Windows 98 (wine's per-program
// version) with the emulator wnaspi32.dll beside it, driven from outside as a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/win32/gui/resource.h"
#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "package/package_builder.h"
#include "package/sample_images.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

std::string DosPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

HWND WaitForWindow(const char* title, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND window = FindWindowA(nullptr, title)) return window;
    Sleep(100);
  }
  return nullptr;
}

// A program a failed check left open would hold the single-instance guard for the next test.
struct EndsChild {
  PROCESS_INFORMATION& child;
  ~EndsChild() {
    if (child.hProcess != nullptr && WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(child.hProcess, 1);
    }
  }
};

std::string ItemText(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

TEST(EndToEnd, UpgradesTheEmulatedDeviceAsOnWindows98) {
  const std::string dir = test::ScratchForCurrentTest("e2e");
  const std::string program = DosPath(ROMSETTER_GUI_EXE);
  // Windows 98 for this program only: the transport choice then takes ASPI.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Romsetter.exe", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);

  test::WriteFile(dir + "/device.cfg", "[device]\nversion \"02.03.04\"\nproduct \"E2E Player\"\n");
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/device.cfg").c_str());
  // The settings file of a machine that used the program before: firmware chosen.
  const std::vector<std::uint8_t> image = BalancedImage(64, 7);
  test::WriteFile(dir + "/fw.bin", std::string(image.begin(), image.end()));
  const std::string firmware = DosPath(dir + "/fw.bin");
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "Romsetter.ini");
  DeleteFileA("C:\\windows\\Romsetter.ini");
  WritePrivateProfileStringA("Environment", "IniVersion", "1.72", "Romsetter.ini");
  WritePrivateProfileStringA("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   ", "Romsetter.ini");
  for (const auto& [k, v] : {std::pair<const char*, std::string>{"FW_FileName", firmware}, {"FW0", firmware},
                             {"Check", "1"}, {"SelectType", "0"}, {"CheckProduct", "1"}}) {
    WritePrivateProfileStringA("Romsetter", k, v.c_str(), "Romsetter.ini");
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + program + "\"";
  ASSERT_TRUE(CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  EndsChild ends{process};
  HWND window = WaitForWindow("Romsetter Version:1.74", 60);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ItemText(window, IDC_VERSION), "Ver:02.03.04  Product:E2E Player");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_UPGRADE)));

  PostMessageA(GetDlgItem(window, IDC_UPGRADE), BM_CLICK, 0, 0);
  HWND done = WaitForWindow("Successful", 60);
  ASSERT_NE(done, nullptr);
  PostMessageA(done, WM_COMMAND, IDOK, 0);
  Sleep(500);
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  process.hProcess = nullptr;

  const std::string log = test::ReadFile("C:\\Romsetter.log");
  EXPECT_EQ(log.find("0x00001 Checking OS version.\r\n0x00002 OS = WinME or Win98\r\n"), 0u) << log;
  EXPECT_NE(log.find(" ***** F/W Upgrade successfully!!"), std::string::npos) << log;
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Romsetter.exe");
}

// A package built from the shipped program asks first, then upgrades from its own images.
TEST(EndToEnd, PackageAsksThenUpgradesFromItsOwnImages) {
  const std::string dir = test::ScratchForCurrentTest("e2e_package");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fw_NONE.exe", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);
  test::WriteFile(dir + "/device.cfg", "[device]\nversion \"05.06.07\"\n");
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/device.cfg").c_str());
  for (const auto& [name, pages] : {std::pair<const char*, std::size_t>{"/fw.bin", 32}, {"/small.bin", 16}}) {
    const std::vector<std::uint8_t> image = BalancedImage(pages, 9);
    test::WriteFile(dir + name, std::string(image.begin(), image.end()));
  }
  // The package runs beside the emulator library, as the program does.
  const std::string program = DosPath(ROMSETTER_GUI_EXE);
  const std::string library = program.substr(0, program.find_last_of('\\') + 1) + "wnaspi32.dll";
  ASSERT_TRUE(CopyFileA(library.c_str(), DosPath(dir + "/wnaspi32.dll").c_str(), FALSE));

  test::RecordingWindow window;
  ActivityLog log(dir + "/build.log", window);
  ProcessState process;
  Selections sel;
  sel.bigFirmwarePath = DosPath(dir + "/fw.bin");
  sel.smallFirmwarePath = DosPath(dir + "/small.bin");
  ImageStore images;
  ImagePageCounts pages;
  InMemoryProfileStore store;
  FontList fonts(sel, log, window, process, images, pages);
  StdioPackageFiles files(program);
  ASSERT_TRUE(BuildPackage(BuildPorts{files, log, window, store, fonts, process}, sel,
                           PackageIdentity{"", "", "Morvent  USB-MSC Disk INT   "}));

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  std::string command = "\"" + sel.packPath + "\"";
  ASSERT_TRUE(CreateProcessA(sel.packPath.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &child));
  EndsChild ends{child};
  HWND alert = WaitForWindow("ALERT !!", 60);
  ASSERT_NE(alert, nullptr);
  PostMessageA(alert, WM_COMMAND, IDOK, 0);
  HWND main = WaitForWindow("Romsetter Version:1.74", 60);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(ItemText(main, IDC_VERSION).rfind("Ver:05.06.07", 0), 0u);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_PACK_BUTTON)));
  PostMessageA(GetDlgItem(main, IDC_UPGRADE), BM_CLICK, 0, 0);
  HWND done = WaitForWindow("Successful", 60);
  ASSERT_NE(done, nullptr);
  PostMessageA(done, WM_COMMAND, IDOK, 0);
  Sleep(500);
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  child.hProcess = nullptr;
  const std::string lines = test::ReadFile("C:\\Romsetter.log");
  EXPECT_NE(lines.find("Written total of the F/W Page size = 0x0020"), std::string::npos) << lines;
  EXPECT_NE(lines.find(" ***** F/W Upgrade successfully!!"), std::string::npos) << lines;
  EXPECT_NE(lines.find("Sets:\"Morvent  USB-MSC Disk INT   \" len=28"), std::string::npos) << lines;
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fw_NONE.exe");

  // The same package cut short by a byte is damaged: its message, then the end, no question.
  const std::string whole = test::ReadFile(sel.packPath);
  test::WriteFile(dir + "/cut.exe", whole.substr(0, whole.size() - 1));
  const std::string cut = DosPath(dir + "/cut.exe");
  std::string cutCommand = "\"" + cut + "\"";
  PROCESS_INFORMATION damaged{};
  ASSERT_TRUE(CreateProcessA(cut.c_str(), &cutCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &damaged));
  EndsChild endsDamaged{damaged};
  HWND box = WaitForWindow("cut", 60);
  ASSERT_NE(box, nullptr);
  char text[256] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text control
  EXPECT_EQ(std::string(text).rfind("The package is damaged: ", 0), 0u) << text;
  EXPECT_EQ(FindWindowA(nullptr, "ALERT !!"), nullptr);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(WaitForSingleObject(damaged.hProcess, 30000), WAIT_OBJECT_0);
  DWORD status = 0;
  GetExitCodeProcess(damaged.hProcess, &status);
  EXPECT_EQ(status, 1u);
  CloseHandle(damaged.hThread);
  CloseHandle(damaged.hProcess);
  damaged.hProcess = nullptr;
}

// romsetter-cli.exe reaches the device the window would use: here ASPI with the emulator
// library beside it, as on Windows 98.
TEST(EndToEnd, CommandLineReachesTheRealTransport) {
  const std::string dir = test::ScratchForCurrentTest("e2e_cli");
  test::WriteFile(dir + "/device.cfg", "[device]\nversion \"07.08.09\"\n");
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/device.cfg").c_str());
  const std::string cli = DosPath(ROMSETTER_CLI_EXE);
  const std::string log = DosPath(dir + "/cli.log");
  std::string command = "\"" + cli + "\" info --device auto --aspi --log \"" + log + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(cli.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &child));
  EndsChild ends{child};
  ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  DWORD status = 99;
  GetExitCodeProcess(child.hProcess, &status);
  EXPECT_EQ(status, 0u);
  const std::string lines = test::ReadFile(dir + "/cli.log");
  EXPECT_NE(lines.find("Bingo m_AdapterId=0 m_TargetId=0!"), std::string::npos) << lines;
  EXPECT_NE(lines.find("F/W Size=0x0800"), std::string::npos) << lines;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  child.hProcess = nullptr;
}

}  // namespace
}  // namespace romsetter
