#include "app/cli/cli_window.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

#include "app/cli/cli_options.h"
#include "base/format.h"

namespace romsetter {

namespace {

// The job's texts are single-byte text in the system code page.  One rule for every text of
// an object: when all are valid UTF-8 they go out as they are; otherwise every one is
// carried byte for byte as ISO 8859-1 with "latin1": true, so a reader gets the exact bytes
// back by encoding each text as ISO 8859-1 (the device name among them).
void PutTexts(Json& object, const Texts& texts) {
  const bool utf8 = std::all_of(texts.begin(), texts.end(), [](const auto& t) { return IsUtf8(t.second); });
  for (const auto& [key, text] : texts) {
    if (utf8) {
      object[key] = text;
      continue;
    }
    std::string latin1;
    for (unsigned char c : text) {
      if (c < 0x80) {
        latin1 += static_cast<char>(c);
      } else {
        latin1 += static_cast<char>(0xC0 | (c >> 6));
        latin1 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    object[key] = latin1;
  }
  if (!utf8) object["latin1"] = true;
}

void WriteLine(std::FILE* out, const Json& object) {
  const std::string text = object.dump();
  std::fputs(text.c_str(), out);
  std::fputs("\n", out);
  std::fflush(out);
}

// "0x0001f text" as the log numbers its lines; -1 for a line without a number.
long LineNumber(const std::string& line, std::string& text) {
  if (line.size() < 4 || line[0] != '0' || line[1] != 'x') return -1;
  std::size_t i = 2;
  long number = 0;
  while (i < line.size() && i < 12 && std::isxdigit(static_cast<unsigned char>(line[i]))) {
    const int c = std::tolower(static_cast<unsigned char>(line[i]));
    number = number * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    ++i;
  }
  if (i == 2 || i >= line.size() || line[i] != ' ') return -1;
  text = line.substr(i + 1);
  return number;
}

std::string Clock(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  return Format("%ld:%02ld", s / 60, s % 60);
}

}  // namespace

bool IsUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

const char* OutcomeName(int exitStatus) {
  switch (exitStatus) {
    case kExitSuccess: return "success";
    case kExitRefused: return "refused";
    case kExitNoDevice: return "no-device";
    case kExitDeviceFailure: return "device-failure";
    case kExitFileNotWritten: return "file-not-written";
    default: return "unknown";
  }
}

CliConsole::CliConsole(std::FILE* err, bool drawProgress, std::size_t devices)
    : err_(err), draw_(drawProgress), rows_(devices) {}

void CliConsole::Redraw() {
  if (!draw_) return;
  std::string text;
  if (shown_) text += Format("\x1b[%uA", static_cast<unsigned>(rows_.size()));
  for (const std::string& row : rows_) text += "\r\x1b[K" + row + "\n";
  std::fputs(text.c_str(), err_);
  std::fflush(err_);
  shown_ = true;
}

void CliConsole::SetRow(std::size_t row, const std::string& text) {
  if (row >= rows_.size() || rows_[row] == text) return;
  rows_[row] = text;
  Redraw();
}

void CliConsole::Above(std::FILE* to, const std::string& line) {
  if (draw_ && shown_) {
    // Up over the block and clear it, so the line takes its place and the block follows.
    std::fputs(Format("\x1b[%uA\r\x1b[J", static_cast<unsigned>(rows_.size())).c_str(), err_);
    std::fflush(err_);
    shown_ = false;
  }
  std::fputs(line.c_str(), to);
  std::fputs("\n", to);
  std::fflush(to);
  Redraw();
}

void CliConsole::Leave() { shown_ = false; }

CliWindow::CliWindow(std::FILE* out, std::FILE* err, CliOutput mode, bool drawProgress)
    : out_(out), err_(err), mode_(mode), drawProgress_(drawProgress && mode == CliOutput::Plain) {}

void CliWindow::EndProgressLine() {
  if (progressShown_) {
    std::fputs("\n", err_);
    progressShown_ = false;
  }
}

MessageAnswer CliWindow::ShowMessage(const std::string& text, const std::string& caption, MessageIcon,
                                     MessageButtons) {
  if (mode_ == CliOutput::Json) {
    Json object{{"type", "message"}};
    Emit(object, {{"caption", caption}, {"text", text}});
    return MessageAnswer::Ok;
  }
  EndProgressLine();
  // One line per box: line breaks inside the text would split it.
  std::string flat = text;
  for (char& c : flat) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  if (console_ != nullptr) {
    MutexLock lock(console_->mutex());
    console_->Above(err_, Format("%s: %s: %s", device_.c_str(), caption.c_str(), flat.c_str()));
    return MessageAnswer::Ok;
  }
  std::fputs(Format("%s: %s\n", caption.c_str(), flat.c_str()).c_str(), err_);
  std::fflush(err_);
  return MessageAnswer::Ok;  // scripted runs confirm
}

void CliWindow::StatusAppend(const std::string& line) {
  if (mode_ == CliOutput::Json) {
    std::string text;
    const long number = LineNumber(line, text);
    Json object{{"type", number < 0 ? "status" : "log"}};
    if (number >= 0) object["number"] = number;
    Emit(object, {{"text", number < 0 ? line : text}});
    return;
  }
  if (console_ != nullptr) {
    // Over a drawn block the lines stay in the devices' log files.
    MutexLock lock(console_->mutex());
    if (!console_->drawing()) console_->Above(out_, Format("%s: %s", device_.c_str(), line.c_str()));
    return;
  }
  EndProgressLine();
  std::fputs(line.c_str(), out_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void CliWindow::OnPage(PageEvent event) {
  switch (event) {
    case PageEvent::Written: ++tally_.written; break;
    case PageEvent::Verified: ++tally_.verified; break;
    case PageEvent::Remapped: ++tally_.remapped; break;
  }
}

void CliWindow::CopyProgress(const char* copy, std::uint32_t done, std::uint32_t total) {
  const auto now = std::chrono::steady_clock::now();
  if (copy_ != copy || done <= 1) {  // a new copy, or the same one again at Font_2
    copy_ = copy;
    copyStarted_ = now;
    lastPercent_ = -1;
  }
  const int percent = total == 0 ? 100 : static_cast<int>(std::uint64_t{done} * 100 / total);
  // One step per percent keeps the output bounded whatever the image's size.
  if (percent == lastPercent_ && done != total) return;
  lastPercent_ = percent;
  if (mode_ == CliOutput::Json) {
    Json object{{"type", "progress"}, {"copy", copy_}, {"done", done}, {"total", total}};
    Emit(object);
    return;
  }
  if (console_ != nullptr && !console_->drawing()) return;
  if (console_ == nullptr && !drawProgress_) return;
  const double elapsed = std::chrono::duration<double>(now - copyStarted_).count();
  const double left = done == 0 ? 0.0 : elapsed / done * (total > done ? total - done : 0);
  const std::string progress = Format("%-8s %5u/%u pages  %3d%%  %s left ", copy_.c_str(), static_cast<unsigned>(done),
                                      static_cast<unsigned>(total), percent, Clock(left).c_str());
  if (console_ != nullptr) {
    MutexLock lock(console_->mutex());
    console_->SetRow(row_, Format("%-20s %s", device_.c_str(), progress.c_str()));
    return;
  }
  std::fputs(("\r" + progress).c_str(), err_);
  std::fflush(err_);
  progressShown_ = true;
}

void CliWindow::Note(const char* type, const std::string& text) {
  if (mode_ == CliOutput::Json) {
    Json object{{"type", type}};
    Emit(object, {{"text", text}});
    return;
  }
  EndProgressLine();
  std::fputs(text.c_str(), out_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void CliWindow::PlanStep(const PlanEntry& e) {
  if (mode_ != CliOutput::Json) return;
  Json copies = Json::array();
  for (std::size_t i = 0; i < e.copies.size(); ++i) copies.push_back({{"copy", e.copies[i]}, {"start", e.starts[i]}});
  Json object{{"type", "plan"},       {"step", e.step},          {"copies", copies},
              {"pages", e.pages},      {"region_pages", e.regionPages}, {"seconds", e.seconds}};
  Emit(object);
}

void CliWindow::Error(const std::string& text) {
  if (mode_ == CliOutput::Json) {
    Note("error", text);
    return;
  }
  EndProgressLine();
  // One line and where to read more: the usage of every command only when none was given.
  std::fputs(Format("romsetter-cli: %s\n%s", text.c_str(),
                    helpHint_.empty() ? CliUsage() : (helpHint_ + "\n").c_str()).c_str(), err_);
}

void CliWindow::Result(const char* command, int exitStatus, double seconds) {
  EndProgressLine();
  if (mode_ != CliOutput::Json) return;
  WriteLine(out_, Json{{"type", "result"},
                       {"command", command},
                       {"outcome", OutcomeName(exitStatus)},
                       {"exit", exitStatus},
                       {"pages", {{"written", tally_.written}, {"verified", tally_.verified},
                                  {"remapped", tally_.remapped}}},
                       {"seconds", static_cast<double>(static_cast<long>(seconds * 1000.0)) / 1000.0}});
}

void CliWindow::Emit(Json& object, Texts texts) {
  if (console_ == nullptr) {
    PutTexts(object, texts);
    WriteLine(out_, object);
    return;
  }
  texts.emplace_back("device", device_);
  PutTexts(object, texts);
  MutexLock lock(console_->mutex());
  WriteLine(out_, object);
}

void CliWindow::AttachTo(CliConsole& console, std::string device, std::size_t row) {
  console_ = &console;
  device_ = std::move(device);
  row_ = row;
}

void CliWindow::DeviceResult(const std::string& device, int exitStatus, const PageTally& pages, double seconds) {
  if (mode_ != CliOutput::Json) return;
  Json object{{"type", "device-result"},
              {"outcome", OutcomeName(exitStatus)},
              {"exit", exitStatus},
              {"pages", {{"written", pages.written}, {"verified", pages.verified}, {"remapped", pages.remapped}}},
              {"seconds", static_cast<double>(static_cast<long>(seconds * 1000.0)) / 1000.0}};
  PutTexts(object, {{"device", device}});
  WriteLine(out_, object);
}

void CliWindow::AddTally(const PageTally& pages) {
  tally_.written += pages.written;
  tally_.verified += pages.verified;
  tally_.remapped += pages.remapped;
}

std::optional<std::string> CliWindow::OpenFileDialog(const FileDialogRequest&) { return dialogAnswer_; }

}  // namespace romsetter
