// The shipped program itself, started under wine as on Windows 98 (wine's per-program
// version) with the emulator wnaspi32.dll on wine's PATH, driven from outside as a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/win32/gui/resource.h"
#include "app/win32/instance_guard.h"
#include "base/format.h"
#include "support/data_rows.h"
#include "emulator/emulated_device.h"
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

// A started program; one a failed check left open is ended, as it would hold the
// single-instance guard for the next test.
class Child {
 public:
  // With `output`, the program's standard output goes to that file.
  bool Start(const std::string& program, const std::string& arguments = "", const std::string& output = "") {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE out = INVALID_HANDLE_VALUE;
    if (!output.empty()) {
      SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
      out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (out == INVALID_HANDLE_VALUE) return false;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = out;
      startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::string command = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    const bool started = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, out != INVALID_HANDLE_VALUE,
                                        0, nullptr, nullptr, &startup, &process_) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return started;
  }
  // The exit status, or -1 when the program has not ended within `ms`.
  long Wait(DWORD ms) {
    DWORD status = 0;
    if (WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    if (!GetExitCodeProcess(process_.hProcess, &status)) return -1;
    return static_cast<long>(status);
  }
  ~Child() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

 private:
  PROCESS_INFORMATION process_{};
};

// Windows 98 for one program only (wine's per-program version): its transport is ASPI.
void AsWindows98(const char* program, bool on) {
  const std::string path = std::string("Software\\Wine\\AppDefaults\\") + program;
  if (!on) {
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    return;
  }
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);
}

// Presses "&Upgrade", confirms the closing box, closes the window and waits for the end; the
// log then says so, and the emulator library, which keeps the device's flash when the program
// ends, holds `image` as the firmware.
void UpgradeAndClose(HWND window, Child& child, const std::string& flashFile, const std::vector<std::uint8_t>& image) {
  PostMessageA(GetDlgItem(window, IDC_UPGRADE), BM_CLICK, 0, 0);
  HWND done = WaitForWindow("Successful", 60);
  ASSERT_NE(done, nullptr);
  PostMessageA(done, WM_COMMAND, IDOK, 0);
  Sleep(500);
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.Wait(30000), 0);
  const std::string log = test::ReadFile("C:\\Romsetter.log");
  EXPECT_NE(log.find(" ***** F/W Upgrade successfully!!"), std::string::npos) << log;

  EmulatedDeviceConfig config;
  config.flashFile = flashFile;
  EmulatedDevice device(config);
  std::string error;
  ASSERT_TRUE(device.LoadFlash(error)) << error;
  for (std::uint32_t page = 0; page < image.size() / 512; ++page) {
    const EmulatedDevice::Page held = device.ReadFlash(config.firmware.addr1 + page);
    ASSERT_TRUE(std::equal(held.begin(), held.end(), image.begin() + page * 512)) << "firmware page " << page;
  }
}

std::string ItemText(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

TEST(EndToEnd, UpgradesTheEmulatedDeviceAsOnWindows98) {
  const std::string dir = test::ScratchForCurrentTest("e2e");
  const std::string program = DosPath(ROMSETTER_GUI_EXE);
  AsWindows98("Romsetter.exe", true);

  test::WriteFile(dir + "/device.cfg",
                  "[device]\nversion \"02.03.04\"\nproduct \"E2E Player\"\nflash_file device.flash\n");
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

  Child child;
  ASSERT_TRUE(child.Start(program));
  HWND window = WaitForWindow("Romsetter Version:1.74", 60);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ItemText(window, IDC_VERSION), "Ver:02.03.04  Product:E2E Player");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_UPGRADE)));
  ASSERT_NO_FATAL_FAILURE(UpgradeAndClose(window, child, dir + "/device.flash", image));
  const std::string log = test::ReadFile("C:\\Romsetter.log");
  EXPECT_EQ(log.find("0x00001 Checking OS version.\r\n0x00002 OS = WinME or Win98\r\n"), 0u) << log;
  AsWindows98("Romsetter.exe", false);
}

// A package built from the shipped program asks first, then upgrades from its own images.
TEST(EndToEnd, PackageAsksThenUpgradesFromItsOwnImages) {
  const std::string dir = test::ScratchForCurrentTest("e2e_package");
  AsWindows98("fw_NONE.exe", true);
  test::WriteFile(dir + "/device.cfg", "[device]\nversion \"05.06.07\"\nflash_file device.flash\n");
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/device.cfg").c_str());
  const std::vector<std::uint8_t> firmware = BalancedImage(32, 9);
  const std::vector<std::uint8_t> small = BalancedImage(16, 9);
  test::WriteFile(dir + "/fw.bin", std::string(firmware.begin(), firmware.end()));
  test::WriteFile(dir + "/small.bin", std::string(small.begin(), small.end()));
  // The package finds the emulator library on wine's PATH, as the program does: a copy in
  // its own folder would refuse to load.
  const std::string program = DosPath(ROMSETTER_GUI_EXE);

  // Built by the shipped command line, with the settings' first identification.
  Child pack;
  ASSERT_TRUE(pack.Start(DosPath(ROMSETTER_CLI_EXE), "pack --program \"" + program + "\" --firmware \"" +
                         DosPath(dir + "/fw.bin") + "\" --small-firmware \"" + DosPath(dir + "/small.bin") +
                         "\" --log \"" + DosPath(dir + "/build.log") + "\""));
  ASSERT_EQ(pack.Wait(60000), 0) << test::ReadFile(dir + "/build.log");
  const std::string packPath = DosPath(dir + "/fw_NONE.exe");

  Child child;
  ASSERT_TRUE(child.Start(packPath));
  HWND alert = WaitForWindow("ALERT !!", 60);
  ASSERT_NE(alert, nullptr);
  PostMessageA(alert, WM_COMMAND, IDOK, 0);
  HWND main = WaitForWindow("Romsetter Version:1.74", 60);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(ItemText(main, IDC_VERSION).rfind("Ver:05.06.07", 0), 0u);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_PACK_BUTTON)));
  ASSERT_NO_FATAL_FAILURE(UpgradeAndClose(main, child, dir + "/device.flash", firmware));
  const std::string lines = test::ReadFile("C:\\Romsetter.log");
  EXPECT_NE(lines.find("Sets:\"Morvent  USB-MSC Disk INT\" len=25"), std::string::npos) << lines;  // blanks trimmed
  AsWindows98("fw_NONE.exe", false);

  // The same package cut short by a byte is damaged: its message, then the end, no question
  // (which damage a package has is the package suite's).
  const std::string whole = test::ReadFile(packPath);
  test::WriteFile(dir + "/cut.exe", whole.substr(0, whole.size() - 1));
  Child damaged;
  ASSERT_TRUE(damaged.Start(DosPath(dir + "/cut.exe")));
  HWND box = WaitForWindow("cut", 60);
  ASSERT_NE(box, nullptr);
  char text[256] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text control
  EXPECT_EQ(std::string(text).rfind("The package is damaged: ", 0), 0u) << text;
  EXPECT_EQ(FindWindowA(nullptr, "ALERT !!"), nullptr);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(damaged.Wait(30000), 1);
}

// romsetter-cli.exe reaches the device the window would use (ASPI with the emulator library,
// as on Windows 98), and the window's guard holds it too: while a copy of either program works
// on a real device, it refuses to start on one (no device, exit status 2).
TEST(EndToEnd, CommandLineHonoursTheWindowsGuard) {
  const std::string dir = test::ScratchForCurrentTest("e2e_guard");
  test::WriteFile(dir + "/device.cfg", "[device]\n");
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/device.cfg").c_str());
  const std::string cli = DosPath(ROMSETTER_CLI_EXE);
  const std::string log = DosPath(dir + "/cli.log");
  {
    const InstanceGuard window;  // as Romsetter.exe holds it
    ASSERT_TRUE(window.held());
    Child child;
    ASSERT_TRUE(child.Start(cli, "info --device auto --aspi --log \"" + log + "\""));
    EXPECT_EQ(child.Wait(60000), 2);
    EXPECT_FALSE(test::FileExists(dir + "/cli.log"));
  }
  Child free;
  ASSERT_TRUE(free.Start(cli, "info --device auto --aspi --log \"" + log + "\""));
  EXPECT_EQ(free.Wait(60000), 0);
}

// Three devices on one adapter beside a hard disk, upgraded at once through the one ASPI
// library: the second has a page that always reads back wrong, the third is unplugged midway.
TEST(EndToEnd, CommandLineUpgradesEveryAspiTargetAtOnce) {
  const std::string dir = test::ScratchForCurrentTest("e2e_several");
  const std::vector<std::uint8_t> fw = BalancedImage(16, 31);
  test::WriteFile(dir + "/fw.bin", std::string(fw.begin(), fw.end()));
  std::string scenario = "[device 0 0]\ninquiry \"Maxtor  6Y080L0         YAR4\"\n";
  const int targets[] = {1, 3, 6};
  for (int i = 0; i < 3; ++i) {
    scenario += Format("[device 0 %d]\nflash_file d%d.flash\n", targets[i], targets[i]);
    scenario += "firmware 0x0100 0x1000 0x01000000\nbackup 0x2000 0x3000\nfont 0x40 0x4000 0x5000\n";
    if (i == 1) scenario += "fault bad_page UPT_READ_PAGE page=0x1003\n";
    if (i == 2) scenario += "fault detach UPT_WRITE_PAGE occurrence=40\n";
  }
  test::WriteFile(dir + "/tray.cfg", scenario);
  SetEnvironmentVariableA("ROMSETTER_EMULATOR_CONFIG", DosPath(dir + "/tray.cfg").c_str());
  const std::string cli = DosPath(ROMSETTER_CLI_EXE);
  const std::string images = " --firmware \"" + DosPath(dir + "/fw.bin") + "\" --backup --log \"";
  {
    Child child;
    ASSERT_TRUE(child.Start(cli, "upgrade --all --yes --aspi" + images + DosPath(dir + "/run.log") + "\"",
                            DosPath(dir + "/out.txt")));
    EXPECT_EQ(child.Wait(120000), 3);  // the worst outcome
  }
  const std::string out = test::ReadFile(dir + "/out.txt");
  const std::size_t listed = out.find("romsetter-cli: 3 devices match");
  ASSERT_NE(listed, std::string::npos) << out;
  EXPECT_LT(listed, out.find("aspi:0:1"));
  EXPECT_EQ(out.find("aspi:0:0"), std::string::npos) << out;
  const char* outcomes[] = {"success", "device-failure", "device-failure"};
  for (int i = 0; i < 3; ++i) {
    const std::string name = Format("aspi:0:%d", targets[i]);
    const std::size_t row = out.rfind(name);
    ASSERT_NE(row, std::string::npos) << out;
    EXPECT_EQ(out.find_first_not_of(' ', row + name.size()), out.find(outcomes[i], row)) << out;
    // Each log holds its own device's run and no other device's address.
    const std::string log = test::ReadFile(dir + Format("/run-aspi-0-%d.log", targets[i]));
    EXPECT_NE(log.find(Format("Bingo m_AdapterId=0 m_TargetId=%d!", targets[i])), std::string::npos) << log;
    for (int other : targets) {
      if (other != targets[i]) {
        EXPECT_EQ(log.find(Format("m_TargetId=%d!", other)), std::string::npos) << log;
      }
    }
    EXPECT_EQ(log.find("Maxtor"), std::string::npos) << log;
  }

  // A real device is named by its drive or its ASPI target, never ambiguously.
  for (const auto& c : test::DataRows("gui/data/device_name_refusals.txt", 2)) {
    Child refused;
    ASSERT_TRUE(refused.Start(cli, c[1]));
    EXPECT_EQ(refused.Wait(60000), std::stol(c[0])) << c[1];
  }

  // The healthy device holds the image, read back through the ASPI target named alone.
  Child extract;
  ASSERT_TRUE(extract.Start(cli, "extract --device aspi:0:1 --firmware \"" + DosPath(dir + "/fw.bin") +
                                     "\" --output \"" + DosPath(dir + "/back.bin") + "\" --log \"" +
                                     DosPath(dir + "/back.log") + "\""));
  EXPECT_EQ(extract.Wait(60000), 0);
  EXPECT_EQ(test::ReadFile(dir + "/back.bin"), test::ReadFile(dir + "/fw.bin"));
}

}  // namespace
}  // namespace romsetter
