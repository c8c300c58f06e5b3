#include "app/cli/cli_options.h"

#include <cstring>
#include <filesystem>

#include "base/format.h"
#include "base/text.h"

namespace romsetter {

const char* CliUsage() {
  return "usage: romsetter-cli upgrade --device emulator:CONFIG [--aspi] [--nor] [--format] [--backup]\n"
         "                             [--firmware FILE] [--small-firmware FILE] [--boot FILE]\n"
         "                             [--font-list FILE] [--report FILE] [--log FILE] [--settings DIR]\n"
         "       romsetter-cli extract --device emulator:CONFIG --output FILE [image and device options]\n"
         "       romsetter-cli header --font-list FILE --report FILE [--log FILE]\n"
         "       romsetter-cli info --device emulator:CONFIG [--aspi] [--nor] [--log FILE]\n";
}

namespace {

bool RegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool CheckInputFile(const char* option, const std::string& path, std::string& error) {
  if (path.empty() || RegularFile(path)) return true;
  error = Format("%s %s: no such file", option, path.c_str());
  return false;
}

}  // namespace

std::string DefaultReportPath(const std::string& fontList) {
  if (fontList.find(".tab") != std::string::npos) return ReplaceAll(fontList, ".tab", ".h");
  if (fontList.find(".TAB") != std::string::npos) return ReplaceAll(fontList, ".TAB", ".H");
  return fontList + ".h";
}

bool ParseCliOptions(int argc, const char* const* argv, CliOptions& o, std::string& error) {
  if (argc < 2) {
    error = "no command given";
    return false;
  }
  const std::string command = argv[1];
  if (command == "upgrade") o.command = CliCommand::Upgrade;
  else if (command == "extract") o.command = CliCommand::Extract;
  else if (command == "header") o.command = CliCommand::Header;
  else if (command == "info") o.command = CliCommand::Info;
  else {
    error = Format("unknown command \"%s\"", command.c_str());
    return false;
  }

  struct ValueOption {
    const char* name;
    std::string* target;
  };
  const ValueOption values[] = {
      {"--firmware", &o.firmware}, {"--small-firmware", &o.smallFirmware}, {"--boot", &o.boot},
      {"--font-list", &o.fontList}, {"--report", &o.report},             {"--device", &o.device},
      {"--log", &o.log},           {"--settings", &o.settingsDir},       {"--output", &o.output},
  };
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--nor") { o.nor = true; continue; }
    if (arg == "--format") { o.format = true; continue; }
    if (arg == "--backup") { o.backup = true; continue; }
    if (arg == "--aspi") { o.aspi = true; continue; }
    bool matched = false;
    for (const ValueOption& v : values) {
      if (arg != v.name) continue;
      if (i + 1 >= argc || std::strlen(argv[i + 1]) == 0) {
        error = Format("%s needs a value", v.name);
        return false;
      }
      *v.target = argv[++i];
      matched = true;
      break;
    }
    if (!matched) {
      error = Format("unknown option \"%s\"", arg.c_str());
      return false;
    }
  }

  const bool needsDevice = o.command != CliCommand::Header;
  if (needsDevice) {
    if (o.device.empty()) {
      error = "--device is required";
      return false;
    }
    if (o.device.rfind("emulator:", 0) != 0 || o.device.size() == 9) {
      error = Format("--device %s: only emulator:CONFIG is known", o.device.c_str());
      return false;
    }
    o.emulatorConfig = o.device.substr(9);
    if (!CheckInputFile("--device", o.emulatorConfig, error)) return false;
  }
  if (o.command == CliCommand::Header) {
    if (o.fontList.empty() || o.report.empty()) {
      error = "header needs --font-list and --report";
      return false;
    }
  }
  if (o.command == CliCommand::Extract && o.output.empty()) {
    error = "extract needs --output";
    return false;
  }
  if (!CheckInputFile("--firmware", o.firmware, error) || !CheckInputFile("--small-firmware", o.smallFirmware, error) ||
      !CheckInputFile("--boot", o.boot, error) || !CheckInputFile("--font-list", o.fontList, error)) {
    return false;
  }
  if (!o.settingsDir.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(o.settingsDir, ec)) {
      error = Format("--settings %s: not a folder", o.settingsDir.c_str());
      return false;
    }
  }
  if (o.nor && (o.format || o.backup || !o.smallFirmware.empty())) {
    error = "--format, --backup and --small-firmware are NAND options; drop --nor or them";
    return false;
  }
  if (!o.boot.empty() && !o.nor) {
    error = "--boot needs --nor (boot code is written only to NOR devices)";
    return false;
  }
  if (o.backup && o.firmware.empty() && o.smallFirmware.empty()) {
    error = "--backup needs --firmware or --small-firmware";
    return false;
  }
  if (o.command == CliCommand::Upgrade && o.firmware.empty() && o.smallFirmware.empty() && o.boot.empty() &&
      o.fontList.empty() && !o.format) {
    error = "nothing to do: give an image, a font list or --format";
    return false;
  }
  if (!o.fontList.empty() && o.report.empty()) o.report = DefaultReportPath(o.fontList);
  if (!o.report.empty() && o.report == o.fontList) {
    error = "--report must not name the font list itself";
    return false;
  }
  return true;
}

}  // namespace romsetter
