// The main window as the core sees it: the window port, and the binding of the model's
// selections and lists to the dialog's controls.
#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/win32/gui/resource.h"

namespace romsetter {

namespace {

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

}  // namespace

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
  Selections& s = core_->model().selections;
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
  const MainWindowModel& m = core_->model();
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
void MainDialog::FlashCaptionPeriodically(bool on) {
  if (on) SetTimer(hwnd_, kEraseTimerId, kEraseTimerPeriodMs, nullptr);
  else KillTimer(hwnd_, kEraseTimerId);
}

void MainDialog::StatusAppend(const std::string& line) {
  const LRESULT at = SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
}
void MainDialog::StatusRemoveFirst() { SendDlgItemMessageA(hwnd_, IDC_STATUS, CB_DELETESTRING, 0, 0); }
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
