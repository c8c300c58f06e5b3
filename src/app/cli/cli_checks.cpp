// The checks of a command line once it is read: the devices named, the options that cannot
// run together, and the files, compared by what they are rather than by their spelling.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/cli_options.h"
#include "base/file_identity.h"
#include "base/fixed_paths.h"
#include "base/format.h"
#include "base/text.h"
#include "package/font_list.h"

namespace romsetter {
namespace {

enum class PathKind { Missing, File, Folder, Other };

// stat rather than std::filesystem: on Windows the file system library imports wide-character
// and NT-only functions that keep Windows 98 from loading romsetter-cli.exe.
PathKind KindOf(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return PathKind::Missing;
  if ((info.st_mode & S_IFMT) == S_IFDIR) return PathKind::Folder;
  return (info.st_mode & S_IFMT) == S_IFREG ? PathKind::File : PathKind::Other;
}

bool IsFolder(const std::string& path) { return KindOf(path) == PathKind::Folder; }

// Files are checked here rather than by CLI11's validators so the refusal names the option
// and the path in one line, and a folder is told apart from a missing file.
bool CheckInputFile(const char* option, const std::string& path, std::string& error) {
  if (path.empty()) return true;
  const PathKind kind = KindOf(path);
  if (kind == PathKind::File) return true;
  error = kind == PathKind::Folder ? Format("%s %s: a folder, not a file", option, path.c_str())
                                   : Format("%s %s: no such file", option, path.c_str());
  return false;
}

// A decimal number of at most three digits, 0..`max`.
bool SmallNumber(const std::string& text, unsigned max, std::uint8_t& value) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned n = static_cast<unsigned>(std::stoi(text));
  if (n > max) return false;
  value = static_cast<std::uint8_t>(n);
  return true;
}

// "E:" (a drive letter, reached through pass-through) and "aspi:A:T" (an ASPI target, adapter
// 0-255 and target 0-7 as the scan asks them) name one real device on Windows: discovery
// runs as for "auto" but may take only that device.
bool CheckWindowsDevice(CliOptions& o, bool onLinux, std::string& error) {
  const std::string& d = o.device;
  const bool drive = d.size() == 2 && d[1] == ':' && std::isalpha(static_cast<unsigned char>(d[0])) != 0;
  const bool aspi = d.rfind("aspi:", 0) == 0;
  if (!drive && !aspi) return true;
  if (onLinux) {
    error = Format("--device %s: drive letters and aspi:A:T name Windows devices", d.c_str());
    return false;
  }
  if (drive) {
    if (o.aspi) {
      error = Format("--device %s is reached through pass-through: drop --aspi, or name an ASPI target (aspi:A:T)",
                     d.c_str());
      return false;
    }
    o.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
    o.device = Format("%c:", o.drive);
  } else {
    const std::size_t colon = d.find(':', 5);
    if (colon == std::string::npos || !SmallNumber(d.substr(5, colon - 5), 255, o.adapter) ||
        !SmallNumber(d.substr(colon + 1), 7, o.target)) {
      error = Format("--device %s: an ASPI target is aspi:ADAPTER:TARGET (adapter 0-255, target 0-7)", d.c_str());
      return false;
    }
    o.aspiTarget = true;
    o.aspi = true;
    o.device = Format("aspi:%u:%u", static_cast<unsigned>(o.adapter), static_cast<unsigned>(o.target));
  }
  o.realDevice = true;
  return true;
}

// "emulator:CONFIG" everywhere; "auto" (the default on Windows) is the device the window
// would use: pass-through on the NT family, ASPI on Windows 98/ME.  On Linux "auto" is the
// device sysfs discovery finds, a node names it, and "emulator-sgio:CONFIG" puts the emulated
// device behind the SG_IO transport.
bool CheckDevice(CliOptions& o, std::string& error) {
#ifdef _WIN32
  if (o.device.empty()) o.device = "auto";
  constexpr bool kLinux = false;
#else
  constexpr bool kLinux = true;
#endif
  if (o.recordData && o.record.empty()) {
    error = "--record-data needs --record FILE";
    return false;
  }
  if (o.device.rfind("replay:", 0) == 0 && o.device.size() > 7) {
    o.replay = o.device.substr(7);
    return CheckInputFile("--device", o.replay, error);
  }
  if (!CheckWindowsDevice(o, kLinux, error)) return false;
  if (o.drive != 0 || o.aspiTarget) return true;
  const bool node = !o.device.empty() && o.device[0] == '/';
  const bool sgIo = o.device.rfind("emulator-sgio:", 0) == 0;
  if ((node || sgIo) && !kLinux) {
    error = Format("--device %s: device nodes and emulator-sgio: are Linux only", o.device.c_str());
    return false;
  }
  if (o.device == "auto" || node) {
    if (kLinux && o.aspi) {
      error = "--aspi reaches ASPI only on Windows or with --device emulator:CONFIG";
      return false;
    }
    if (node && KindOf(o.device) == PathKind::Missing) {
      // An unplugged device is what takes its node away.
      o.refusalStatus = kExitNoDevice;
      error = Format("--device %s: no such device node", o.device.c_str());
      return false;
    }
    o.realDevice = true;
    if (node) o.node = o.device;
    return true;
  }
  if (o.device.empty()) {
    error = "--device is required";
    return false;
  }
  const std::size_t colon = o.device.find(':');
  const std::string kind = colon == std::string::npos ? "" : o.device.substr(0, colon);
  if ((kind != "emulator" && kind != "emulator-sgio") || colon + 1 == o.device.size()) {
    error = Format("--device %s: only emulator:CONFIG, emulator-sgio:CONFIG, replay:FILE, a node and auto are "
                   "known",
                   o.device.c_str());
    return false;
  }
  if (sgIo && o.aspi) {
    error = "--aspi and emulator-sgio: name two transports; drop one";
    return false;
  }
  o.sgIo = sgIo;
  o.emulatorConfig = o.device.substr(colon + 1);
  // "CONFIG#N": the N-th device of the scenario alone.
  const std::size_t hash = o.emulatorConfig.find_last_of('#');
  if (hash != std::string::npos && hash + 1 < o.emulatorConfig.size() &&
      o.emulatorConfig.find_first_not_of("0123456789", hash + 1) == std::string::npos) {
    const std::string number = o.emulatorConfig.substr(hash + 1);
    o.emulatorIndex = number.size() > 3 ? 1000 : std::stoi(number);
    if (o.emulatorIndex < 1 || o.emulatorIndex > 255) {
      error = Format("--device %s: #N counts the scenario's devices from 1", o.device.c_str());
      return false;
    }
    o.emulatorConfig.resize(hash);
  }
  return CheckInputFile("--device", o.emulatorConfig, error);
}

// Two --device values for one device: the same node or scenario file in any spelling (a
// scenario without #N is its first device). On Linux a node's disk and its generic node are
// told apart only through sysfs, which the run does before the jobs.
bool SameTarget(const DeviceTarget& a, const DeviceTarget& b) {
  if (a.text == b.text) return true;
  if (!a.emulatorConfig.empty() || !b.emulatorConfig.empty()) {
    return a.sgIo == b.sgIo && std::max(a.emulatorIndex, 1) == std::max(b.emulatorIndex, 1) &&
           SameFile(a.emulatorConfig, b.emulatorConfig);
  }
  if (!a.node.empty() && !b.node.empty()) return SameFile(a.node, b.node);
  return a.drive != 0 ? a.drive == b.drive : a.aspiTarget && b.aspiTarget && a.adapter == b.adapter && a.target == b.target;
}

// Each --device of an upgrade over several devices, checked as one alone; with --all the
// one source (auto or a whole scenario) the devices are found on.
bool CheckTargets(CliOptions& o, std::string& error) {
  if (o.devices.size() > 1 && o.command != CliCommand::Upgrade) {
    error = "only upgrade takes more than one --device";
    return false;
  }
  if (o.all && o.devices.size() > 1) {
    error = "--all finds the devices itself: give at most one --device (auto or emulator:CONFIG) with it";
    return false;
  }
  if (o.yes && !o.all) {
    error = "--yes answers the question --all asks; give --all or drop --yes";
    return false;
  }
  std::vector<std::string> given = o.devices;
  if (given.empty()) given.emplace_back(o.all ? "auto" : "");
  for (const std::string& text : given) {
    CliOptions one = o;
    one.device = text;
    if (!CheckDevice(one, error)) {
      o.refusalStatus = one.refusalStatus;
      return false;
    }
    DeviceTarget t{one.device, one.emulatorConfig, one.emulatorIndex, one.sgIo, one.realDevice, one.node,
                   one.drive,  one.aspiTarget,     one.adapter,       one.target, one.aspi};
    for (const DeviceTarget& before : o.targets) {
      if (SameTarget(before, t)) {
        error = Format("--device %s is named twice (as %s)", t.text.c_str(), before.text.c_str());
        return false;
      }
    }
    o.targets.push_back(t);
  }
  o.device = o.targets.front().text;
  if (!o.Several()) return CheckDevice(o, error);
  // A recording holds one device's commands in order; several devices would interleave them.
  if (!o.record.empty()) {
    error = "--record writes one device's commands: give one --device";
    return false;
  }
  for (const DeviceTarget& t : o.targets) {
    if (t.text.rfind("replay:", 0) == 0) {
      error = Format("--device %s: a recording replays alone: give one --device", t.text.c_str());
      return false;
    }
  }
  const DeviceTarget& first = o.targets.front();
  if (o.all && (!first.node.empty() || first.emulatorIndex != 0 || first.drive != 0 || first.aspiTarget)) {
    error = Format("--all with --device %s: give auto or a whole scenario (emulator:CONFIG)", o.device.c_str());
    return false;
  }
  // Without --all each real device is named, so no two jobs can end up on one device.
  for (const DeviceTarget& t : o.targets) {
    if (!o.all && t.realDevice && t.drive == 0 && !t.aspiTarget && t.node.empty()) {
#ifdef _WIN32
      error = Format("--device %s with other devices: name each real device (a drive E: or an ASPI target aspi:A:T)",
                     t.text.c_str());
#else
      error = Format("--device %s with other devices: name each real device by its node (/dev/sgN)", t.text.c_str());
#endif
      return false;
    }
  }
  return CheckDevice(o, error);
}

bool CheckPackaging(CliOptions& o, std::string& error) {
  if (o.command == CliCommand::Unpack) {
    // A missing folder is made by the run.
    if (o.outputDir.empty() || (KindOf(o.outputDir) != PathKind::Missing && !IsFolder(o.outputDir))) {
      error = o.outputDir.empty() ? "unpack needs --output-dir" : Format("--output-dir %s: not a folder", o.outputDir.c_str());
      return false;
    }
    return CheckInputFile("PACKAGE", o.package, error);
  }
  if (o.command == CliCommand::Pack) {
    if (o.program.empty() || o.firmware.empty()) {
      error = "pack needs --program and --firmware";
      return false;
    }
    if (!CheckInputFile("--program", o.program, error)) return false;
  }
  if (o.command == CliCommand::Upgrade && !o.package.empty()) {
    if (!o.firmware.empty() || !o.smallFirmware.empty() || !o.boot.empty() || !o.fontList.empty() || o.format ||
        o.backup || o.nor) {
      error = "--package carries its own images and choices; drop the image, --nor, --format and --backup options";
      return false;
    }
    return CheckInputFile("--package", o.package, error);
  }
  return true;
}

bool CheckFiles(const CliOptions& o, std::string& error);

}  // namespace

bool CheckCliOptions(CliOptions& o, std::string& error) {
  if (o.command == CliCommand::Unpack || (o.command == CliCommand::Upgrade && !o.package.empty())) {
    if (!CheckPackaging(o, error)) return false;
    if (o.command == CliCommand::Unpack) return true;
  }
  if (o.command == CliCommand::Pack) {
    if (!CheckPackaging(o, error)) return false;
    // Without --device the identification comes from the settings file.
    if (o.devices.size() > 1) {
      error = "only upgrade takes more than one --device";
      return false;
    }
    if (!o.devices.empty()) o.device = o.devices.front();
    if (!o.device.empty() && !CheckDevice(o, error)) return false;
  } else if (o.command != CliCommand::Header) {
    if (!CheckTargets(o, error)) return false;
  }

  if (o.command == CliCommand::Header && (o.fontList.empty() || o.report.empty())) {
    error = "header needs --font-list and --report";
    return false;
  }
  if (o.command == CliCommand::Extract && o.output.empty()) {
    error = "extract needs --output";
    return false;
  }
  if (!CheckInputFile("--firmware", o.firmware, error) || !CheckInputFile("--small-firmware", o.smallFirmware, error) ||
      !CheckInputFile("--boot", o.boot, error) || !CheckInputFile("--font-list", o.fontList, error)) {
    return false;
  }
  if (!o.settingsDir.empty() && !IsFolder(o.settingsDir)) {
    error = Format("--settings %s: not a folder", o.settingsDir.c_str());
    return false;
  }
  for (const auto& [option, path] : {std::pair<const char*, const std::string&>{"--output", o.output},
                                     {"--report", o.report}, {"--log", o.log}}) {
    if (!path.empty() && IsFolder(path)) {
      error = Format("%s %s: a folder, not a file", option, path.c_str());
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
  if (o.command == CliCommand::Upgrade && o.package.empty() && o.firmware.empty() && o.smallFirmware.empty() &&
      o.boot.empty() && o.fontList.empty() && !o.format) {
    error = "nothing to do: give an image, a font list or --format";
    return false;
  }
  if (!o.fontList.empty() && o.report.empty()) o.report = DefaultReportPath(o.fontList);
  if (!o.report.empty() && o.report == o.fontList) {
    error = "--report must not name the font list itself";
    return false;
  }
  return CheckFiles(o, error);
}

namespace {

// What the run reads and writes on this computer, checked apart before anything is written.
bool CheckFiles(const CliOptions& o, std::string& error) {
  std::vector<NamedFile> inputs, outputs;
  FilesOfRun(o, inputs, outputs);
  return FilesApart(inputs, outputs, error);
}

}  // namespace

void FilesOfRun(const CliOptions& o, std::vector<NamedFile>& inputs, std::vector<NamedFile>& outputs) {
  inputs = {{"--firmware", o.firmware}, {"--small-firmware", o.smallFirmware},
                                {"--boot", o.boot},         {"--font-list", o.fontList},
                                {"--package", o.package},   {"--program", o.program},
                                {"--device", o.replay}};
  for (const DeviceTarget& t : o.targets) inputs.push_back({"--device", t.emulatorConfig});
  if (o.targets.empty()) inputs.push_back({"--device", o.emulatorConfig});
  if (!o.settingsDir.empty()) inputs.push_back({"--settings", o.settingsDir + "/Romsetter.ini"});
  outputs = {{"--log", o.log}, {"--record", o.record}, {"--output", o.output}};
  if (o.command == CliCommand::Header || (o.command == CliCommand::Upgrade && !o.fontList.empty())) {
    outputs.push_back({"--report", o.report});
    outputs.push_back({"the font data file of --report", FontDataFileName(o.report)});
  }
  if (!o.boot.empty()) {
    const FixedPaths dumps = FixedPaths::UnderFolder(".");
    outputs.push_back({"the boot dump", dumps.bootWriteDump});
    outputs.push_back({"the boot dump", dumps.bootReadDump});
  }
}

bool FilesApart(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs, std::string& error) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedFile& out = outputs[i];
    if (out.path.empty()) continue;
    const FileKind kind = KindOfPath(out.path);
    if (kind == FileKind::Special || kind == FileKind::Folder) {
      error = Format("%s %s: %s, not a regular file; name a file", out.option.c_str(), out.path.c_str(),
                     kind == FileKind::Folder ? "a folder" : "a device, pipe or socket");
      return false;
    }
    auto clash = [&](const NamedFile& other, const char* what) {
      if (other.path.empty() || !SameFile(out.path, other.path)) return false;
      error = Format("%s %s: the same file as %s %s%s; name another file", out.option.c_str(), out.path.c_str(),
                     other.option.c_str(), other.path.c_str(), what);
      return true;
    };
    for (const NamedFile& in : inputs) {
      if (clash(in, ", which is read")) return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (clash(outputs[j], ", which is written too")) return false;
    }
  }
  return true;
}

std::string DefaultReportPath(const std::string& fontList) {
  const std::size_t slash = fontList.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string folder = fontList.substr(0, nameStart);
  const std::string name = fontList.substr(nameStart);
  if (name.find(".tab") != std::string::npos) return folder + ReplaceAll(name, ".tab", ".h");
  if (name.find(".TAB") != std::string::npos) return folder + ReplaceAll(name, ".TAB", ".H");
  return fontList + ".h";
}

}  // namespace romsetter
