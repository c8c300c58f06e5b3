#pragma once
// The command line of romsetter-cli: parsed and checked before anything touches a device.
#include <string>

namespace romsetter {

enum class CliCommand { None, Upgrade, Extract, Header, Info };

struct CliOptions {
  CliCommand command = CliCommand::None;
  bool nor = false;
  bool format = false;
  bool backup = false;
  bool aspi = false;
  std::string firmware;
  std::string smallFirmware;
  std::string boot;
  std::string fontList;
  std::string report;
  std::string device;          // "emulator:CONFIG"
  std::string emulatorConfig;  // CONFIG of the above
  std::string log = "Romsetter.log";
  std::string settingsDir;     // keep Romsetter.ini there; empty: settings live in memory
  std::string output;          // extract
};

// Exit statuses; documented in docs/cli.md.
constexpr int kExitSuccess = 0;
constexpr int kExitRefused = 1;
constexpr int kExitNoDevice = 2;
constexpr int kExitDeviceFailure = 3;
constexpr int kExitFileNotWritten = 4;  // the device got everything; a file here was not written

const char* CliUsage();

// False with a one-line `error` when the command line cannot be used as it is.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The report header a font list implies: every ".tab" (else ".TAB") replaced by ".h" (".H");
// a name with neither gets ".h" appended, so the header never is the list itself.
std::string DefaultReportPath(const std::string& fontList);

}  // namespace romsetter
