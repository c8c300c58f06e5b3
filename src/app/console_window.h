#pragma once
// The window port on a terminal: status lines to standard output exactly as the log file
// gets them, message boxes as one "caption: text" line on standard error, and a progress
// bar on standard error when that is a terminal.
#include <cstdio>
#include <optional>
#include <string>

#include "app/null_window.h"

namespace romsetter {

class ConsoleWindow final : public NullWindow {
 public:
  ConsoleWindow(std::FILE* out, std::FILE* err, bool drawProgress);

  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void SetProgress(int position) override;
  void StatusAppend(const std::string& line) override;
  void StatusRemoveFirst() override {}
  int StatusCount() const override { return 0; }  // the terminal keeps every line
  void SetVersionLine(const std::string& text) override { versionLine_ = text; }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;

  // The answer every file dialog gets (none: cancelled).
  void SetFileDialogAnswer(std::optional<std::string> answer) { dialogAnswer_ = std::move(answer); }
  const std::string& versionLine() const { return versionLine_; }
  int messageCount() const { return messages_; }

 private:
  void EndProgressLine();

  std::FILE* out_;
  std::FILE* err_;
  bool drawProgress_;
  bool progressShown_ = false;
  int lastProgress_ = -1;
  int messages_ = 0;
  std::string versionLine_;
  std::optional<std::string> dialogAnswer_;
};

}  // namespace romsetter
