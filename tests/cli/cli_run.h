#pragma once
// romsetter-cli run as a process in a folder, as a script would run it, and what the tests
// read back from such a run.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "package/sample_images.h"
#include "support/test_support.h"

namespace romsetter::test {

inline void SaveBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
  WriteFile(path, std::string(data.begin(), data.end()));
}

// The sample inputs the process tests and the transcripts name (tests/transcripts/README.md);
// the recordings there were made with them.
inline void WriteSampleInputs(const std::string& dir) {
  SaveBytes(dir + "/fw.bin", BalancedImage(16, 21));
  SaveBytes(dir + "/small.bin", BalancedImage(8, 23));
  SaveBytes(dir + "/boot.bin", BalancedImage(4, 13));
  SaveBytes(dir + "/A.FNT", PatternBytes(3000, 22));
  WriteFile(dir + "/fonts.tab", "A.FNT\r\n");
  SaveBytes(dir + "/prog.exe", PatternBytes(3000, 24));  // a program to pack, not a package
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs ROMSETTER_CLI with `args` in `dir`, standard input empty, output kept in the folder.
inline CliRun RunCli(const std::string& dir, const std::string& args) {
  const std::string command = "cd '" + dir + "' && '" ROMSETTER_CLI "' " + args + " >stdout.txt 2>stderr.txt </dev/null";
  CliRun r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(dir + "/stdout.txt");
  r.err = ReadFile(dir + "/stderr.txt");
  return r;
}

// Runs ROMSETTER_CLI with `args` in `dir` writing to a pipe whose reader is already gone (a
// script's `| head` that has read its line); the exit status, or -signal when one ended it.
inline int RunCliIntoClosedPipe(const std::string& dir, const std::string& args) {
  int ends[2];
  if (pipe(ends) != 0) return -1000;
  close(ends[0]);
  const pid_t child = fork();
  if (child == 0) {
    dup2(ends[1], 1);
    const std::string command = "cd '" + dir + "' && exec '" ROMSETTER_CLI "' " + args + " 2>/dev/null </dev/null";
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  int raw = 0;
  if (child < 0 || waitpid(child, &raw, 0) != child) return -1000;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
}

// Every line of a --json run parsed; a line that is not JSON fails the test.
inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(object.is_discarded()) << line;
    lines.push_back(object);
  }
  return lines;
}

// A log with the seconds of its elapsed lines blanked: two runs may straddle a second.
inline std::string Timeless(const std::string& log) {
  static const std::regex elapsed("elapsed [0-9]+ seconds");
  return std::regex_replace(log, elapsed, "elapsed N seconds");
}

}  // namespace romsetter::test
