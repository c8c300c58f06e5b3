// The main window's commands: the buttons, the file pickers, the history lists and the
// system menu, each handed to the application core.
#include "app/win32/gui/main_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "app/win32/gui/resource.h"
#include "base/text.h"

namespace romsetter {

namespace {

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(box, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

int PickerList(Picker picker) {
  return picker == Picker::Boot ? IDC_BOOT_LIST : picker == Picker::Big ? IDC_BIG_LIST : IDC_SMALL_LIST;
}

}  // namespace

const char* MainDialog::CheckValue(const Selections& s) {
  static const char* const kValues[] = {"0", "1", "2", "3"};
  return kValues[(s.loadFirmware ? 1 : 0) + (s.loadFont ? 2 : 0)];
}

void MainDialog::OnCommand(int id, int code) {
  if (!core_) {
    if (id == IDCANCEL) OnCancel();
    return;
  }
  AppCore& core = *core_;
  Selections& s = core.model().selections;
  switch (id) {
    case IDC_UPGRADE: core.Run(JobMode::Upgrade); break;
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
        if (!process_.InPackageMode()) core.settings().WriteSetting("FontList", s.fontListPath);
        core.UpdateControls();
      }
      break;
    case IDC_REPORT_EDIT:
      if (code == EN_CHANGE && !refreshing_) PullFields();
      break;
    case IDC_NAND: core.settings().SelectNand(); Refresh(); break;
    case IDC_NOR: core.settings().SelectNor(); Refresh(); break;
    case IDC_LOAD_BOOT:
      PullFields();
      EnableWindow(GetDlgItem(hwnd_, IDC_BOOT_BUTTON), s.loadBootCode);
      EnableWindow(GetDlgItem(hwnd_, IDC_BOOT_LIST), s.loadBootCode);
      core.settings().WriteSetting("LoadBootCode", s.loadBootCode ? "1" : "0");
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
      core.settings().WriteSetting("Check", CheckValue(s));
      core.UpdateControls();
      Refresh();
      break;
    case IDC_LOAD_FONT:
      PullFields();
      for (int c : {IDC_FONT_BUTTON, IDC_REPORT_BUTTON, IDC_FONT_EDIT, IDC_REPORT_EDIT}) {
        EnableWindow(GetDlgItem(hwnd_, c), s.loadFont);
      }
      core.settings().WriteSetting("Check", CheckValue(s));
      core.UpdateControls();
      break;
    case IDC_BACKUP:
      PullFields();
      core.settings().WriteSetting("Backup", s.backupChecked ? "1" : "0");
      break;
    case IDC_FORMAT:
      PullFields();
      core.UpdateControls();
      core.settings().WriteSetting("Format", s.formatChecked ? "1" : "0");
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
    core_->ExtractPackageFiles(files_);
  }
}

void MainDialog::OnCancel() {
  if (core_ && core_->model().selections.fontListPath == "NONE") std::remove("NONE");
  if (GetWindowLongPtrA(hwnd_, GWL_STYLE) & WS_CHILD) return;
  // A modal dialog ends its loop; a modeless one (tests) is destroyed.
  if (!EndDialog(hwnd_, IDCANCEL)) DestroyWindow(hwnd_);
}

void MainDialog::OnExtract() {
  EnableWindow(GetDlgItem(hwnd_, IDC_EXTRACT), FALSE);
  Repaint();
  core_->Run(JobMode::Extract);
  EnableWindow(GetDlgItem(hwnd_, IDC_EXTRACT), TRUE);
  Repaint();
}

void MainDialog::OnPack() {
  AppCore& core = *core_;
  PullFields();
  core.BuildPackage(files_);
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
  request.initialName = core.settings().PathOf(picker);
  request.filter = kFilters[static_cast<int>(picker)];
  const std::optional<std::string> chosen = OpenFileDialog(request);
  if (!chosen || chosen->empty()) return;
  core.settings().FilePicked(picker, *chosen);
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
  Selections& s = core.model().selections;
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
    core.settings().WriteSetting("FontList", s.fontListPath);
    core.settings().WriteSetting("Report", s.reportPath);
  }
  core.UpdateControls();
}

void MainDialog::OnReportPicker() {
  Selections& s = core_->model().selections;
  FileDialogRequest request;
  request.defaultExtension = "h";
  request.initialName = s.reportPath;
  request.filter = "(*.h)|*.h|All Files (*.*)|*.*||";
  const std::optional<std::string> chosen = OpenFileDialog(request);
  if (!chosen || chosen->empty()) return;
  s.reportPath = *chosen;
  Refresh();
  core_->settings().WriteSetting("Report", s.reportPath);
}

void MainDialog::OnHistory(Picker picker, int code) {
  AppCore& core = *core_;
  if (code == CBN_SELCHANGE || code == CBN_KILLFOCUS) {
    int index = static_cast<int>(SendDlgItemMessageA(hwnd_, PickerList(picker), CB_GETCURSEL, 0, 0));
    if (code == CBN_KILLFOCUS) index = -1;  // the remembered index
    core.settings().HistoryItemChosen(picker, index);
    Refresh();
  }
  core.UpdateControls();
}

}  // namespace romsetter
