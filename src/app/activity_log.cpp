#include "app/activity_log.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace romsetter {

bool CRuntimeErrorText(std::uint32_t code, std::string& text) {
  const char* message = std::strerror(static_cast<int>(code));
  if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0) return false;
  text = message;
  return true;
}

ActivityLog::ActivityLog(std::string logPath, WindowPort& window, SystemErrorText errorText)
    : logPath_(std::move(logPath)), window_(window), errorText_(std::move(errorText)) {}

void ActivityLog::Log(const std::string& text) {
  if (tap_ != nullptr) tap_->push_back(text);
  const std::uint32_t n = lineNumber_++;
  const std::string line = Format("%#07x %s", n, text.c_str());
  // Emptied at the first line by truncating, never by deleting: whatever the path names
  // stays what it is. Opened and closed per line so the file is complete even if the
  // program stops abruptly.
  if (std::FILE* f = std::fopen(logPath_.c_str(), n == 1 ? "wb" : "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fwrite("\r\n", 1, 2, f);
    std::fclose(f);
  }
  if (statusItems_ > kStatusListLimit) {
    window_.StatusRemoveFirst();
    --statusItems_;
  }
  window_.StatusAppend(line);
  ++statusItems_;
}

void ActivityLog::LogSystemError(std::uint32_t code) {
  std::string text;
  if (!errorText_ || !errorText_(code, text)) return;
  Logf("PrintError.ErrorCode=%d", static_cast<int>(code));
  Log(text);
}

void ActivityLog::AddStatusLine(const std::string& text) {
  window_.StatusAppend(text);
  ++statusItems_;
}

}  // namespace romsetter
