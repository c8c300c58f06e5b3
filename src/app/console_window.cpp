#include "app/console_window.h"

#include "base/format.h"

namespace romsetter {

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, bool drawProgress)
    : out_(out), err_(err), drawProgress_(drawProgress) {}

void ConsoleWindow::EndProgressLine() {
  if (progressShown_) {
    std::fputs("\n", err_);
    progressShown_ = false;
    lastProgress_ = -1;
  }
}

MessageAnswer ConsoleWindow::ShowMessage(const std::string& text, const std::string& caption, MessageIcon,
                                         MessageButtons) {
  EndProgressLine();
  ++messages_;
  // One line per box: line breaks inside the text would split it.
  std::string flat = text;
  for (char& c : flat) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fputs(Format("%s: %s\n", caption.c_str(), flat.c_str()).c_str(), err_);
  std::fflush(err_);
  return MessageAnswer::Ok;  // scripted runs confirm
}

void ConsoleWindow::SetProgress(int position) {
  if (!drawProgress_ || position == lastProgress_) return;
  lastProgress_ = position;
  const int width = 40;
  const int filled = position < 0 ? 0 : (position > 100 ? width : position * width / 100);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(width - filled), '.');
  std::fputs(Format("\r[%s] %3d%%", bar.c_str(), position).c_str(), err_);
  std::fflush(err_);
  progressShown_ = true;
}

void ConsoleWindow::StatusAppend(const std::string& line) {
  EndProgressLine();
  std::fputs(line.c_str(), out_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

std::optional<std::string> ConsoleWindow::OpenFileDialog(const FileDialogRequest&) { return dialogAnswer_; }

}  // namespace romsetter
