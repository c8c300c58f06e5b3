// The main window's life: its start-up (the core, the transport, the first probe, the
// controls) and the messages it answers.  The commands are in main_dialog_commands.cpp, the
// window port and the fields in main_dialog_window.cpp.
#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>
#include <dbt.h>

#include "app/win32/gui/resource.h"
#include "app/win32/system_error_text.h"
#include "package/unpack.h"

namespace romsetter {

MainDialog::MainDialog(ProcessState& process, PackageFiles& files, MainDialogOptions options)
    : process_(process), files_(files), options_(std::move(options)), store_(options_.settingsFile) {}

MainDialog::~MainDialog() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void MainDialog::RunModal(HINSTANCE instance) {
  instance_ = instance;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ROMSETTER_DIALOG), nullptr, Proc, reinterpret_cast<LPARAM>(this));
}

HWND MainDialog::Create(HINSTANCE instance) {
  instance_ = instance;
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_ROMSETTER_DIALOG), nullptr, Proc,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainDialog*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    self->InitDialog();
    return TRUE;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  return self == nullptr ? FALSE : self->Handle(message, wParam, lParam);
}

// ---- Start-up ----

void MainDialog::InitDialog() {
  const std::string about = LoadText(IDS_ABOUTBOX);
  if (HMENU menu = GetSystemMenu(hwnd_, FALSE); menu != nullptr && !about.empty()) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
  }
  // A static bitmap sizes its control to the bitmap (the full 775-pixel one at creation), so
  // the control is put back to the template's size and the bitmap loaded to fit inside it.
  if (HWND banner = GetDlgItem(hwnd_, IDC_BANNER)) {
    RECT r{0, 0, BANNER_WIDTH, BANNER_HEIGHT};
    MapDialogRect(hwnd_, &r);
    const auto fit = [&] {
      SetWindowPos(banner, nullptr, 0, 0, r.right, r.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    fit();
    RECT inside{};
    GetClientRect(banner, &inside);
    HANDLE bitmap = LoadImageA(instance_, MAKEINTRESOURCEA(IDB_BANNER), IMAGE_BITMAP, inside.right, inside.bottom,
                               LR_DEFAULTCOLOR);
    if (bitmap != nullptr) {
      const LRESULT old = SendMessageA(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
      if (old != 0) DeleteObject(reinterpret_cast<HGDIOBJ>(old));
      fit();
    }
  }
  icon_ = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_APP));
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  // The transport is known before the core is built; its lines are logged in their place.
  std::uint32_t platform = 0;
  const bool known = options_.platform(platform);
  AppPorts ports{*this, store_, registry_, clock_, options_.paths, Win32SystemErrorText};
  if (known && platform == kPlatformWin32Nt) ports.session = MakeDriveSession(recordedDrive_);
  else ports.session = MakeAspiSession(aspi_);
  StartRecording(ports.session->family());
  core_ = std::make_unique<AppCore>(ports, process_);
  AppCore& core = *core_;
  core.StartUp(std::move(packageImages_), true);

  if (process_.InPackageMode()) {
    std::uint32_t error = 0;
    const std::optional<std::string> own = files_.ProgramPath(error);
    if (!own) {
      ShowMessage("GetModuleFileName error!", process_.applicationName, MessageIcon::Error, MessageButtons::Ok);
      return;
    }
    core.model().selections.checkProduct = true;
    core.model().versionLabel.clear();
    core.model().selections.packPath = *own;
    Refresh();
  }

  ChooseTransport(core.log(), [known, platform](std::uint32_t& id) {
    id = platform;
    return known;
  });
  // ASPI is reachable only once its library is loaded; without it the program cannot go on.
  const bool reachable = ports.session->Visit([](DriveSession&) { return true; },
                                              [&](AspiSession&) { return LoadAspiLibrary(library_, *this, options_.aspiDll); });
  if (reachable) {
    core.ProbeDevice();
  } else {
    PostMessageA(hwnd_, WM_CLOSE, 0, 0);
  }
  AddToolTips();
  SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  CommonSetUp();
}

// A key that nothing else reads, so a technician can record a run on a device the developers
// do not have.  A file that cannot be created is said once; the program runs on unrecorded.
void MainDialog::StartRecording(TransportFamily family) {
  const std::string path = store_.Read("Romsetter", "RecordFile", "");
  if (path.empty()) return;
  RecordingHeader header;
  header.program = "Romsetter " ROMSETTER_VERSION;
  header.family = family;
  header.os = "windows";
  std::string error;
  if (!recording_.Open(path, header, error)) {
    ShowMessage(error, process_.applicationName, MessageIcon::Error, MessageButtons::Ok);
    return;
  }
  recordedDrive_.SetWriter(&recording_);
  recordedLibrary_.SetWriter(&recording_);
}

void MainDialog::CommonSetUp() {
  AppCore& core = *core_;
  Selections& s = core.model().selections;
  const bool firmware = s.loadFirmware;
  for (int id : {IDC_BIG_BUTTON, IDC_BIG_LIST, IDC_SMALL_BUTTON, IDC_SMALL_LIST}) {
    EnableWindow(GetDlgItem(hwnd_, id), firmware);
  }
  // The backup copies are the firmware image: no backup without it (the settings keep Backup).
  if (!s.norSelected) {
    if (!firmware) s.backupChecked = false;
    EnableWindow(GetDlgItem(hwnd_, IDC_BACKUP), firmware);
  }
  for (int id : {IDC_FONT_BUTTON, IDC_REPORT_BUTTON, IDC_FONT_EDIT, IDC_REPORT_EDIT}) {
    EnableWindow(GetDlgItem(hwnd_, id), s.loadFont);
  }
  if (!process_.InPackageMode()) core.settings().WriteSetting("Check", CheckValue(s));
  if (process_.InPackageMode()) PackagePreset();
  for (int id : {IDC_USB_OFF, IDC_PROGRESS2, IDC_HIDDEN_TEXT1, IDC_HIDDEN_TEXT2, IDC_HIDDEN_TEXT3, IDC_YES_BUTTON, IDC_NO_BUTTON,
                 IDC_EXTRACT}) {
    EnableWindow(GetDlgItem(hwnd_, id), id == IDC_EXTRACT);
    ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  }
  core.log().Log("Waiting to launch...");
  SetWindowTextA(hwnd_, LoadText(IDS_TITLE).c_str());
  for (const auto& [id, extra] : {std::pair<int, int>{IDC_STATUS, 200}, {IDC_BOOT_LIST, 100}, {IDC_BIG_LIST, 100},
                                  {IDC_SMALL_LIST, 100}}) {
    RECT r{};
    GetWindowRect(GetDlgItem(hwnd_, id), &r);
    SendDlgItemMessageA(hwnd_, id, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(r.right - r.left + extra), 0);
  }
  core.UpdateControls();
  Refresh();
}

void MainDialog::PackagePreset() {
  Selections& s = core_->model().selections;
  ApplyPackageSelections(process_, s);
  const bool nor = s.norSelected;
  EnableWindow(GetDlgItem(hwnd_, nor ? IDC_NOR : IDC_NAND), FALSE);
  ShowWindow(GetDlgItem(hwnd_, nor ? IDC_NAND : IDC_NOR), SW_HIDE);
  for (int id : {IDC_LOAD_BOOT, IDC_BOOT_LIST, IDC_BOOT_BUTTON}) {
    EnableWindow(GetDlgItem(hwnd_, id), FALSE);
    if (!nor) ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  }
  for (int id : {IDC_FORMAT, IDC_BACKUP}) {
    EnableWindow(GetDlgItem(hwnd_, id), FALSE);
    if (nor) ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  }
  if (nor) {
    core_->model().bigButtonCaption = "NOR";
    ShowWindow(GetDlgItem(hwnd_, IDC_SMALL_BUTTON), SW_HIDE);
    ShowWindow(GetDlgItem(hwnd_, IDC_SMALL_LIST), SW_HIDE);
  }
  for (int id : {IDC_BIG_LIST, IDC_SMALL_LIST, IDC_LOAD_FW, IDC_BIG_BUTTON, IDC_SMALL_BUTTON, IDC_LOAD_FONT,
                 IDC_FONT_BUTTON, IDC_FONT_EDIT, IDC_PACK_BUTTON, IDC_PACK_EDIT}) {
    EnableWindow(GetDlgItem(hwnd_, id), FALSE);
  }
  for (int id : {IDC_REPORT_BUTTON, IDC_REPORT_EDIT}) {
    EnableWindow(GetDlgItem(hwnd_, id), FALSE);
    ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  }
}

void MainDialog::AddToolTips() {
  toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
  if (toolTip_ == nullptr) return;
  const std::pair<int, int> tips[] = {{IDC_UPGRADE, IDS_TIP_UPGRADE},  {IDC_BIG_BUTTON, IDS_TIP_BIG},
                                      {IDC_BOOT_BUTTON, IDS_TIP_BOOT}, {IDC_FONT_BUTTON, IDS_TIP_FONT_LIST},
                                      {IDC_REPORT_BUTTON, IDS_TIP_REPORT}, {IDC_PACK_BUTTON, IDS_TIP_PACK},
                                      {IDC_SMALL_BUTTON, IDS_TIP_SMALL}, {IDC_STATUS, IDS_TIP_STATUS}};
  for (const auto& [id, text] : tips) {
    // The Windows 98 record size: the longer ones are refused by its common controls.
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(hwnd_, id));
    info.hinst = instance_;
    info.lpszText = MAKEINTRESOURCEA(text);
    SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  }
  SendMessageA(toolTip_, TTM_ACTIVATE, TRUE, 0);
}

// ---- Messages ----

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      OnSysCommand(wParam, lParam);
      return FALSE;  // default processing follows
    case WM_TIMER:
      if (wParam == kEraseTimerId) FlashWindow(hwnd_, TRUE);
      return TRUE;
    case WM_DEVICECHANGE:
      // Other events put a drive number or a screen size where these two put a header.
      if (core_ && DevicePresence::CarriesDeviceHeader(static_cast<std::uint32_t>(wParam)) && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        core_->OnDeviceChange(static_cast<std::uint32_t>(wParam), header->dbch_devicetype);
      }
      return FALSE;
    case WM_ACTIVATEAPP:
      // Gained or lost, either way; answered here, without the default processing.
      if (core_) core_->OnActivate();
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_PAINT:
      if (IsIconic(hwnd_)) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        RECT r;
        GetClientRect(hwnd_, &r);
        DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2, (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                 icon_);
        EndPaint(hwnd_, &ps);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);  // one of the messages a dialog answers directly
    case WM_CLOSE:
      OnCancel();
      return TRUE;
    case WM_DESTROY:
      KillTimer(hwnd_, kEraseTimerId);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace romsetter
