#pragma once
// The numbered activity log: one line at a time to the log file and the window's status list.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/window_port.h"
#include "base/log_sink.h"

namespace romsetter {

// The operating system's text for an error code; false when it has none (or it does not fit).
using SystemErrorText = std::function<bool(std::uint32_t code, std::string& text)>;

// C library texts, for platforms without a system message table.
bool CRuntimeErrorText(std::uint32_t code, std::string& text);

class ActivityLog final : public LogSink {
 public:
  static constexpr int kStatusListLimit = 200;  // more than this many items: drop the oldest

  ActivityLog(std::string logPath, WindowPort& window, SystemErrorText errorText = CRuntimeErrorText);

  void Log(const std::string& text) override;
  void LogSystemError(std::uint32_t code) override;
  // Un-numbered, status list only.
  void AddStatusLine(const std::string& text) override;

  std::uint32_t lineNumber() const { return lineNumber_; }
  void SetLineNumber(std::uint32_t n) { lineNumber_ = n; }
  const std::string& logPath() const { return logPath_; }
  // While set, the text of every numbered line is also appended to `tap` (the checks made
  // once for several devices keep their lines this way, for each device's log).
  void SetTap(std::vector<std::string>* tap) { tap_ = tap; }

 private:
  std::string logPath_;
  WindowPort& window_;
  SystemErrorText errorText_;
  std::uint32_t lineNumber_ = 1;
  std::vector<std::string>* tap_ = nullptr;
  int statusItems_ = 0;  // the window's status list holds what this log put there, nothing else
};

}  // namespace romsetter
