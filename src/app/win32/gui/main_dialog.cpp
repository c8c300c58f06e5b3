#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <cstdio>
#include <vector>

#include "app/win32/gui/resource.h"
#include "app/win32/system_error_text.h"
#include "base/text.h"
#include "package/package_builder.h"
#include "package/unpack.h"

namespace romsetter {

namespace {

constexpr UINT_PTR kEraseTimer = kEraseTimerId;

struct ControlMap {
  Control control;
  int id;
};
constexpr ControlMap kControls[] = {
    {Control::Upgrade, IDC_UPGRADE},         {Control::ExtractFw, IDC_EXTRACT},
    {Control::PackExe, IDC_PACK_BUTTON},     {Control::BigButton, IDC_BIG_BUTTON},
    {Control::SmallButton, IDC_SMALL_BUTTON}, {Control::BootButton, IDC_BOOT_BUTTON},
    {Control::BigList, IDC_BIG_LIST},        {Control::SmallList, IDC_SMALL_LIST},
    {Control::BootList, IDC_BOOT_LIST},      {Control::LoadBootCode, IDC_LOAD_BOOT},
    {Control::LoadFirmware, IDC_LOAD_FW},    {Control::LoadFont, IDC_LOAD_FONT},
    {Control::Format, IDC_FORMAT},           {Control::Backup, IDC_BACKUP},
    {Control::FontListButton, IDC_FONT_BUTTON}, {Control::ReportButton, IDC_REPORT_BUTTON},
    {Control::FontListEdit, IDC_FONT_EDIT},  {Control::ReportEdit, IDC_REPORT_EDIT},
    {Control::EraseNotice, IDC_ERASE_NOTICE},
};

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(box, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

const char* CheckValue(const Selections& s) {
  static const char* const kValues[] = {"0", "1", "2", "3"};
  return kValues[(s.loadFirmware ? 1 : 0) + (s.loadFont ? 2 : 0)];
}

int PickerList(Picker picker) {
  return picker == Picker::Boot ? IDC_BOOT_LIST : picker == Picker::Big ? IDC_BIG_LIST : IDC_SMALL_LIST;
}

}  // namespace

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
  core.images = std::move(packageImages_);
  core.discovery.SetPresent(false);

  if (process_.InPackageMode()) {
    std::uint32_t error = 0;
    const std::optional<std::string> own = files_.ProgramPath(error);
    if (!own) {
      ShowMessage("GetModuleFileName error!", process_.applicationName, MessageIcon::Error, MessageButtons::Ok);
      return;
    }
    core.model.selections.checkProduct = true;
    core.model.versionLabel.clear();
    core.model.selections.packPath = *own;
    Refresh();
  } else {
    core.discovery.WriteIdentificationDefaults();
    core.settings.LoadSettings();
  }

  const bool nor = core.model.selections.norSelected;
  ChooseTransport(core.log, [known, platform](std::uint32_t& id) {
    id = platform;
    return known;
  });
  if (ports.session->family() == TransportFamily::Aspi) {
    if (LoadAspiLibrary(library_, *this, options_.aspiDll)) {
      core.discovery.SetPresent(core.discovery.ProbeAspi(false, nor));
      if (core.discovery.present() && core.model.selections.checkProduct) core.discovery.QueryProduct(nor);
    } else {
      PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    }
  } else {
    core.discovery.SetPresent(core.discovery.OpenDev(false));
    if (core.discovery.present() && core.model.selections.checkProduct) core.discovery.QueryProduct(nor);
    recordedDrive_.CloseDrive();
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
  Selections& s = core.model.selections;
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
  if (!process_.InPackageMode()) core.settings.WriteSetting("Check", CheckValue(s));
  if (process_.InPackageMode()) PackagePreset();
  for (int id : {IDC_USB_OFF, IDC_PROGRESS2, IDC_HIDDEN_TEXT1, IDC_HIDDEN_TEXT2, IDC_HIDDEN_TEXT3, IDC_YES_BUTTON, IDC_NO_BUTTON,
                 IDC_EXTRACT}) {
    EnableWindow(GetDlgItem(hwnd_, id), id == IDC_EXTRACT);
    ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  }
  core.log.Log("Waiting to launch...");
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
  Selections& s = core_->model.selections;
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
    core_->model.bigButtonCaption = "NOR";
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
      if (wParam == kEraseTimer) FlashWindow(hwnd_, TRUE);
      return TRUE;
    case WM_DEVICECHANGE:
      // Other events put a drive number or a screen size where these two put a header.
      if (core_ && DevicePresence::CarriesDeviceHeader(static_cast<std::uint32_t>(wParam)) && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        core_->presence.OnDeviceChange(static_cast<std::uint32_t>(wParam), header->dbch_devicetype);
      }
      return FALSE;
    case WM_ACTIVATEAPP:
      // Gained or lost, either way; answered here, without the default processing.
      if (core_) core_->presence.OnActivate();
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
      KillTimer(hwnd_, kEraseTimer);
      if (core_) core_->images.ReleaseAll();
      return FALSE;
    default:
      return FALSE;
  }
}

void MainDialog::OnCommand(int id, int code) {
  if (!core_) {
    if (id == IDCANCEL) OnCancel();
    return;
  }
  AppCore& core = *core_;
  Selections& s = core.model.selections;
  switch (id) {
    case IDC_UPGRADE: core.RunJob(JobMode::Upgrade); break;
    case IDC_EXTRACT: OnExtract(); break;
    case IDC_PACK_BUTTON: OnPack(); break;
    case IDC_BIG_BUTTON: OnPicker(Picker::Big); break;
    case IDC_SMALL_BUTTON: OnPicker(Picker::Small); break;
    case IDC_BOOT_BUTTON: OnPicker(Picker::Boot); break;
    case IDC_FONT_BUTTON:
      if (code == BN_CLICKED) OnFontListPicker();
      break;
    case IDC_REPORT_BUTTON:
      if (code == BN_CLICKED) OnReportPicker();
      break;
    case IDC_BOOT_LIST: OnHistory(Picker::Boot, code); break;
    case IDC_BIG_LIST: OnHistory(Picker::Big, code); break;
    case IDC_SMALL_LIST: OnHistory(Picker::Small, code); break;
    case IDC_FONT_EDIT:
      if (code == EN_CHANGE && !refreshing_) {
        PullFields();
        if (!process_.InPackageMode()) core.settings.WriteSetting("FontList", s.fontListPath);
        core.UpdateControls();
      }
      break;
    case IDC_REPORT_EDIT:
      if (code == EN_CHANGE && !refreshing_) PullFields();
      break;
    case IDC_NAND: core.settings.SelectNand(); Refresh(); break;
    case IDC_NOR: core.settings.SelectNor(); Refresh(); break;
    case IDC_LOAD_BOOT:
      PullFields();
      EnableWindow(GetDlgItem(hwnd_, IDC_BOOT_BUTTON), s.loadBootCode);
      EnableWindow(GetDlgItem(hwnd_, IDC_BOOT_LIST), s.loadBootCode);
      core.settings.WriteSetting("LoadBootCode", s.loadBootCode ? "1" : "0");
      core.UpdateControls();
      break;
    case IDC_LOAD_FW:
      PullFields();
      for (int c : {IDC_BIG_BUTTON, IDC_BIG_LIST, IDC_SMALL_BUTTON, IDC_SMALL_LIST}) {
        EnableWindow(GetDlgItem(hwnd_, c), s.loadFirmware);
      }
      if (!s.norSelected) {
        if (!s.loadFirmware) s.backupChecked = false;
        EnableWindow(GetDlgItem(hwnd_, IDC_BACKUP), s.loadFirmware);
      }
      core.settings.WriteSetting("Check", CheckValue(s));
      core.UpdateControls();
      Refresh();
      break;
    case IDC_LOAD_FONT:
      PullFields();
      for (int c : {IDC_FONT_BUTTON, IDC_REPORT_BUTTON, IDC_FONT_EDIT, IDC_REPORT_EDIT}) {
        EnableWindow(GetDlgItem(hwnd_, c), s.loadFont);
      }
      core.settings.WriteSetting("Check", CheckValue(s));
      core.UpdateControls();
      break;
    case IDC_BACKUP:
      PullFields();
      core.settings.WriteSetting("Backup", s.backupChecked ? "1" : "0");
      break;
    case IDC_FORMAT:
      PullFields();
      core.UpdateControls();
      core.settings.WriteSetting("Format", s.formatChecked ? "1" : "0");
      break;
    case IDCANCEL: OnCancel(); break;
    default: break;
  }
}

void MainDialog::OnSysCommand(WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), hwnd_, AboutProc, 0);
    return;
  }
  // Alt+Backspace: the key-menu command with character code 8.
  if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 8 && process_.InPackageMode() && core_) {
    core_->log.Log("Extracting Data ...");
    // A copy, read or write that failed has told the user why; the log must not call it done.
    if (UnpackSelf(UnpackPorts{files_, *this, options_.paths, process_, core_->images, &core_->log}, true) ==
        UnpackResult::Package) {
      core_->log.Log("Extracting Data ... OK");
    } else {
      core_->log.Log("Extracting Data ... failed");
    }
  }
}

void MainDialog::OnCancel() {
  if (core_ && core_->model.selections.fontListPath == "NONE") std::remove("NONE");
  if (GetWindowLongPtrA(hwnd_, GWL_STYLE) & WS_CHILD) return;
  // A modal dialog ends its loop; a modeless one (tests) is destroyed.
  if (!EndDialog(hwnd_, IDCANCEL)) DestroyWindow(hwnd_);
}

void MainDialog::OnExtract() {
  process_.extractMode = true;
  EnableWindow(GetDlgItem(hwnd_, IDC_EXTRACT), FALSE);
  Repaint();
  core_->RunJob(JobMode::Extract);
  process_.extractMode = false;
  EnableWindow(GetDlgItem(hwnd_, IDC_EXTRACT), TRUE);
  Repaint();
}

void MainDialog::OnPack() {
  AppCore& core = *core_;
  PullFields();
  const DeviceIdentity& id = core.discovery.identity();
  core.presence.BeginWork();  // its boxes and file dialogs dispatch device changes too
  BuildPackage(BuildPorts{files_, core.log, *this, store_, core.fonts, process_}, core.model.selections,
               PackageIdentity{id.hardwareId, id.instanceKeyPath, id.inquiryText});
  core.presence.EndWork();
  core.UpdateControls();
  Refresh();
}

void MainDialog::NoEffect(const std::string& path) {
  ShowMessage(Format(LoadText(IDS_NO_EFFECT).c_str(), path.c_str()), "Error", MessageIcon::Error, MessageButtons::Ok);
}

void MainDialog::OnPicker(Picker picker) {
  AppCore& core = *core_;
  static const char* const kFilters[] = {"BootCode(*.bin)|*.bin|All Files (*.*)|*.*||",
                                         "Big FW(*.bin)|*.bin|All Files (*.*)|*.*||",
                                         "Small FW(*.bin)|*.bin|All Files (*.*)|*.*||"};
  FileDialogRequest request;
  request.defaultExtension = "bin";
  request.initialName = core.settings.PathOf(picker);
  request.filter = kFilters[static_cast<int>(picker)];
  const std::optional<std::string> chosen = OpenFileDialog(request);
  if (!chosen || chosen->empty()) return;
  core.settings.FilePicked(picker, *chosen);
  Refresh();
  if (GetFileAttributesA(chosen->c_str()) == INVALID_FILE_ATTRIBUTES) {
    EnableWindow(GetDlgItem(hwnd_, IDC_UPGRADE), FALSE);
    NoEffect(*chosen);
  } else {
    core.UpdateControls();
  }
}

void MainDialog::OnFontListPicker() {
  AppCore& core = *core_;
  Selections& s = core.model.selections;
  FileDialogRequest request;
  request.defaultExtension = "tab";
  request.initialName = s.fontListPath;
  request.filter = "(*.tab)|*.tab|All Files (*.*)|*.*||";
  const std::optional<std::string> chosen = OpenFileDialog(request);
  if (chosen && !chosen->empty()) {
    s.fontListPath = *chosen;
    // A name with neither ".tab" nor ".TAB" would make the report the list itself.
    if (chosen->find(".tab") != std::string::npos) s.reportPath = ReplaceAll(*chosen, ".tab", ".h");
    else if (chosen->find(".TAB") != std::string::npos) s.reportPath = ReplaceAll(*chosen, ".TAB", ".H");
    else s.reportPath = *chosen + ".h";
    Refresh();
    if (GetFileAttributesA(chosen->c_str()) == INVALID_FILE_ATTRIBUTES) NoEffect(*chosen);
    core.settings.WriteSetting("FontList", s.fontListPath);
    core.settings.WriteSetting("Report", s.reportPath);
  }
  core.UpdateControls();
}

void MainDialog::OnReportPicker() {
  Selections& s = core_->model.selections;
  FileDialogRequest request;
  request.defaultExtension = "h";
  request.initialName = s.reportPath;
  request.filter = "(*.h)|*.h|All Files (*.*)|*.*||";
  const std::optional<std::string> chosen = OpenFileDialog(request);
  if (!chosen || chosen->empty()) return;
  s.reportPath = *chosen;
  Refresh();
  core_->settings.WriteSetting("Report", s.reportPath);
}

void MainDialog::OnHistory(Picker picker, int code) {
  AppCore& core = *core_;
  if (code == CBN_SELCHANGE || code == CBN_KILLFOCUS) {
    int index = static_cast<int>(SendDlgItemMessageA(hwnd_, PickerList(picker), CB_GETCURSEL, 0, 0));
    if (code == CBN_KILLFOCUS) index = -1;  // the remembered index
    core.settings.HistoryItemChosen(picker, index);
    Refresh();
  }
  core.UpdateControls();
}

// ---- Fields and controls ----

bool MainDialog::Checked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

std::string MainDialog::Text(int id) const {
  char buffer[MAX_PATH + 1] = {};
  GetDlgItemTextA(hwnd_, id, buffer, sizeof buffer);
  return buffer;
}

std::string MainDialog::LoadText(int id) const {
  char buffer[256] = {};
  const int n = LoadStringA(instance_, static_cast<UINT>(id), buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void MainDialog::PullFields() {
  Selections& s = core_->model.selections;
  s.norSelected = Checked(IDC_NOR);
  s.formatChecked = Checked(IDC_FORMAT);
  s.backupChecked = Checked(IDC_BACKUP);
  s.loadBootCode = Checked(IDC_LOAD_BOOT);
  s.loadFirmware = Checked(IDC_LOAD_FW);
  s.loadFont = Checked(IDC_LOAD_FONT);
  s.fontListPath = Text(IDC_FONT_EDIT);
  s.reportPath = Text(IDC_REPORT_EDIT);
  s.packPath = Text(IDC_PACK_EDIT);
}

void MainDialog::FillHistory(int id, const HistoryList& list) {
  SendDlgItemMessageA(hwnd_, id, CB_RESETCONTENT, 0, 0);
  // Inserted, not added: the model already keeps the list's order, and its indexes must
  // stay the control's.
  for (const std::string& item : list.items()) {
    SendDlgItemMessageA(hwnd_, id, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(item.c_str()));
  }
  SendDlgItemMessageA(hwnd_, id, CB_SETCURSEL, static_cast<WPARAM>(list.current()), 0);
}

void MainDialog::Refresh() {
  if (!core_) return;
  refreshing_ = true;
  const MainWindowModel& m = core_->model;
  const Selections& s = m.selections;
  CheckRadioButton(hwnd_, IDC_NAND, IDC_NOR, s.norSelected ? IDC_NOR : IDC_NAND);
  const std::pair<int, bool> boxes[] = {{IDC_FORMAT, s.formatChecked}, {IDC_BACKUP, s.backupChecked},
                                        {IDC_LOAD_BOOT, s.loadBootCode}, {IDC_LOAD_FW, s.loadFirmware},
                                        {IDC_LOAD_FONT, s.loadFont}};
  for (const auto& [id, on] : boxes) CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED);
  FillHistory(IDC_BOOT_LIST, m.bootHistory);
  FillHistory(IDC_BIG_LIST, m.bigHistory);
  FillHistory(IDC_SMALL_LIST, m.smallHistory);
  SetDlgItemTextA(hwnd_, IDC_FONT_EDIT, s.fontListPath.c_str());
  SetDlgItemTextA(hwnd_, IDC_REPORT_EDIT, s.reportPath.c_str());
  SetDlgItemTextA(hwnd_, IDC_PACK_EDIT, s.packPath.c_str());
  SetDlgItemTextA(hwnd_, IDC_BIG_BUTTON, m.bigButtonCaption.c_str());
  SetDlgItemTextA(hwnd_, IDC_VERSION, m.versionLabel.c_str());
  refreshing_ = false;
}

int MainDialog::ControlId(Control control) const {
  for (const ControlMap& c : kControls) {
    if (c.control == control) return c.id;
  }
  return 0;
}

// ---- WindowPort ----

MessageAnswer ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, MessageIcon icon,
                             MessageButtons buttons) {
  UINT flags = buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK;
  if (icon == MessageIcon::Error) flags |= MB_ICONSTOP;
  if (icon == MessageIcon::Information) flags |= MB_ICONINFORMATION;
  if (icon == MessageIcon::Question) flags |= MB_ICONQUESTION;
  return MessageBoxA(owner, text.c_str(), caption.c_str(), flags) == IDOK ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

MessageAnswer MainDialog::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                      MessageButtons buttons) {
  if (options_.messageBox) return options_.messageBox(text, caption, icon);
  return ShowMessageBox(hwnd_, text, caption, icon, buttons);
}

std::optional<std::string> MainDialog::OpenFileDialog(const FileDialogRequest& request) {
  if (options_.fileDialog) return options_.fileDialog(request);
  std::string filter = request.filter;
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  char file[MAX_PATH + 1] = {};
  request.initialName.copy(file, MAX_PATH);
  OPENFILENAMEA ofn{};
  // The record as Windows 98 and NT 4 know it.
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = request.defaultExtension.c_str();
  ofn.Flags = OFN_HIDEREADONLY | (request.overwritePrompt ? OFN_OVERWRITEPROMPT : 0);
  if (!GetOpenFileNameA(&ofn)) return std::nullopt;
  return std::string(file);
}

void MainDialog::SetProgress(int position) {
  SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void MainDialog::ShowEraseNotice(const std::string& text) {
  SetDlgItemTextA(hwnd_, IDC_ERASE_NOTICE, text.c_str());
  ShowWindow(GetDlgItem(hwnd_, IDC_ERASE_NOTICE), SW_SHOW);
  UpdateWindow(hwnd_);
}

void MainDialog::HideEraseNotice() { ShowWindow(GetDlgItem(hwnd_, IDC_ERASE_NOTICE), SW_HIDE); }
void MainDialog::Repaint() {
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
}
void MainDialog::FlashCaption(bool on) { FlashWindow(hwnd_, on ? TRUE : FALSE); }
void MainDialog::StartTimer(unsigned id, unsigned periodMs) { SetTimer(hwnd_, id, periodMs, nullptr); }
void MainDialog::StopTimer(unsigned id) { KillTimer(hwnd_, id); }

void MainDialog::StatusAppend(const std::string& line) {
  const LRESULT at = SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
}
void MainDialog::StatusRemoveFirst() { SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_DELETESTRING, 0, 0); }
int MainDialog::StatusCount() const {
  return static_cast<int>(SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_GETCOUNT, 0, 0));
}
void MainDialog::SetWaitCursor() { SetCursor(LoadCursor(nullptr, IDC_WAIT)); }
void MainDialog::EnableControl(Control control, bool enabled) {
  EnableWindow(GetDlgItem(hwnd_, ControlId(control)), enabled ? TRUE : FALSE);
}
void MainDialog::ShowControl(Control control, bool visible) {
  ShowWindow(GetDlgItem(hwnd_, ControlId(control)), visible ? SW_SHOW : SW_HIDE);
}
void MainDialog::SetVersionLine(const std::string& text) { SetDlgItemTextA(hwnd_, IDC_VERSION, text.c_str()); }
bool MainDialog::CloseWindowByTitle(const std::string& title) {
  HWND window = FindWindowA(nullptr, title.c_str());
  if (window == nullptr) return false;
  PostMessageA(window, WM_CLOSE, 0, 0);
  return true;
}

}  // namespace romsetter
