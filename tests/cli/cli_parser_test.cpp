// One parser reading many command lines must read each as if it were the first.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "base/format.h"
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
  // A socket, special and never blocking (through a link: socket paths are short).
  const std::string socketPath = Format("/tmp/romsetter-refusals-%d.sock", static_cast<int>(getpid()));
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  std::remove(socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(sock);
  std::filesystem::create_symlink(socketPath, dir + "/sock");
  const InFolder here(dir);

  const struct {
    const char* args;
    const char* error;  // the whole line
    int status = 1;
  } rows[] = {
      {"upgrade --device emulator:nand.cfg --firmware nothere.bin", "--firmware nothere.bin: no such file"},
      {"info --device emulator:nand.cfg --bogus", "The following argument was not expected: --bogus"},
      {"upgrade --device emulator:nand.cfg --firmware folder", "--firmware folder: a folder, not a file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --bogus",
       "The following argument was not expected: --bogus"},
      {"upgrade --device emulator:nand.cfg --firmware", "--firmware: 1 required FILE missing"},
      {"upgrade --device emulator:nand.cfg --firmware=", "--firmware: 1 required FILE missing"},
      {"upgrade --device emulator:nand.cfg --boot fw.bin",
       "--boot needs --nor (boot code is written only to NOR devices)"},
      {"upgrade --device emulator:nand.cfg --nor --format",
       "--format, --backup and --small-firmware are NAND options; drop --nor or them"},
      {"upgrade --device emulator:nand.cfg", "nothing to do: give an image, a font list or --format"},
      {"upgrade --device emulator:nand.cfg --format --backup", "--backup needs --firmware or --small-firmware"},
      {"extract --device emulator:nand.cfg --firmware fw.bin", "extract needs --output"},
      {"header --font-list fonts.tab", "header needs --font-list and --report"},
      {"upgrade --device emulator:nand.cfg --format --settings fw.bin", "--settings fw.bin: not a folder"},
      {"upgrade --device emulator:nand.cfg --format --log folder", "--log folder: a folder, not a file"},
      {"upgrade --package fw.bin --firmware fw.bin --device emulator:nand.cfg",
       "--package carries its own images and choices; drop the image, --nor, --format and --backup options"},
      {"unpack fw.bin", "unpack needs --output-dir"},
      {"unpack fw.bin --output-dir fw.bin", "--output-dir fw.bin: not a folder"},
      {"pack --program fw.bin", "pack needs --program and --firmware"},
      {"pack --program fw.bin --firmware fw.bin --device emulator:a/nand.cfg --device emulator:b/nand.cfg",
       "only upgrade takes more than one --device"},
      // Outputs: regular files or new, never an input or another output, in any spelling.
      {"upgrade --device emulator:nand.cfg --format --log ./sock",
       "--log ./sock: a device, pipe or socket, not a regular file; name a file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --record sock",
       "--record sock: a device, pipe or socket, not a regular file; name a file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --record ./fw.bin",
       "--record ./fw.bin: the same file as --firmware fw.bin, which is read; name another file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --log fw.bin",
       "--log fw.bin: the same file as --firmware fw.bin, which is read; name another file"},
      {"extract --device emulator:nand.cfg --firmware fw.bin --output link.bin",
       "--output link.bin: the same file as --firmware fw.bin, which is read; name another file"},
      {"upgrade --device emulator:nand.cfg --font-list fonts.tab --log ./fonts.h",
       "--report fonts.h: the same file as --log ./fonts.h, which is written too; name another file"},
      {"upgrade --device emulator:nand.cfg --firmware fw.bin --log x.log --record ./x.log",
       "--record ./x.log: the same file as --log x.log, which is written too; name another file"},
      {"upgrade --device emulator:nand.cfg --format --log nand.cfg",
       "--log nand.cfg: the same file as --device nand.cfg, which is read; name another file"},
      {"header --font-list fonts.tab --report ./fonts.tab",
       "--report ./fonts.tab: the same file as --font-list fonts.tab, which is read; name another file"},
      {"upgrade --device emulator:nand.cfg --font-list fonts.h --report fonts.h",
       "--report must not name the font list itself"},
      {"upgrade --device emulator:nand.cfg --font-list fonts.tab --report fonts_In.dat --log x.log",
       "the font data file of --report fonts_In.dat: the same file as --report fonts_In.dat, which is written too; name another file"},
      // Devices.
      {"upgrade --device /dev/no-such-sg --format", "--device /dev/no-such-sg: no such device node", 2},
      {"info --device /dev/no-such-sg", "--device /dev/no-such-sg: no such device node", 2},
      {"upgrade --device auto --aspi --format",
       "--aspi reaches ASPI only on Windows or with --device emulator:CONFIG"},
      {"upgrade --device emulator-sgio:nand.cfg --aspi --format",
       "--aspi and emulator-sgio: name two transports; drop one"},
      {"upgrade --device something:nand.cfg --format",
       "--device something:nand.cfg: only emulator:CONFIG, emulator-sgio:CONFIG, replay:FILE, a node and auto are known"},
      {"upgrade --device E: --format", "--device E:: drive letters and aspi:A:T name Windows devices"},
      {"upgrade --device aspi:0:1 --format", "--device aspi:0:1: drive letters and aspi:A:T name Windows devices"},
      {"upgrade --device auto --device /dev/null --format",
       "--device auto with other devices: name each real device by its node (/dev/sgN)"},
      {"upgrade --device /dev/null --device //dev/./null --format",
       "--device //dev/./null is named twice (as /dev/null)"},
      {"upgrade --device emulator:x --record-data --format", "--record-data needs --record FILE"},
      {"upgrade --device replay:missing.jsonl --format", "--device missing.jsonl: no such file"},
      // Several devices.
      {"upgrade --all --device emulator:tray.cfg#2 --firmware fw.bin",
       "--all with --device emulator:tray.cfg#2: give auto or a whole scenario (emulator:CONFIG)"},
      {"upgrade --device emulator:tray.cfg#1 --device emulator:tray.cfg#1 --firmware fw.bin",
       "--device emulator:tray.cfg#1 is named twice (as emulator:tray.cfg#1)"},
      {"upgrade --device emulator:tray.cfg#1 --device emulator:./tray.cfg#1 --firmware fw.bin",
       "--device emulator:./tray.cfg#1 is named twice (as emulator:tray.cfg#1)"},
      {"upgrade --device emulator:a/nand.cfg --device emulator:b/../a/nand.cfg --firmware fw.bin",
       "--device emulator:b/../a/nand.cfg is named twice (as emulator:a/nand.cfg)"},
      {"extract --device emulator:tray.cfg#1 --device emulator:tray.cfg#2 --output o.bin",
       "only upgrade takes more than one --device"},
      {"upgrade --device emulator:tray.cfg#0 --firmware fw.bin",
       "--device emulator:tray.cfg#0: #N counts the scenario's devices from 1"},
      {"upgrade --device emulator:tray.cfg#1 --device emulator:tray.cfg#2 --firmware fw.bin --record r.jsonl",
       "--record writes one device's commands: give one --device"},
      {"upgrade --device replay:r.jsonl --device emulator:tray.cfg#2 --firmware fw.bin",
       "--device replay:r.jsonl: a recording replays alone: give one --device"},
      {"--json", "A subcommand is required"},  // right after a line with a command
  };
  CliParser parser;
  for (std::size_t parse = 0; parse < 25 * std::size(rows); ++parse) {
    const auto& row = rows[parse % std::size(rows)];
    SCOPED_TRACE(row.args);
    Parsed p = ParseWith(parser, Split(row.args));
    EXPECT_EQ(p.parse, CliParse::Refused);
    EXPECT_EQ(p.error, row.error);
    EXPECT_EQ(p.options.refusalStatus, row.status);
  }
  std::remove(socketPath.c_str());
}

// The default header sits beside the list; only the list's own name loses ".tab".
TEST(CliDefaults, TheReportIsNamedAfterTheListInItsFolder) {
  EXPECT_EQ(DefaultReportPath("my.tables/fonts.tab"), "my.tables/fonts.h");
  EXPECT_EQ(DefaultReportPath("x.tab\\FONTS.TAB"), "x.tab\\FONTS.H");
  EXPECT_EQ(DefaultReportPath("my.tab/fonts.h"), "my.tab/fonts.h.h");
}

}  // namespace
}  // namespace romsetter::test
