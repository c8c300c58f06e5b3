#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <memory>
#include <utility>

#include "base/format.h"

#ifndef ROMSETTER_VERSION
#define ROMSETTER_VERSION "0.0.0"
#endif

namespace romsetter {

#ifdef _WIN32
#define ROMSETTER_DEVICE_FORMS "auto|E:|aspi:A:T|emulator:CONFIG[#N]|replay:FILE"
#else
#define ROMSETTER_DEVICE_FORMS "auto|/dev/sgN|/dev/sdX|emulator:CONFIG[#N]|emulator-sgio:CONFIG[#N]|replay:FILE"
#endif

const char* CliUsage() {
  return "usage: romsetter-cli upgrade --device DEVICE [--dry-run] [--aspi] [--force] [--nor] [--format] [--backup]\n"
         "                             [--firmware FILE] [--small-firmware FILE] [--boot FILE]\n"
         "                             [--font-list FILE] [--report FILE] [--log FILE] [--settings DIR] [--json]\n"
         "       romsetter-cli upgrade --device DEVICE --device DEVICE ... | --all [--yes] [the options above]\n"
         "       romsetter-cli upgrade --package PACKAGE --device DEVICE [--aspi] [--log FILE] [--json]\n"
         "       romsetter-cli extract --device DEVICE --output FILE [image and device options]\n"
         "       romsetter-cli info --device DEVICE [--aspi] [--nor] [--log FILE] [--json]\n"
         "       romsetter-cli header --font-list FILE --report FILE [--log FILE] [--json]\n"
         "       romsetter-cli pack --program FILE --firmware BIG [--small-firmware SMALL] [--nor] [--boot FILE]\n"
         "                          [--font-list LIST [--report H]] [--format] [--backup] [--fw-version TEXT]\n"
         "                          [--settings DIR] [--device DEVICE [--aspi]]\n"
         "       romsetter-cli unpack PACKAGE --output-dir DIR\n"
         "       romsetter-cli --help | --version      (COMMAND --help for one command)\n"
         "DEVICE: " ROMSETTER_DEVICE_FORMS "\n";
}

std::string CliHelpHint(int argc, const char* const* argv) {
  static const char* const kCommands[] = {"upgrade", "extract", "header", "info", "pack", "unpack"};
  for (int i = 1; i < argc; ++i) {
    for (const char* command : kCommands) {
      if (std::strcmp(argv[i], command) == 0) return Format("see romsetter-cli %s --help", command);
    }
  }
  return std::string();
}

const char* CliVersion() { return "romsetter-cli " ROMSETTER_VERSION; }

namespace {

// Every value option refuses an empty value: an empty name would silently mean "none".
CLI::Option* Value(CLI::App* app, const char* name, std::string& target, const char* help) {
  return app->add_option(name, target, help)
      ->type_name("VALUE")
      ->check([](const std::string& v) { return v.empty() ? std::string("needs a value") : std::string(); });
}

struct Commands {
  CLI::App* upgrade;
  CLI::App* extract;
  CLI::App* header;
  CLI::App* info;
  CLI::App* pack;
  CLI::App* unpack;
};

void AddDeviceOptions(CLI::App* app, CliOptions& o) {
  app->add_option("--device", o.devices,
                  "the device: emulator:CONFIG[#N] (docs/emulator.md), auto (the default on Windows), a /dev/sgN or "
                  "/dev/sdX node (Linux), emulator-sgio:CONFIG[#N] (Linux: the emulated device behind SG_IO), a drive "
                  "E: or an ASPI target aspi:A:T (Windows), or replay:FILE (a recording); upgrade takes it more than once")
      ->type_name(ROMSETTER_DEVICE_FORMS)
      ->check([](const std::string& v) { return v.empty() ? std::string("needs a value") : std::string(); });
  app->add_flag("--aspi", o.aspi, "reach the device through ASPI (as on Windows 98/ME)");
  Value(app, "--record", o.record, "write every command and reply to FILE (docs/recording.md)")->type_name("FILE");
  app->add_flag("--record-data", o.recordData, "with --record: keep the pages sent, not only their digests");
  app->add_flag("--force", o.force, "Linux: go on although the device's disk is mounted");
  app->add_flag("--nor", o.nor, "the device has NOR flash (default NAND)");
}

void AddImageOptions(CLI::App* app, CliOptions& o) {
  Value(app, "--firmware", o.firmware, "the big-block (or NOR) firmware image")->type_name("FILE");
  Value(app, "--small-firmware", o.smallFirmware, "the small-block firmware image")->type_name("FILE");
  Value(app, "--boot", o.boot, "boot code (NOR only)")->type_name("FILE");
  Value(app, "--font-list", o.fontList, "the fonts of a .tab list")->type_name("FILE");
  Value(app, "--report", o.report, "the font header (default: the list's name with .h)")->type_name("FILE");
  app->add_flag("--format", o.format, "format the flash first (NAND only)");
  app->add_flag("--backup", o.backup, "write both backup copies of the firmware (NAND only)");
  Value(app, "--settings", o.settingsDir, "keep the settings file Romsetter.ini in DIR")->type_name("DIR");
}

void AddCommonOptions(CLI::App* app, CliOptions& o) {
  Value(app, "--log", o.log, "the log file (default Romsetter.log)")->type_name("FILE");
  app->add_flag("--json", o.json, "JSON Lines on standard output (docs/cli.md)");
}

Commands Build(CLI::App& app, CliOptions& o) {
  Commands c{};
  c.upgrade = app.add_subcommand("upgrade", "write the selected images to the device");
  AddDeviceOptions(c.upgrade, o);
  AddImageOptions(c.upgrade, o);
  c.upgrade->add_flag("--all", o.all, "every device discovery finds, each by a job of its own (docs/cli.md)");
  c.upgrade->add_flag("--yes", o.yes, "with --all: go on without asking");
  c.upgrade->add_flag("--dry-run", o.dryRun,
                      "everything up to the first write, with read-only commands, and the plan of the run");
  Value(c.upgrade, "--package", o.package, "run as this package would: its images and settings")->type_name("FILE");
  AddCommonOptions(c.upgrade, o);

  c.extract = app.add_subcommand("extract", "read the firmware region back into a file");
  AddDeviceOptions(c.extract, o);
  AddImageOptions(c.extract, o);
  Value(c.extract, "--output", o.output, "the file the firmware is read into")->type_name("FILE");
  AddCommonOptions(c.extract, o);

  c.header = app.add_subcommand("header", "build the font data file and header from a font list");
  Value(c.header, "--font-list", o.fontList, "the font list (.tab)")->type_name("FILE");
  Value(c.header, "--report", o.report, "the header to write")->type_name("FILE");
  AddCommonOptions(c.header, o);

  c.info = app.add_subcommand("info", "print the device's memory map, version and product");
  AddDeviceOptions(c.info, o);
  AddCommonOptions(c.info, o);

  c.pack = app.add_subcommand("pack", "build a package next to the big-block firmware image");
  Value(c.pack, "--program", o.program, "the program file the package starts from")->type_name("FILE");
  AddDeviceOptions(c.pack, o);
  AddImageOptions(c.pack, o);
  Value(c.pack, "--fw-version", o.fwVersion, "FW_Version carried in the package")->type_name("TEXT");
  AddCommonOptions(c.pack, o);

  c.unpack = app.add_subcommand("unpack", "write a package's images and settings into a folder");
  c.unpack->add_option("PACKAGE", o.package, "the package")->required();
  Value(c.unpack, "--output-dir", o.outputDir, "the folder for MV_Big.bin, MV_Font.dat, MV_Boot.nor, MV_Small.bin, MV.ini")
      ->type_name("DIR");
  AddCommonOptions(c.unpack, o);
  app.require_subcommand(1);
  return c;
}

// CLI11's texts end in a full stop or a list; one short line reads better before the usage.
std::string OneLine(std::string text) {
  for (char& ch : text) {
    if (ch == '\n' || ch == '\r') ch = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

struct CliParser::Tables {
  Tables() {
    app.set_version_flag("--version", CliVersion());
    app.footer("Exit status: 0 success, 1 refused input, 2 no device, 3 device failure, 4 a file here not written.");
    commands = Build(app, bound);
  }
  CLI::App app{"Romsetter's upgrade job from a terminal", "romsetter-cli"};
  CliOptions bound;  // CLI11 writes here; copied out after each parse
  Commands commands{};
};

CliParser::CliParser() : tables_(std::make_unique<Tables>()) {}

CliParser::~CliParser() = default;

CliParse CliParser::Parse(int argc, const char* const* argv, CliOptions& o, std::string& error, std::string& printed) {
  // CLI11 2.1 keeps the order of every option ever given (its clear() leaves that list), so
  // a parser that lives long would grow without end; new tables now and then bound it.
  if (++parses_ > kParsesPerTables) {
    tables_ = std::make_unique<Tables>();
    parses_ = 1;
  }
  CLI::App& app = tables_->app;
  const Commands& commands = tables_->commands;
  // CLI11 forgets the last command line's results but only writes what is given, so the
  // bound values start again from their defaults.
  tables_->bound = CliOptions{};
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    printed = app.help();  // the chosen command's help when one was given
    return CliParse::Printed;
  } catch (const CLI::CallForVersion&) {
    printed = std::string(CliVersion()) + "\n";
    return CliParse::Printed;
  } catch (const CLI::ParseError& e) {
    error = argc < 2 ? "no command given" : OneLine(e.what());
    return CliParse::Refused;
  }
  o = tables_->bound;
  for (const auto& [sub, command] : {std::pair<CLI::App*, CliCommand>{commands.upgrade, CliCommand::Upgrade},
                                     {commands.extract, CliCommand::Extract},
                                     {commands.header, CliCommand::Header},
                                     {commands.info, CliCommand::Info},
                                     {commands.pack, CliCommand::Pack},
                                     {commands.unpack, CliCommand::Unpack}}) {
    if (sub->parsed()) o.command = command;
  }
  o.fwVersionGiven = commands.pack->count("--fw-version") > 0;
  return CheckCliOptions(o, error) ? CliParse::Run : CliParse::Refused;
}

CliParse ParseCliOptions(int argc, const char* const* argv, CliOptions& o, std::string& error, std::string& printed) {
  return CliParser().Parse(argc, argv, o, error, printed);
}

}  // namespace romsetter
