#pragma once
// The window port on a terminal.  Plain mode: status lines to standard output exactly as the
// log file gets them, message boxes as one "caption: text" line on standard error, and a
// progress line on standard error when that is a terminal.  JSON mode: one JSON object per
// line on standard output for each of those, and a closing result object (docs/cli.md).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/null_window.h"

namespace romsetter {

enum class CliOutput { Plain, Json };

// What a run did to pages, for the closing result.
struct PageTally {
  std::uint32_t written = 0;
  std::uint32_t verified = 0;
  std::uint32_t remapped = 0;
};

class CliWindow final : public NullWindow {
 public:
  CliWindow(std::FILE* out, std::FILE* err, CliOutput mode, bool drawProgress);

  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void StatusAppend(const std::string& line) override;
  void StatusRemoveFirst() override {}
  int StatusCount() const override { return 0; }  // the terminal keeps every line
  void SetVersionLine(const std::string& text) override { versionLine_ = text; }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void OnPage(PageEvent event) override;
  void CopyProgress(const char* copy, std::uint32_t done, std::uint32_t total) override;

  // A line of the command line's own (not the job's): plain to standard output, or a JSON
  // object of `type` with the line as "text".
  void Note(const char* type, const std::string& text);
  // A refusal of the command line: plain to standard error, or a JSON "error" object.
  void Error(const std::string& text);
  // JSON mode only: the closing object of the run.
  void Result(const char* command, int exitStatus, double seconds);

  // The answer every file dialog gets (none: cancelled).
  void SetFileDialogAnswer(std::optional<std::string> answer) { dialogAnswer_ = std::move(answer); }
  const std::string& versionLine() const { return versionLine_; }
  const PageTally& tally() const { return tally_; }

 private:
  void EndProgressLine();

  std::FILE* out_;
  std::FILE* err_;
  CliOutput mode_;
  bool drawProgress_;
  bool progressShown_ = false;
  std::string copy_;  // the copy the progress is about, and when it started
  std::chrono::steady_clock::time_point copyStarted_{};
  int lastPercent_ = -1;
  PageTally tally_;
  std::string versionLine_;
  std::optional<std::string> dialogAnswer_;
};

// Exit status to the result's outcome word.
const char* OutcomeName(int exitStatus);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(const std::string& text);

}  // namespace romsetter
