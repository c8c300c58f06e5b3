// One parser reading many command lines must read each as if it were the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "support/data_rows.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

struct Parsed {
  CliParse parse;
  CliOptions options;
  std::string error;
};

Parsed ParseWith(CliParser& parser, std::vector<std::string> args) {
  args.insert(args.begin(), "romsetter-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Parsed p;
  std::string printed;
  p.parse = parser.Parse(static_cast<int>(args.size()), argv.data(), p.options, p.error, printed);
  return p;
}

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The working folder for one scope: the command line names files as a user in it would.
class InFolder {
 public:
  explicit InFolder(const std::string& dir) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InFolder() { std::filesystem::current_path(before_); }

 private:
  std::filesystem::path before_;
};

// Every command line refused before anything runs, with the one line that says why; parsed
// in this process (the exit statuses of refusals are the process tests' and transcripts').
// One parser reads them all, round after round past the point where it makes its tables
// afresh: each line must read as if it were the first (an option of the line before, kept,
// would change the next line's reason).
TEST(CliRefusals, EachLineIsRefusedWithItsReason) {
  const std::string dir = ScratchForCurrentTest("refusals");
  for (const char* file : {"fw.bin", "fonts.tab", "fonts.h", "nand.cfg", "a/nand.cfg", "b/nand.cfg"}) {
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + file).parent_path());
    WriteFile(dir + "/" + file, "x");
  }
  WriteFile(dir + "/r.jsonl", "");
  WriteFile(dir + "/tray.cfg", "[device 0 0]\n[device 0 1]\n[device 0 2]\n");
  std::filesystem::create_directory(dir + "/folder");
  std::filesystem::create_symlink("fw.bin", dir + "/link.bin");
  // A special file that never blocks, reached through a link.
  std::filesystem::create_symlink("/dev/null", dir + "/null");
  const InFolder here(dir);

  // tests/cli/refusals.txt: a command line | its exit status | its refusal line.
  const std::vector<std::vector<std::string>> rows = ReadTable("cli/refusals.txt");
  ASSERT_GT(rows.size(), 40u);
  CliParser parser;
  for (std::size_t parse = 0; parse < 25 * rows.size(); ++parse) {
    const std::vector<std::string>& row = rows[parse % rows.size()];
    ASSERT_EQ(row.size(), 3u) << row[0];
    SCOPED_TRACE(row[0]);
    Parsed p = ParseWith(parser, Split(row[0]));
    EXPECT_EQ(p.parse, CliParse::Refused);
    EXPECT_EQ(p.error, row[2]);
    EXPECT_EQ(p.options.refusalStatus, std::stoi(row[1]));
  }
}

// The default header sits beside the list; only the list's own name loses ".tab".
TEST(CliDefaults, TheReportIsNamedAfterTheListInItsFolder) {
  EXPECT_EQ(DefaultReportPath("my.tables/fonts.tab"), "my.tables/fonts.h");
  EXPECT_EQ(DefaultReportPath("x.tab\\FONTS.TAB"), "x.tab\\FONTS.H");
  EXPECT_EQ(DefaultReportPath("my.tab/fonts.h"), "my.tab/fonts.h.h");
}

}  // namespace
}  // namespace romsetter::test
