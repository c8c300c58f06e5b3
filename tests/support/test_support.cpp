#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace romsetter::test {

template <typename T>
T TakeFront(std::deque<T>& queue, T fallback) {
  if (queue.empty()) return fallback;
  T front = queue.front();
  queue.pop_front();
  return front;
}

MessageAnswer RecordingWindow::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                           MessageButtons buttons) {
  messages.push_back({text, caption, icon, buttons});
  events.push_back("message " + text);
  if (onMessage) onMessage(text);
  return TakeFront(answers, MessageAnswer::Ok);
}

std::optional<std::string> RecordingWindow::OpenFileDialog(const FileDialogRequest& request) {
  dialogs.push_back(request);
  return TakeFront<std::optional<std::string>>(dialogAnswers, std::nullopt);
}

bool RecordingWindow::CloseWindowByTitle(const std::string& title) {
  const auto it = std::find(openWindows.begin(), openWindows.end(), title);
  if (it == openWindows.end()) return false;
  openWindows.erase(it);
  closedTitles.push_back(title);
  return true;
}

bool RecordingWindow::IsEnabled(Control control, bool fallback) const {
  for (auto it = enables.rbegin(); it != enables.rend(); ++it) {
    if (it->first == control) return it->second;
  }
  return fallback;
}

std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(ROMSETTER_BINARY_DIR) / "scratch" / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  return dir.string();
}

std::string ScratchForCurrentTest(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = tag + "_" + info->test_suite_name() + "_" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return ScratchDir(name);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> StripNumbers(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    const auto space = l.find(' ');
    out.push_back(l.rfind("0x", 0) == 0 && space != std::string::npos ? l.substr(space + 1) : l);
  }
  return out;
}

}  // namespace romsetter::test
