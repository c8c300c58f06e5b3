#pragma once
// What the layers below the application ask of the user's screen.  The main window (and the
// terminal front end) implements both; each returns at once unless it says otherwise.
#include <cstdint>
#include <optional>
#include <string>

namespace romsetter {

enum class MessageIcon { None, Error, Information, Question };  // "stop" and "error" are one icon
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

struct FileDialogRequest {
  std::string initialName;
  std::string defaultExtension;
  std::string filter;  // "Name(*.ext)|*.ext|All Files (*.*)|*.*||"
  bool overwritePrompt = false;
};

// Modal questions.  Both block until the user answers.
class MessagePort {
 public:
  virtual ~MessagePort() = default;
  // The answer the user gave (Ok for a box with one button).
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                    MessageButtons buttons = MessageButtons::Ok) = 0;
  // The chosen file name; empty when the user cancels.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;
};

// Signs of progress while a long operation runs on the user's thread.  None blocks.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // Progress bar position, 0 to 100.
  virtual void SetProgress(int position) = 0;
  // Busy notice line: load its text and show it at once (repainted), or hide it.
  virtual void ShowEraseNotice(const std::string& text) = 0;
  virtual void HideEraseNotice() = 0;
  // Redraws the window now (nothing else repaints it while the thread is busy).
  virtual void Repaint() = 0;
  // The window caption's highlight on or off, once.
  virtual void FlashCaption(bool on) = 0;
  // The caption flashing on its own, every half second, until turned off.
  virtual void FlashCaptionPeriodically(bool on) = 0;

  // What the page loops tell besides the bar, for front ends that show more (the command
  // line); the window has no use for them.
  // A page write the device took (`Written`), a page that read back equal (`Verified`), a
  // page marked bad before it is written again (`Remapped`).
  enum class PageEvent { Written, Verified, Remapped };
  virtual void OnPage(PageEvent) {}
  // One more page of a copy verified: `copy` names the copy ("F/W", "Backup_1", "Backup_2",
  // "BootCode", "Font"), `done` of its `total` pages.
  virtual void CopyProgress(const char* /*copy*/, std::uint32_t /*done*/, std::uint32_t /*total*/) {}
};

}  // namespace romsetter
