// The emulator's scenario files (format: docs/emulator.md).  They are hand-written and
// shared between tools, so every line is checked and the first bad one is reported by
// file and line; nothing is applied from a file that fails.
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <memory>
#include <sstream>

#include "base/file_identity.h"
#include "base/format.h"
#include "emulator/emulated_device.h"
#include "emulator/scenario_line.h"

namespace romsetter {

namespace {

constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::uint32_t kMaxLatencyUs = 1000000;  // a busy-wait; longer would just hang the caller
constexpr std::size_t kInquiryChars = 28;
constexpr std::size_t kVersionChars = 8;
constexpr std::size_t kProductChars = 20;
constexpr std::size_t kSerialChars = 32;
constexpr std::uint32_t kMax8 = 0xFF;
constexpr std::uint32_t kMax16 = 0xFFFF;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;

const char* const kCommandNames[] = {
    "*",
    "SCSI_TST_U_RDY",
    "INQUIRY",
    "UPT_FW_GET_SIZE",
    "UPT_FW_ERASE_MEM",
    "UPT_WRITE_PAGE",
    "UPT_MARK_ERROR_PAGE",
    "UPT_READ_PAGE",
    "UPT_FW_RESTART_SYS",
    "UPT_BOOT_GET_SIZE",
    "UPT_BOOT_ERASE_MEM",
    "FONT_GET_BLK_INFO",
    "FONT_ERASE_FONT_BLKS",
    "FONT_WRITE_PAGE",
    "FONT_READ_PAGE",
    "FONT_END_OF_UPDATE",
    "DEV_FORMAT_16",
    "DEV_GET_VERSION",
    "DEV_GET_PRODUCT",
    "BACKUP_FW_GET_SIZE_32",
    "BACKUP_FW_ERASE_MEM",
};

struct FaultKindName {
  const char* name;
  FaultKind kind;
};
const FaultKindName kFaultKinds[] = {
    {"not_delivered", FaultKind::NotDelivered}, {"bad_status", FaultKind::BadStatus},
    {"no_completion", FaultKind::NoCompletion}, {"corrupt_once", FaultKind::CorruptOnce},
    {"bad_page", FaultKind::BadPage},           {"write_ignored", FaultKind::WriteIgnored},
    {"detach", FaultKind::Detach},
};

bool IsCommandName(const std::string& s) {
  for (const char* name : kCommandNames) {
    if (s == name) return true;
  }
  return false;
}
bool IsPageCommand(const std::string& s) {
  return s == "*" || s == "UPT_WRITE_PAGE" || s == "UPT_MARK_ERROR_PAGE" || s == "UPT_READ_PAGE" ||
         s == "FONT_WRITE_PAGE" || s == "FONT_READ_PAGE";
}
bool IsReadCommand(const std::string& s) { return s == "*" || s == "UPT_READ_PAGE" || s == "FONT_READ_PAGE"; }
bool IsWriteCommand(const std::string& s) {
  return s == "*" || s == "UPT_WRITE_PAGE" || s == "UPT_MARK_ERROR_PAGE" || s == "FONT_WRITE_PAGE";
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A relative path is taken from the scenario file's folder, so the two can move together.
// Both separators count, as scenarios are shared between Windows and Linux.
std::string ResolveBeside(const std::string& scenario, const std::string& path) {
  const bool absolute = IsSeparator(path[0]) || (path.size() >= 2 && path[1] == ':');
  const std::size_t folderEnd = scenario.find_last_of("/\\");
  if (absolute || folderEnd == std::string::npos) return path;
  return scenario.substr(0, folderEnd + 1) + path;
}

class Parser : private ScenarioValues {
 public:
  Parser(const std::string& fileName, EmulatorConfig& out) : fileName_(fileName), out_(out) {}

  bool Line(const std::string& raw, int lineNumber, std::string& error) {
    std::string what;
    if (!SplitScenarioLine(raw, tokens_, what) || (!tokens_.empty() && !Dispatch(what))) {
      error = Format("%s:%d: %s", fileName_.c_str(), lineNumber, what.c_str());
      return false;
    }
    return true;
  }

 private:
  bool Dispatch(std::string& what) {
    const ScenarioToken& first = tokens_[0];
    if (!first.quoted && !first.text.empty() && first.text[0] == '[') return Section(what);
    if (first.quoted) {
      what = "a line must start with a key, not a quoted text";
      return false;
    }
    key_ = first.text;
    if (key_ == "adapters" || key_ == "support_status" || key_ == "drive" || key_ == "signal_completed") {
      return Global(what);
    }
    return DeviceKey(what);
  }

  bool Section(std::string& what) {
    std::string joined;
    for (const ScenarioToken& t : tokens_) {
      if (t.quoted) {
        what = "quoted text in a section header";
        return false;
      }
      joined += t.text + " ";
    }
    joined.pop_back();
    if (joined.size() < 2 || joined.back() != ']') {
      what = "section header without a closing ']'";
      return false;
    }
    std::istringstream words(joined.substr(1, joined.size() - 2));
    std::vector<std::string> parts{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    if (parts.empty() || parts[0] != "device") {
      what = Format("unknown section '%s' (only [device] or [device ADAPTER TARGET])", joined.c_str());
      return false;
    }
    if (parts.size() != 1 && parts.size() != 3) {
      what = "[device] takes either no values or an adapter and a target";
      return false;
    }
    std::uint32_t adapter = 0, target = 0;
    key_ = "[device]";
    if (parts.size() == 3 && (!Number(parts[1], kMax8, adapter, what) || !Number(parts[2], kMax8, target, what))) {
      return false;
    }
    sawSection_ = true;
    return AddDevice(static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target), what);
  }

  bool AddDevice(std::uint8_t adapter, std::uint8_t target, std::string& what) {
    for (const EmulatedDeviceConfig& d : out_.devices) {
      if (d.adapterId == adapter && d.targetId == target) {
        what = Format("a device at adapter %u target %u is already defined", adapter, target);
        return false;
      }
    }
    EmulatedDeviceConfig d;
    d.adapterId = adapter;
    d.targetId = target;
    out_.devices.push_back(d);
    return true;
  }

  bool Global(std::string& what) {
    if (sawSection_) {
      what = Format("'%s' is a global key and must come before the first section", key_.c_str());
      return false;
    }
    if (!Count(1, what)) return false;
    std::uint32_t v = 0;
    if (key_ == "drive") {
      const std::string& s = tokens_[1].text;
      const char c = s.size() == 1 ? s[0] : '\0';
      if (tokens_[1].quoted || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
        what = Format("drive expects one letter A to Z, not '%s'", s.c_str());
        return false;
      }
      out_.driveLetter = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
      return true;
    }
    if (key_ == "signal_completed") {
      if (!Arg(1, 1, v, what)) return false;
      out_.signalCompleted = v != 0;
      return true;
    }
    if (!Arg(1, kMax8, v, what)) return false;
    (key_ == "adapters" ? out_.adapterCount : out_.supportStatus) = static_cast<std::uint8_t>(v);
    return true;
  }

  bool DeviceKey(std::string& what) {
    static const char* const kDeviceKeys[] = {
        "inquiry", "vendor_commands", "version",     "product",    "firmware",          "boot",
        "font",    "flash_type",      "gap",         "backup",     "reply_limit",       "latency_us",
        "detach_on_restart",          "trace_data",  "fault",      "attached",          "flash_file",
        "usb_id",  "serial",
    };
    bool known = false;
    for (const char* k : kDeviceKeys) known = known || key_ == k;
    if (!known) {
      what = Format("unknown key '%s'", key_.c_str());
      return false;
    }
    // Device keys before any section describe the one implicit [device].
    if (out_.devices.empty() && !AddDevice(0, 0, what)) return false;
    EmulatedDeviceConfig& d = out_.devices.back();

    if (key_ == "inquiry") return Text(kInquiryChars, d.inquiry, what);
    if (key_ == "version") return Text(kVersionChars, d.version, what);
    if (key_ == "product") return Text(kProductChars, d.product, what);
    if (key_ == "serial") return Text(kSerialChars, d.usbSerial, what) && Printable(d.usbSerial, what);
    if (key_ == "vendor_commands") return YesNo(d.answersVendorCommands, what);
    if (key_ == "detach_on_restart") return YesNo(d.detachOnRestart, what);
    if (key_ == "attached") return YesNo(d.attached, what);
    if (key_ == "trace_data") return YesNo(d.traceData, what);
    if (key_ == "firmware" || key_ == "boot" || key_ == "font") {
      RegionReply& r = key_ == "firmware" ? d.firmware : key_ == "boot" ? d.boot : d.font;
      std::uint32_t size = 0, a1 = 0, a2 = 0;
      if (!Count(3, what) || !Arg(1, kMax16, size, what) || !Arg(2, kMax32, a1, what) || !Arg(3, kMax32, a2, what)) {
        return false;
      }
      r = RegionReply{static_cast<std::uint16_t>(size), a1, a2};
      if (key_ == "firmware") d.gapLength = 0;  // its second address replaces any gap
      return true;
    }
    std::uint32_t v = 0, w = 0;
    if (key_ == "flash_type") {
      if (!Count(1, what) || !Arg(1, kMax8, v, what)) return false;
      d.firmware.addr2 = (d.firmware.addr2 & 0x00FFFFFFu) | (v << 24);
      return true;
    }
    if (key_ == "gap") {
      if (!Count(2, what) || !Arg(1, kMax16, v, what) || !Arg(2, kMax16, w, what)) return false;
      d.firmware.addr2 = (v << 16) | w;
      d.gapLength = static_cast<std::uint16_t>(v);
      return true;
    }
    if (key_ == "usb_id") {
      if (!Count(2, what) || !Arg(1, kMax16, v, what) || !Arg(2, kMax16, w, what)) return false;
      d.usbVendor = static_cast<std::uint16_t>(v);
      d.usbProduct = static_cast<std::uint16_t>(w);
      return true;
    }
    if (key_ == "backup") {
      if (!Count(2, what) || !Arg(1, kMax32, v, what) || !Arg(2, kMax32, w, what)) return false;
      d.backupAddr1 = v;
      d.backupAddr2 = w;
      return true;
    }
    if (key_ == "flash_file") return FlashFile(d, what);
    if (key_ == "reply_limit") return Count(1, what) && Arg(1, kMax32, d.replyLimit, what);
    if (key_ == "latency_us") return Count(1, what) && Arg(1, kMaxLatencyUs, d.latencyUs, what);
    return Fault(d, what);
  }

  bool Fault(EmulatedDeviceConfig& d, std::string& what) {
    if (tokens_.size() < 3) {
      what = "fault expects a kind and a command: fault KIND COMMAND [page=N] [occurrence=N] [byte=N] [host_status=N]";
      return false;
    }
    EmulatorFault f;
    bool kindKnown = false;
    for (const FaultKindName& k : kFaultKinds) {
      if (!tokens_[1].quoted && tokens_[1].text == k.name) {
        f.kind = k.kind;
        kindKnown = true;
      }
    }
    if (!kindKnown) {
      what = Format("unknown fault kind '%s'", tokens_[1].text.c_str());
      return false;
    }
    f.command = tokens_[2].text;
    if (tokens_[2].quoted || !IsCommandName(f.command)) {
      what = Format("unknown command '%s' in fault", f.command.c_str());
      return false;
    }
    bool havePage = false, haveOccurrence = false, haveByte = false, haveHost = false;
    for (std::size_t i = 3; i < tokens_.size(); ++i) {
      const std::string& t = tokens_[i].text;
      const std::size_t eq = t.find('=');
      const std::string name = eq == std::string::npos ? t : t.substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : t.substr(eq + 1);
      bool* seen = name == "page"          ? &havePage
                   : name == "occurrence"  ? &haveOccurrence
                   : name == "byte"        ? &haveByte
                   : name == "host_status" ? &haveHost
                                           : nullptr;
      if (tokens_[i].quoted || eq == std::string::npos || seen == nullptr) {
        what = Format("unexpected '%s' in fault (page=N, occurrence=N, byte=N or host_status=N)", t.c_str());
        return false;
      }
      if (*seen) {
        what = Format("%s= given twice", name.c_str());
        return false;
      }
      *seen = true;
      key_ = "fault " + name;
      if (name == "page") {
        if (!Number(value, kMax32, f.page, what)) return false;
        f.anyPage = false;
      } else if (name == "occurrence") {
        if (!Number(value, kMax32, f.occurrence, what)) return false;
      } else if (name == "host_status") {
        std::uint32_t status = 0;
        if (!Number(value, 0xFF, status, what)) return false;
        f.hostStatus = static_cast<std::uint8_t>(status);
      } else if (!Number(value, kPageBytesMax, f.byteIndex, what)) {
        return false;
      }
    }
    // A fault that could never fire is a mistake in the scenario, not a quiet no-op.
    const bool dataFault = f.kind == FaultKind::CorruptOnce || f.kind == FaultKind::BadPage;
    if (havePage && !IsPageCommand(f.command)) {
      what = Format("page= needs a page command, not %s", f.command.c_str());
      return false;
    }
    if (dataFault && !IsReadCommand(f.command)) {
      what = Format("%s acts on page reads, not %s", tokens_[1].text.c_str(), f.command.c_str());
      return false;
    }
    if (f.kind == FaultKind::WriteIgnored && !IsWriteCommand(f.command)) {
      what = Format("write_ignored acts on page writes, not %s", f.command.c_str());
      return false;
    }
    if (haveByte && !dataFault) {
      what = "byte= applies only to corrupt_once and bad_page";
      return false;
    }
    if (haveHost && f.kind != FaultKind::BadStatus) {
      what = "host_status= applies only to bad_status";
      return false;
    }
    d.faults.push_back(f);
    return true;
  }

  bool FlashFile(EmulatedDeviceConfig& d, std::string& what) {
    if (!Count(1, what)) return false;
    if (tokens_[1].text.empty()) {
      what = "flash_file expects a path";
      return false;
    }
    const std::string path = ResolveBeside(fileName_, tokens_[1].text);
    // Two devices saving to one file would overwrite each other's flash.
    for (const EmulatedDeviceConfig& other : out_.devices) {
      if (&other != &d && SameFile(other.flashFile, path)) {
        what = Format("flash file '%s' is already used by the device at adapter %u target %u", path.c_str(),
                      other.adapterId, other.targetId);
        return false;
      }
    }
    d.flashFile = path;
    return true;
  }

  static constexpr std::uint32_t kPageBytesMax = 511;

  const std::string& fileName_;
  EmulatorConfig& out_;
  bool sawSection_ = false;
};

}  // namespace

bool ParseEmulatorConfig(const std::string& text, const std::string& fileName, EmulatorConfig& config,
                         std::string& error) {
  EmulatorConfig parsed;
  parsed.devices.clear();
  Parser parser(fileName, parsed);
  int lineNumber = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    ++lineNumber;
    if (!parser.Line(line, lineNumber, error)) return false;
  }
  if (parsed.devices.empty()) parsed.devices.emplace_back();
  config = std::move(parsed);
  return true;
}

bool LoadEmulatorConfig(const std::string& path, EmulatorConfig& config, std::string& error) {
  // C stdio rather than a file stream: the stream's runtime imports wide-character file
  // functions that Windows 98 lacks, and romsetter-cli.exe carries this code.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!in) {
    error = Format("%s: cannot open the emulator configuration", path.c_str());
    return false;
  }
  std::string text;
  char chunk[4096];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, in.get());
    text.append(chunk, n);
    if (text.size() > kMaxFileBytes) {
      error = Format("%s: the emulator configuration is larger than %zu bytes", path.c_str(), kMaxFileBytes);
      return false;
    }
    if (n < sizeof chunk) break;
  }
  if (std::ferror(in.get()) != 0) {
    error = Format("%s: cannot read the emulator configuration", path.c_str());
    return false;
  }
  return ParseEmulatorConfig(text, path, config, error);
}

}  // namespace romsetter
