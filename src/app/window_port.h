#pragma once
// Everything the core asks of the main window.  The Win32 dialog implements it, the command
// line implements it on the terminal, and tests use a recording fake.
#include <cstdint>
#include <optional>
#include <string>

namespace romsetter {

enum class MessageIcon { None, Error, Information, Question };  // "stop" and "error" are one icon
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

// Controls the core enables, shows or relabels.  The Win32 binding maps them to resource ids.
enum class Control {
  Upgrade,
  ExtractFw,
  PackExe,
  BigButton,
  SmallButton,
  BootButton,
  BigList,
  SmallList,
  BootList,
  LoadBootCode,
  LoadFirmware,
  LoadFont,
  Format,
  Backup,
  FontListButton,
  ReportButton,
  FontListEdit,
  ReportEdit,
  EraseNotice,
};

struct FileDialogRequest {
  std::string initialName;
  std::string defaultExtension;
  std::string filter;  // "Name(*.ext)|*.ext|All Files (*.*)|*.*||"
  bool overwritePrompt = false;
};

constexpr unsigned kEraseTimerId = 115;
constexpr unsigned kEraseTimerPeriodMs = 500;

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                    MessageButtons buttons = MessageButtons::Ok) = 0;
  virtual void SetProgress(int position) = 0;

  // Status list: append an item and select it; remove the oldest; count.
  virtual void StatusAppend(const std::string& line) = 0;
  virtual void StatusRemoveFirst() = 0;
  virtual int StatusCount() const = 0;

  // Erase notice line: load its text and show it at once (repainted), or hide it.
  virtual void ShowEraseNotice(const std::string& text) = 0;
  virtual void HideEraseNotice() = 0;

  virtual void FlashCaption(bool on) = 0;
  virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
  virtual void StopTimer(unsigned id) = 0;
  virtual void SetWaitCursor() = 0;
  virtual void Repaint() = 0;
  virtual void EnableControl(Control control, bool enabled) = 0;
  virtual void ShowControl(Control control, bool visible) = 0;
  virtual void SetVersionLine(const std::string& text) = 0;

  // Empty when the user cancels.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;

  // Finds a top-level window whose title is exactly `title` (bytes in the ANSI code page)
  // and sends it a close message.  True when one was found.
  virtual bool CloseWindowByTitle(const std::string& title) = 0;
};

}  // namespace romsetter
