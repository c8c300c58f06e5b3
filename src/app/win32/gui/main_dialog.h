#pragma once
// The program's only window: binds the window port, the model and UpdateControls to the
// dialog's controls, and runs the start-up of the window in its initialisation.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_core.h"
#include "app/win32/tick_clock.h"
#include "app/win32/win32_profile_store.h"
#include "base/fixed_paths.h"
#include "device/win32/nt_device_registry.h"
#include "device/win32/pass_through_transport.h"
#include "device/win32/transport_choice.h"
#include "device/recording_transports.h"
#include "device/win32/win32_aspi_library.h"
#include "package/package_files.h"

namespace romsetter {

// What the dialog takes from outside; tests replace the file dialog and the system queries.
struct MainDialogOptions {
  std::function<std::optional<std::string>(const FileDialogRequest&)> fileDialog;  // empty: the system's
  // Empty: the system's message box.  Tests answer here, as nobody presses a button.
  std::function<MessageAnswer(const std::string& text, const std::string& caption, MessageIcon icon)> messageBox;
  FixedPaths paths = FixedPaths::Windows();
  std::string settingsFile = "Romsetter.ini";
  const char* aspiDll = kAspiLibraryName;
  PlatformQuery platform = SystemPlatformId;
  // The pass-through I/O control; tests hand its block to an emulated device, as wine has no
  // storage driver that takes it.
  IoControlCall ioControl = SystemIoControl;
};

// The system's message box for a port's message; `owner` may be null (no window yet).
MessageAnswer ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, MessageIcon icon,
                             MessageButtons buttons);

class MainDialog final : public WindowPort {
 public:
  MainDialog(ProcessState& process, PackageFiles& files, MainDialogOptions options);
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Runs the dialog modally; returns when it closes.
  void RunModal(HINSTANCE instance);
  // Creates it modeless (tests drive it with messages); null on failure.
  HWND Create(HINSTANCE instance);

  // The images a package brought, handed to the core when the window starts.
  void TakePackageImages(ImageStore images) { packageImages_ = std::move(images); }

  HWND hwnd() const { return hwnd_; }
  AppCore* core() { return core_.get(); }

  // WindowPort.
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void SetProgress(int position) override;
  void ShowEraseNotice(const std::string& text) override;
  void HideEraseNotice() override;
  void Repaint() override;
  void FlashCaption(bool on) override;
  void FlashCaptionPeriodically(bool on) override;
  void StatusAppend(const std::string& line) override;
  void StatusRemoveFirst() override;
  void SetWaitCursor() override;
  void EnableControl(Control control, bool enabled) override;
  void ShowControl(Control control, bool visible) override;
  void SetVersionLine(const std::string& text) override;
  bool CloseWindowByTitle(const std::string& title) override;

 private:
  // The caption-flash timer of a NOR-mode erase, the window's only timer.
  static constexpr UINT_PTR kEraseTimerId = 115;
  static constexpr UINT kEraseTimerPeriodMs = 500;

  // The "Check" key: which of Load F/W and Load Font are on.
  static const char* CheckValue(const Selections& s);
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void InitDialog();
  void CommonSetUp();
  void PackagePreset();
  void OnCommand(int id, int code);
  void OnPicker(Picker picker);
  void OnFontListPicker();
  void OnReportPicker();
  void OnHistory(Picker picker, int code);
  void OnCancel();
  void OnPack();
  void OnExtract();
  void OnSysCommand(WPARAM wParam, LPARAM lParam);
  void AddToolTips();
  void StartRecording(TransportFamily family);
  void PullFields();
  void Refresh();
  void FillHistory(int id, const HistoryList& list);
  bool Checked(int id) const;
  std::string Text(int id) const;
  std::string LoadText(int id) const;
  int ControlId(Control control) const;
  void NoEffect(const std::string& path);

  ProcessState& process_;
  PackageFiles& files_;
  MainDialogOptions options_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND toolTip_ = nullptr;
  HICON icon_ = nullptr;
  Win32ProfileStore store_;
  NtDeviceRegistry registry_;
  TickClock clock_;
  PassThroughTransport drive_{options_.ioControl};
  Win32AspiLibrary library_;
  // RecordFile= in the settings: every command written there.  Without it the recording
  // decorators only pass everything on.
  RecordingWriter recording_;
  RecordingDriveTransport recordedDrive_{drive_};
  RecordingAspiLibrary recordedLibrary_{library_};
  AspiTransport aspi_{recordedLibrary_};
  std::unique_ptr<AppCore> core_;
  ImageStore packageImages_;
  bool refreshing_ = false;  // edits changed by Refresh are not user changes
};

}  // namespace romsetter
