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
#include <utility>
#include <vector>

#include "app/dry_run.h"
#include "app/null_window.h"
#include "app/cli/concurrency.h"

#include <nlohmann/json_fwd.hpp>

namespace romsetter {

using Json = nlohmann::json;
// The texts of one JSON object, by key, as the job has them (bytes of the system code page).
using Texts = std::vector<std::pair<const char*, std::string>>;

enum class CliOutput { Plain, Json };

// What a run did to pages, for the closing result.
struct PageTally {
  std::uint32_t written = 0;
  std::uint32_t verified = 0;
  std::uint32_t remapped = 0;
};

// The terminal shared by the windows of several devices' jobs: one lock for everything they
// print and, when progress is drawn, a block of one progress line per device, redrawn in place.
class CliConsole {
 public:
  CliConsole(std::FILE* err, bool drawProgress, std::size_t devices);
  Mutex& mutex() { return mutex_; }
  bool drawing() const { return draw_; }
  // With the lock held.
  void SetRow(std::size_t row, const std::string& text);
  void Above(std::FILE* to, const std::string& line);  // a whole line, printed above the block
  void Leave();  // the block stays as it is; what follows goes below it

 private:
  void Redraw();
  std::FILE* err_;
  bool draw_;
  bool shown_ = false;
  std::vector<std::string> rows_;
  Mutex mutex_;
};

class CliWindow final : public NullWindow {
 public:
  CliWindow(std::FILE* out, std::FILE* err, CliOutput mode, bool drawProgress);

  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void StatusAppend(const std::string& line) override;
  void StatusRemoveFirst() override {}  // the terminal keeps every line
  void SetVersionLine(const std::string& text) override { versionLine_ = text; }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void OnPage(PageEvent event) override;
  void CopyProgress(const char* copy, std::uint32_t done, std::uint32_t total) override;

  // A line of the command line's own (not the job's): plain to standard output, or a JSON
  // object of `type` with the line as "text".
  void Note(const char* type, const std::string& text);
  // JSON mode only: one step of a dry run's plan (the plain line is the job's "Plan:" line).
  void PlanStep(const PlanEntry& entry);
  // A refusal of the command line: plain to standard error, or a JSON "error" object.
  void Error(const std::string& text);
  // The line a plain refusal ends with instead of the usage (CliHelpHint).
  void SetHelpHint(std::string hint) { helpHint_ = std::move(hint); }
  // JSON mode only: the closing object of the run.
  void Result(const char* command, int exitStatus, double seconds);

  // One device's job of several: its events go to `console`, JSON objects carry "device",
  // plain lines are prefixed with it, and its progress is line `row` of the block.
  void AttachTo(CliConsole& console, std::string device, std::size_t row);
  // JSON mode only: how one device of several ended.
  void DeviceResult(const std::string& device, int exitStatus, const PageTally& pages, double seconds);
  void AddTally(const PageTally& pages);

  // The answer every file dialog gets (none: cancelled).
  void SetFileDialogAnswer(std::optional<std::string> answer) { dialogAnswer_ = std::move(answer); }
  const std::string& versionLine() const { return versionLine_; }
  const PageTally& tally() const { return tally_; }

 private:
  void EndProgressLine();
  void Emit(Json& object, Texts texts = {});

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
  CliConsole* console_ = nullptr;
  std::string device_;
  std::size_t row_ = 0;
  std::string helpHint_;
};

// Exit status to the result's outcome word.
const char* OutcomeName(int exitStatus);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(const std::string& text);

}  // namespace romsetter
