// Every transcript in tests/transcripts: romsetter-cli run in a scratch folder with the sample
// inputs, and what it wrote (logs, standard output and error, exit statuses) compared with the
// files kept beside its command lines.  ROMSETTER_REWRITE_TRANSCRIPTS=1 (tools/transcripts
// --rewrite) writes them from the runs instead; the diff is the review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/cli_run.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

namespace fs = std::filesystem;

const std::string kFolder = ROMSETTER_SOURCE_DIR "/tests/transcripts";
// What a transcript keeps about its runs; every other file of the folder is an input.
const char* const kKept[] = {".args", ".log", ".out", ".boxes", ".exit", ".md"};

bool Kept(const fs::path& file) {
  return std::find(std::begin(kKept), std::end(kKept), file.extension().string()) != std::end(kKept);
}

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const auto& file : fs::directory_iterator(kFolder)) {
    if (file.path().extension() == ".args") names.push_back(file.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The sample inputs every transcript may name (tests/transcripts/README.md), and every input
// file of the folder (scenarios, recordings) under its own name.
void WriteInputs(const std::string& dir) {
  test::WriteSampleInputs(dir);
  test::WriteFile(dir + "/bad.bin", std::string(513, '\x01'));
  fs::create_directory(dir + "/folder");
  for (const auto& file : fs::directory_iterator(kFolder)) {
    if (!Kept(file.path())) fs::copy_file(file.path(), dir + "/" + file.path().filename().string());
  }
}

// Without carriage returns, the run's folder and the times it took or would take (elapsed
// lines, JSON, a dry run's plan, the table of several devices).
std::string Plain(std::string text, const std::string& dir) {
  static const std::regex seconds("\"seconds\":[0-9.e+-]+"), column(" +[0-9]+\\.[0-9]s\n"),
      about("about [0-9.]+ s");
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  text = std::regex_replace(test::Timeless(ReplaceAll(text, dir, "$DIR")), seconds, "\"seconds\":N");
  text = std::regex_replace(text, about, "about N s");  // a dry run's plan
  return std::regex_replace(text, column, "    N.Ns\n");  // the time column of several devices' table
}

// Every log the run left, by name, each under a line naming it.  They are removed, so the next
// command line starts afresh.
std::string TakeLogs(const std::string& dir, std::size_t& count) {
  std::vector<std::string> logs;
  for (const auto& file : fs::directory_iterator(dir)) {
    if (file.path().extension() == ".log") logs.push_back(file.path().filename().string());
  }
  std::sort(logs.begin(), logs.end());
  count = logs.size();
  std::string all;
  for (const std::string& name : logs) {
    all += "== " + name + " ==\n";
    all += Plain(test::ReadFile(dir + "/" + name), dir);
    fs::remove(dir + "/" + name);
  }
  return all;
}

// Several devices' jobs write standard output and error at once: their lines are kept grouped by the
// device that wrote them (a stable sort on what comes before the first ": "), each group in order.
std::string ByDevice(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, a.find(": ")) < b.substr(0, b.find(": "));
  });
  std::string all;
  for (const std::string& line : lines) all += line;
  return all;
}

// A log as standard output carries it: without the lines that name each log.
std::string Unheaded(const std::string& log) {
  static const std::regex heading("(^|\n)== [^\n]* ==\n");
  return std::regex_replace(log, heading, "$1");
}

struct Transcript {
  std::string log, out, boxes, exit;
};

class Transcripts : public ::testing::TestWithParam<std::string> {};

TEST_P(Transcripts, RunAsKept) {
  const std::string name = GetParam();
  const std::string stem = kFolder + "/" + name;
  const std::string dir = test::ScratchDir("transcript_" + name);
  WriteInputs(dir);
  Transcript got;
  std::istringstream lines(test::ReadFile(stem + ".args"));
  for (std::string args; std::getline(lines, args);) {
    if (args.empty() || args[0] == '#') continue;
    const test::CliRun r = test::RunCli(dir, args);
    std::size_t logs = 0;
    got.log += TakeLogs(dir, logs);
    got.out += logs > 1 ? ByDevice(Plain(r.out, dir)) : Plain(r.out, dir);
    got.boxes += logs > 1 ? ByDevice(Plain(r.err, dir)) : Plain(r.err, dir);
    got.exit += std::to_string(r.status) + "\n";
  }
  // Standard output is the log unless the transcript keeps it apart (info, JSON, refusals).
  const bool outIsLog = got.out == Unheaded(got.log);
  const char* rewrite = std::getenv("ROMSETTER_REWRITE_TRANSCRIPTS");
  if (rewrite && *rewrite == '1') {
    const auto keep = [&](const char* extension, const std::string& text) {
      if (text.empty()) fs::remove(stem + extension);
      else test::WriteFile(stem + extension, text);
    };
    keep(".log", got.log);
    keep(".out", outIsLog ? "" : got.out);
    keep(".boxes", got.boxes);
    keep(".exit", got.exit);
    return;
  }
  const std::string log = test::ReadFile(stem + ".log");
  EXPECT_EQ(got.exit, test::ReadFile(stem + ".exit"));
  EXPECT_EQ(got.boxes, test::ReadFile(stem + ".boxes"));
  EXPECT_EQ(got.log, log);
  EXPECT_EQ(got.out, test::FileExists(stem + ".out") ? test::ReadFile(stem + ".out") : Unheaded(log));
}

INSTANTIATE_TEST_SUITE_P(Kept, Transcripts, ::testing::ValuesIn(Names()), [](const auto& info) {
  std::string name = info.param;
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
});

}  // namespace
}  // namespace romsetter
