#pragma once
// Test doubles shared by every suite: a window that records what the core asked of it,
// a clock that never sleeps, and a scratch folder per test.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window_port.h"
#include "base/bytes.h"
#include "base/clock.h"

namespace romsetter::test {

struct RecordedMessage {
  std::string text;
  std::string caption;
  MessageIcon icon;
  MessageButtons buttons;
};

class RecordingWindow : public WindowPort {
 public:
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void SetProgress(int position) override { progress.push_back(position); }
  void StatusAppend(const std::string& line) override {
    status.push_back(line);
    allStatus.push_back(line);
    if (onStatus) onStatus(line);
  }
  void StatusRemoveFirst() override {
    if (!status.empty()) status.pop_front();
  }
  void ShowEraseNotice(const std::string& text) override {
    noticeVisible = true;
    events.push_back("notice " + text);
  }
  void HideEraseNotice() override {
    noticeVisible = false;
    events.push_back("notice hidden");
  }
  void FlashCaption(bool on) override { events.push_back(on ? "flash on" : "flash off"); }
  void FlashCaptionPeriodically(bool on) override { events.push_back(on ? "flashing on" : "flashing off"); }
  void SetWaitCursor() override { events.push_back("wait cursor"); }
  void Repaint() override { events.push_back("repaint"); }
  void EnableControl(Control control, bool enabled) override { enables.emplace_back(control, enabled); }
  void ShowControl(Control, bool) override {}
  void SetVersionLine(const std::string& text) override { versionLine = text; }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  bool CloseWindowByTitle(const std::string& title) override;
  // The last state given to `control`, or `fallback` if none was.
  bool IsEnabled(Control control, bool fallback = false) const;

  std::vector<RecordedMessage> messages;
  std::vector<int> progress;
  std::deque<std::string> status;       // what the status list holds now
  std::vector<std::string> allStatus;   // every line ever appended
  std::vector<std::string> events;      // notices, timers, repaints, flashes, messages, in order
  bool noticeVisible = false;
  std::string versionLine;
  std::vector<FileDialogRequest> dialogs;
  std::vector<std::pair<Control, bool>> enables;
  std::vector<std::string> closedTitles;

  std::deque<MessageAnswer> answers;                     // default: Ok
  std::deque<std::optional<std::string>> dialogAnswers;  // default: cancelled
  std::vector<std::string> openWindows;                  // titles CloseWindowByTitle can find
  // What happens while a line is shown or a box is up (a box runs a message loop).
  std::function<void(const std::string& line)> onStatus;
  std::function<void(const std::string& text)> onMessage;
};

// Sleeps return at once and are recorded; every reading moves `now` on by `step` seconds, so
// with a step an elapsed line shows both of its ends were read.
class FakeClock : public Clock {
 public:
  std::uint32_t NowSeconds() override { return now += step; }
  void SleepMs(std::uint32_t ms) override { sleeps.push_back(ms); }
  std::uint32_t now = 1000;
  std::uint32_t step = 0;
  std::vector<std::uint32_t> sleeps;
};

// A page of one byte value.
using Page = std::array<std::uint8_t, kPageSize>;
inline Page Filled(std::uint8_t value) {
  Page page;
  page.fill(value);
  return page;
}

// The line an emulated ASPI request that completed with an error logs before its failure line.
inline const char* const kAspiCheckConditionLine =
    "ASPI SRB_Status=0x04 HaStat=0x00 TargetStat=0x02 SenseKey=0x5 ASC=0x24 ASCQ=0x00";

// A fresh, empty folder (emptied again on the next run), or one named after the running test.
std::string ScratchDir(const std::string& name);
std::string ScratchForCurrentTest(const std::string& tag);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Text lines of a log file (CR LF removed).
std::vector<std::string> ReadLines(const std::string& path);
// The text of numbered log lines without their "0x..... " prefix.
std::vector<std::string> StripNumbers(const std::vector<std::string>& lines);

}  // namespace romsetter::test
