#include "fuzz/fuzz_entries.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/ini_profile_store.h"
#include "app/null_window.h"
#include "app/settings_file.h"
#include "base/bytes.h"
#include "device/recording.h"
#include "emulator/emulated_device.h"
#include "package/font_list.h"
#include "package/image_checks.h"
#include "package/package_format.h"
#include "package/sample_images.h"
#include "package/unpack.h"

namespace romsetter::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A property the parser promises is broken: abort so the fuzzer keeps the input.
[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
  std::abort();
}

void Save(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Broken("the scratch folder cannot be written");
  if (size != 0 && std::fwrite(data, 1, size, f) != size) Broken("the scratch folder is full");
  std::fclose(f);
}

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

class NullLog : public LogSink {
 public:
  void Log(const std::string&) override {}
  void LogSystemError(std::uint32_t) override {}
  void AddStatusLine(const std::string&) override {}
};

class NullHost : public ImageCheckHost {
 public:
  void ImageRefused(std::optional<ImagePicker>) override {}
  void BootFileAccepted(const std::string&) override {}
};

// The running program file is the input; whatever the unpacker writes stays in memory.
class MemoryPackageFiles : public PackageFiles {
 public:
  explicit MemoryPackageFiles(Bytes program) { files_["romsetter.exe"] = std::move(program); }
  std::optional<std::string> ProgramPath(std::uint32_t&) override { return std::string("romsetter.exe"); }
  bool Copy(const std::string& from, const std::string& to, std::uint32_t& error) override {
    const auto it = files_.find(from);
    if (it == files_.end()) return (error = 2), false;
    files_[to] = it->second;
    return true;
  }
  void ClearReadOnly(const std::string&) override {}
  bool Read(const std::string& path, std::size_t limit, Bytes& data, std::uint32_t& error) override {
    const auto it = files_.find(path);
    if (it == files_.end()) return (error = 2), false;
    if (it->second.size() > limit) return (error = 27), false;
    data = it->second;
    return true;
  }
  bool Write(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t&) override {
    files_[path].assign(data, data + length);
    return true;
  }
  bool CanAppend(const std::string& path, std::uint32_t&) override { return files_.count(path) != 0; }
  bool Append(const std::string& path, const std::uint8_t* data, std::size_t length, std::uint32_t&) override {
    files_[path].insert(files_[path].end(), data, data + length);
    return true;
  }
  void Remove(const std::string& path) override { files_.erase(path); }

 private:
  std::map<std::string, Bytes> files_;
};

// What the Upgrade command does with a package's images: the checks over the in-memory
// images, in either flash layout.
void CheckPackageImages(const ProcessState& process, ImageStore& images, bool nor) {
  NullLog log;
  NullWindow window;
  NullHost host;
  Selections selections;
  ApplyPackageSelections(process, selections);
  selections.norSelected = nor;
  ImagePageCounts pages;
  ImageChecks checks(log, window, host, process, images, pages);
  for (int kind : {ImageChecks::kBigBlock, ImageChecks::kSmallBlock}) {
    if (checks.CheckFirmwareFile(selections, kind)) {
      const std::uint32_t counted = pages.FirmwarePages(kind == ImageChecks::kSmallBlock);
      const ImageSlot slot = kind == ImageChecks::kSmallBlock ? ImageSlot::SmallFirmware : ImageSlot::BigFirmware;
      if (counted == 0 || std::uint64_t{counted} * kPageSize > images.Slot(slot).size()) {
        Broken("a package firmware image passed with more pages than it holds");
      }
    }
  }
  checks.CheckBootFile(selections);
  if (std::uint64_t{pages.bootImagePages} * kPageSize > images.Slot(ImageSlot::BootCode).size()) {
    Broken("a package boot image counted more pages than it holds");
  }
}

PackageKind UnpackOnce(const Bytes& file) {
  MemoryPackageFiles files(file);
  NullWindow window;
  ProcessState process;
  ImageStore images;
  const FixedPaths paths = FixedPaths::UnderFolder("package");
  const UnpackResult result = UnpackSelf({files, window, paths, process, images}, true);
  if (result != UnpackResult::Package) {
    if (process.InPackageMode()) Broken("a refused package left package mode on");
    return result == UnpackResult::Plain ? PackageKind::Plain : PackageKind::Damaged;
  }
  const PackagePreset& p = process.package;
  if (images.Slot(ImageSlot::BigFirmware).size() != p.bigLength ||
      images.Slot(ImageSlot::FontData).size() != p.fontLength ||
      images.Slot(ImageSlot::BootCode).size() != p.bootLength ||
      images.Slot(ImageSlot::SmallFirmware).size() != p.smallLength) {
    Broken("an unpacked image differs from its trailer length");
  }
  CheckPackageImages(process, images, p.nor);
  CheckPackageImages(process, images, !p.nor);
  return PackageKind::Package;
}

// Mutations seldom make the trailer's lengths add up or the CRCs match, so the same input is
// also tried with P and the CRC lines repaired: that reaches the payload and the settings.
bool Repair(Bytes& file) {
  if (file.size() < kPackageTailSize) return false;
  std::uint8_t* trailer = file.data() + file.size() - kTrailerSize;
  PackageTrailer t;
  if (!DecodeTrailer(trailer, t)) return false;
  const std::uint64_t parts = std::uint64_t{t.bigLength} + t.fontLength + t.bootLength + t.smallLength;
  if (parts + kPackageTailSize > file.size()) return false;
  const std::uint64_t program = file.size() - kPackageTailSize - parts;
  if (program > 0xFFFFFFFFu) return false;
  WriteLe32(trailer + 8, static_cast<std::uint32_t>(program));
  char* ini = reinterpret_cast<char*>(file.data() + file.size() - kPackageTailSize);
  const std::string text(ini, kPackageIniSize);
  const std::string key = "Payload_CRC32=";
  const std::size_t at = text.find(key);
  if (at != std::string::npos && at + key.size() + 8 <= text.size()) {
    const std::uint32_t crc = PayloadCrc32(file.data() + program, static_cast<std::size_t>(parts));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
    for (int i = 0; i < 8; ++i) ini[at + key.size() + i] = hex[i];
  }
  const std::size_t digits = PackageCrcDigits(std::string(ini, strnlen(ini, kPackageIniSize)));
  if (digits != std::string::npos && digits + 8 <= kPackageIniSize) {
    const std::size_t at = file.size() - kPackageTailSize + digits;
    const std::uint32_t crc = PackageCrc32(nullptr, 0, file.data(), file.size(), at);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
    for (int i = 0; i < 8; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hex[i]);
  }
  return true;
}

}  // namespace

void FuzzPackage(const std::uint8_t* data, std::size_t size, const std::string&) {
  Bytes file(data, data + size);
  UnpackOnce(file);
  if (Repair(file)) UnpackOnce(file);
}

// First byte: bit 0 NOR layout, bit 1 the small-block kind, bit 2 the boot check, bit 3 the
// image comes from a file (else from a package, in memory).  The rest is the image.
void FuzzImageChecks(const std::uint8_t* data, std::size_t size, const std::string& scratch) {
  if (size == 0) return;
  const std::uint8_t flags = data[0];
  Bytes image(data + 1, data + size);
  NullLog log;
  NullWindow window;
  NullHost host;
  ProcessState process;
  Selections selections;
  ImageStore images;
  ImagePageCounts pages;
  selections.norSelected = flags & 1;
  const int kind = (flags & 2) ? ImageChecks::kSmallBlock : ImageChecks::kBigBlock;
  const bool boot = flags & 4;
  const ImageSlot slot = boot ? ImageSlot::BootCode
                              : kind == ImageChecks::kSmallBlock ? ImageSlot::SmallFirmware : ImageSlot::BigFirmware;
  if (flags & 8) {
    const std::string path = scratch + "/image.bin";
    Save(path, image.data(), image.size());
    process.packageMode = PackageMode::Plain;
    selections.bootPath = selections.bigFirmwarePath = selections.smallFirmwarePath = path;
  } else {
    process.packageMode = PackageMode::Package;
    const auto length = static_cast<std::uint32_t>(image.size());
    process.package.bigLength = process.package.smallLength = process.package.bootLength = length;
    images.Replace(slot, image);
  }
  ImageChecks checks(log, window, host, process, images, pages);
  const bool ok = boot ? checks.CheckBootFile(selections) : checks.CheckFirmwareFile(selections, kind);
  const std::uint32_t counted = boot ? pages.bootImagePages : pages.FirmwarePages(kind == ImageChecks::kSmallBlock);
  // A refused image may leave its count (a 513-byte file counts one page): the job stops on
  // the refusal, and the page engine refuses a slot shorter than its count.
  if (ok && std::uint64_t{counted} * kPageSize > images.Slot(slot).size()) {
    Broken("an image passed with more pages than it holds");
  }
  if (ok && (flags & 8) && images.Slot(slot) != image) Broken("a file that passed was not loaded whole");
  if (ok && !boot && counted == 0) Broken("a firmware image without pages passed");
}

// The input is the font list; the fonts it can name are made in the working folder.
void FuzzFontList(const std::uint8_t* data, std::size_t size, const std::string& scratch) {
  const struct { const char* name; std::size_t length; } fonts[] = {
      {"ASCII.FNT", 4000}, {"SYMBOL.FNT", 600}, {"EMPTY.FNT", 0}, {"PAGE.FNT", 512}};
  for (std::uint32_t i = 0; i < 4; ++i) {
    const std::string path = scratch + "/" + fonts[i].name;
    if (!Exists(path)) {
      const Bytes bytes = PatternBytes(fonts[i].length, i + 5);
      Save(path, bytes.data(), bytes.size());
    }
  }
  Selections selections;
  selections.loadFont = true;
  selections.fontListPath = scratch + "/fonts.tab";
  selections.reportPath = scratch + "/fonts.h";
  Save(selections.fontListPath, data, size);
  NullLog log;
  NullWindow window;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  ImageStore images;
  ImagePageCounts pages;
  FontList list(log, window, process, images, pages);
  if (list.FontListLoader(selections)) {
    if (pages.fontImagePages == 0 && images.Held(ImageSlot::FontData)) Broken("font data without pages");
    if (images.Slot(ImageSlot::FontData).size() != std::size_t{pages.fontImagePages} * kPageSize) {
      Broken("the font data is not fontImagePages pages long");
    }
  } else if (pages.fontImagePages != 0 || images.Held(ImageSlot::FontData)) {
    Broken("a refused font list left font data behind");
  }
  list.HeaderReport(selections);
  const std::string text(reinterpret_cast<const char*>(data), size);
  FontNameOf(text.substr(0, text.find('\n')));
}

// The settings text held in memory: start-up reads and writes it some hundred times, which
// through the file would leave the fuzzer a few hundred inputs a second.
class TextStore final : public ProfileStore {
 public:
  explicit TextStore(std::string text) : text_(std::move(text)) {}
  std::string Read(const std::string& section, const std::string& key, const std::string& defaultValue) override {
    return IniTextRead(text_, section, key, defaultValue);
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    return IniTextWrite(text_, section, key, value);
  }
  bool DeleteFile() override { return text_.clear(), true; }

 private:
  std::string text_;
};

// The input is the settings file: checked, loaded the way start-up loads it, then one
// setting written and read back, through the file and in memory.
void FuzzSettings(const std::uint8_t* data, std::size_t size, const std::string& scratch) {
  IniProfileStore store(scratch);
  Save(store.path(), data, size);
  std::string error;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!store.Check(error)) {
    if (error.empty()) Broken("a refused settings file without a reason");
    return;
  }
  if (!IniTextProblem(text).empty()) Broken("the file and its text were judged apart");
  const std::string value = "fuzz 1.0";
  if (store.Write(SettingsFile::kSection, "FW_Version", value) &&
      store.Read(SettingsFile::kSection, "FW_Version", "") != value) {
    Broken("a setting written to the file did not read back");
  }
  TextStore memory(text);
  MainWindowModel model;
  ProcessState process;
  process.packageMode = PackageMode::Plain;
  NullWindow window;
  SettingsFile settings(memory, model, process, window, nullptr);
  settings.LoadSettings();
  if (settings.WriteSetting("FW_Version", value) && memory.Read(SettingsFile::kSection, "FW_Version", "") != value) {
    Broken("a setting written did not read back");
  }
}

void FuzzEmulatorConfig(const std::uint8_t* data, std::size_t size, const std::string& scratch) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  EmulatorConfig config;
  std::string error;
  if (!ParseEmulatorConfig(text, scratch + "/scenario.cfg", config, error)) {
    if (error.empty()) Broken("a refused scenario without a reason");
    return;
  }
  if (config.devices.empty()) Broken("a scenario without any device");
  for (const EmulatedDeviceConfig& device : config.devices) EmulatedDevice{device};
}

// First byte: bit 0 repairs the trailing FNV-1a, which mutations seldom keep right.  A file
// that loads must save and load again to the same flash.
void FuzzFlashFile(const std::uint8_t* data, std::size_t size, const std::string& scratch) {
  if (size == 0) return;
  Bytes file(data + 1, data + size);
  if ((data[0] & 1) && file.size() >= 4) {
    WriteLe32(file.data() + file.size() - 4, Fnv1a(file.data(), file.size() - 4));
  }
  EmulatedDeviceConfig config;
  config.flashFile = scratch + "/device.flash";
  Save(config.flashFile, file.data(), file.size());
  EmulatedDevice device(config);
  std::string error;
  if (!device.LoadFlash(error)) {
    if (error.empty()) Broken("a refused flash file without a reason");
    return;
  }
  if (!device.SaveFlash(error)) Broken("a loaded flash could not be saved");
  EmulatedDevice again(config);
  if (!again.LoadFlash(error)) Broken("a saved flash file could not be loaded");
  if (again.ProgrammedPages() != device.ProgrammedPages() || again.markedPages() != device.markedPages()) {
    Broken("a flash file did not survive a save");
  }
}

// The input is the argument list, one argument per line.
void FuzzCliOptions(const std::uint8_t* data, std::size_t size, const std::string&) {
  std::vector<std::string> args{"romsetter-cli"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  // Building the option tables is most of a parse's cost; one parser serves every input.
  static CliParser parser;
  CliOptions options;
  std::string error, printed;
  const CliParse parse = parser.Parse(static_cast<int>(args.size()), argv.data(), options, error, printed);
  if (parse == CliParse::Refused && error.empty()) Broken("a refused command line without a reason");
  if (parse == CliParse::Run && !options.fontList.empty()) DefaultReportPath(options.fontList);
}

// A recording that reads takes at most 1.2 times its size, and must write out as text that
// reads back to the same text.
void FuzzRecording(const std::uint8_t* data, std::size_t size, const std::string&) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Recording recording;
  std::string error;
  if (!ParseRecording(text, "fuzz.jsonl", recording, error)) {
    if (error.empty()) Broken("a refused recording without a reason");
    return;
  }
  if (recording.entries.Footprint() > text.size() + text.size() / 5) Broken("a recording takes over 1.2 times its size");
  auto write = [](const Recording& r) {
    std::string out = RecordingHeaderLine(r.header) + "\n";
    for (const RecordingEntry& entry : r.entries) out += RecordingEntryLine(entry) + "\n";
    return out;
  };
  const std::string once = write(recording);
  Recording again;
  if (!ParseRecording(once, "again.jsonl", again, error)) Broken("a recording written out no longer reads");
  if (write(again) != once) Broken("a recording written out reads back differently");
}

}  // namespace romsetter::fuzz
