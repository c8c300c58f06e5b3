#pragma once
// The command line of romsetter-cli: parsed and checked before anything touches a device.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace romsetter {

enum class CliCommand { None, Upgrade, Extract, Header, Info, Pack, Unpack };

// One device of an upgrade over several, as checked from its --device value.
struct DeviceTarget {
  std::string text;            // the value as given
  std::string emulatorConfig;  // emulator: or emulator-sgio:
  int emulatorIndex = 0;       // CONFIG#N: the N-th device of the scenario (from 1); 0: none named
  bool sgIo = false;
  bool realDevice = false;
  std::string node;            // Linux
  char drive = 0;              // Windows: "E:", the drive of that letter (upper case)
  bool aspiTarget = false;     // Windows: "aspi:A:T", the ASPI target at that address
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  bool aspi = false;           // reached through ASPI (--aspi, or an ASPI target)
};

struct CliOptions {
  CliCommand command = CliCommand::None;
  bool nor = false;
  bool format = false;
  bool backup = false;
  bool aspi = false;
  bool json = false;           // JSON Lines on standard output instead of plain lines
  std::string firmware;
  std::string smallFirmware;
  std::string boot;
  std::string fontList;
  std::string report;
  std::string device;          // "emulator:CONFIG", "emulator-sgio:CONFIG" (Linux), "auto", a node (Linux),
                               // a drive "E:" or an ASPI target "aspi:A:T" (Windows)
  bool realDevice = false;     // "auto", or a node
  std::string node;            // Linux: the /dev/sgN or /dev/sdX given instead of discovery
  char drive = 0;              // Windows: "E:" names the drive discovery may take (upper case)
  bool aspiTarget = false;     // Windows: "aspi:A:T" names the ASPI target discovery may take
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  bool sgIo = false;           // "emulator-sgio:": the emulated device behind the SG_IO transport
  bool force = false;          // Linux: write to a device whose disk is mounted
  std::string emulatorConfig;  // CONFIG of the above
  int emulatorIndex = 0;       // CONFIG#N: only the N-th device of the scenario (from 1)
  std::vector<std::string> devices;  // every --device given; `device` is the first
  bool all = false;            // --all: every device discovery matches
  bool yes = false;            // --yes: go on with --all without asking
  bool dryRun = false;         // --dry-run: the checks and the plan, nothing written
  // Several devices at once (several --device, or --all): one per --device; with --all the
  // one source the devices are found on.
  std::vector<DeviceTarget> targets;
  bool Several() const { return all || targets.size() > 1; }
  std::string replay;          // "replay:FILE": the recording that answers instead of a device
  std::string record;          // --record FILE: every command of the run written there
  bool recordData = false;     // --record-data: pages as data, not only digests
  std::string log = "Romsetter.log";
  std::string settingsDir;     // keep Romsetter.ini there; empty: settings live in memory
  std::string output;          // extract
  std::string package;         // upgrade --package, and the package unpack reads
  std::string program;         // pack: the program file the package starts from
  std::string fwVersion;       // pack: FW_Version carried along (else the settings file's)
  bool fwVersionGiven = false;
  std::string outputDir;       // unpack
  int refusalStatus = 1;       // the exit status of a refusal: 2 when the device named is absent
};

// A file a run reads or writes, with the option that names it, for the checks below.
struct NamedFile {
  std::string option;
  std::string path;
};

// Every output is a regular file or not there yet, and no output is the same file as an
// input or as another output (compared by identity, not by spelling); false with one line
// naming the file and why.
bool FilesApart(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs, std::string& error);
// The files the command line names for reading and for writing (the settings file among the
// inputs); a run adds what it learns later (flash files, each device's log).
void FilesOfRun(const CliOptions& o, std::vector<NamedFile>& inputs, std::vector<NamedFile>& outputs);

// Exit statuses; documented in docs/cli.md.
constexpr int kExitSuccess = 0;
constexpr int kExitRefused = 1;
constexpr int kExitNoDevice = 2;
constexpr int kExitDeviceFailure = 3;
constexpr int kExitFileNotWritten = 4;  // the device got everything; a file here was not written

enum class CliParse {
  Run,      // `options` hold a command to run
  Printed,  // help or version went to `printed`: exit 0
  Refused,  // `error` holds one line: exit kExitRefused
};

// The short usage shown after a refused command line.
const char* CliUsage();
// What a refusal points to: "see romsetter-cli COMMAND --help" for the command given in `argv`;
// empty when none was given (the refusal then shows the usage of every command).
std::string CliHelpHint(int argc, const char* const* argv);
const char* CliVersion();

// Reads command lines with option tables built once, for callers that parse many (building
// them is most of the cost of one parse).  Each parse starts from CliOptions' defaults.
class CliParser {
 public:
  CliParser();
  ~CliParser();
  CliParser(const CliParser&) = delete;
  CliParser& operator=(const CliParser&) = delete;
  CliParse Parse(int argc, const char* const* argv, CliOptions& options, std::string& error, std::string& printed);

 private:
  static constexpr int kParsesPerTables = 1000;
  struct Tables;
  std::unique_ptr<Tables> tables_;
  int parses_ = 0;
};

// The checks a parse makes once CLI11 has read the line (cli_checks.cpp): the devices named
// (normalised into `options`), options that cannot run together, and the files named.  False
// with one line in `error` (and `refusalStatus` set).
bool CheckCliOptions(CliOptions& options, std::string& error);

// Parses and checks the whole command line; files named are checked to exist as files, and
// options that cannot run together are refused.
CliParse ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error,
                         std::string& printed);

// The report header a font list implies, beside it: in the list's file name (never its
// folders), every ".tab" (else ".TAB") replaced by ".h" (".H"); a name with neither gets
// ".h" appended, so the header never is the list itself.
std::string DefaultReportPath(const std::string& fontList);

}  // namespace romsetter
