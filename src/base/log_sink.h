#pragma once
// Where every layer writes its lines.  The activity log implements it (numbered lines in the
// log file and the window's status list); tests may record instead.
#include <cstdint>
#include <string>

#include "base/format.h"

namespace romsetter {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One numbered line.  Returns when the line is written (or could not be); never blocks on
  // anything but the file system.
  virtual void Log(const std::string& text) = 0;
  // The system's error code and its text, as two numbered lines.
  virtual void LogSystemError(std::uint32_t code) = 0;
  // An un-numbered line for the status list only (not the log file).
  virtual void AddStatusLine(const std::string& text) = 0;

  // Every formatted line goes through the checked formatter.
  void Logf(const char* format, ...) ROMSETTER_PRINTF(2, 3);
};

}  // namespace romsetter
