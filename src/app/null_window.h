#pragma once
// A window that shows nothing: for benchmarks and other runs where only the log matters,
// and the base of windows that show only some things.
#include "app/window_port.h"

namespace romsetter {

class NullWindow : public WindowPort {
 public:
  MessageAnswer ShowMessage(const std::string&, const std::string&, MessageIcon, MessageButtons) override {
    return MessageAnswer::Ok;
  }
  void SetProgress(int) override {}
  void StatusAppend(const std::string&) override {}
  void StatusRemoveFirst() override {}
  void ShowEraseNotice(const std::string&) override {}
  void HideEraseNotice() override {}
  void FlashCaption(bool) override {}
  void FlashCaptionPeriodically(bool) override {}
  void SetWaitCursor() override {}
  void Repaint() override {}
  void EnableControl(Control, bool) override {}
  void ShowControl(Control, bool) override {}
  void SetVersionLine(const std::string&) override {}
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return std::nullopt; }
  bool CloseWindowByTitle(const std::string&) override { return false; }
};

}  // namespace romsetter
