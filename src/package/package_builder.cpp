#include "package/package_builder.h"

#include <limits>
#include <vector>

#include "base/text.h"
#include "package/package_format.h"

namespace romsetter {

namespace {

constexpr std::size_t kImageLimit = std::size_t{1} << 30;
constexpr const char* kSection = "Romsetter";

struct Builder {
  const BuildPorts& p;
  Selections& s;

  void Stop(const std::string& text) {
    p.messages.ShowMessage(text, p.process.applicationName, MessageIcon::Error);
  }
  bool Refuse(const std::string& text) {
    p.log.Log(text);
    Stop(text);
    return false;
  }
  bool SystemFailure(std::uint32_t error, const std::string& text) {
    p.log.LogSystemError(error);
    Stop(text);
    return false;
  }
  // An image the package needs; a failure removes the package.
  bool ReadPart(const std::string& path, const std::string& package, std::vector<std::uint8_t>& data,
                const std::string& failure) {
    std::uint32_t error = 0;
    if (p.files.Read(path, kImageLimit, data, error)) return true;
    SystemFailure(error, failure);
    p.files.Remove(package);
    return false;
  }
  // The trailer counts in 32 bits, so the payload as a whole must too.
  bool AddPart(const std::string& package, std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& part,
               bool scrambled, std::uint32_t& length) {
    if (part.size() > 0xFFFFFFFFu - kPackageTailSize - payload.size()) {
      Refuse("The images do not fit in one package: a package holds less than 4 GiB.");
      p.files.Remove(package);
      return false;
    }
    if (scrambled) ScramblePayload(part.data(), part.size());
    length = static_cast<std::uint32_t>(part.size());
    payload.insert(payload.end(), part.begin(), part.end());
    return true;
  }
};

}  // namespace

bool BuildPackage(const BuildPorts& p, Selections& s, const PackageIdentity& identity) {
  Builder b{p, s};
  std::uint32_t error = 0;
  const std::optional<std::string> program = p.files.ProgramPath(error);
  if (!program) return b.SystemFailure(error, "GetModuleFileName error!");
  if (!s.loadFirmware) return b.Refuse("The \"Load F/W\" check box is not enabled.");
  if (s.norSelected && s.loadBootCode && (s.bootPath.empty() || s.bootPath.find("NONE") != std::string::npos)) {
    return b.Refuse("The Boot Name can't be emptied or \"NONE\"!");
  }
  if (EqualsNoCase(s.bigFirmwarePath, "NONE")) {
    return b.Refuse(Format(s.norSelected ? "Please select correct NOR type F/W!! (FW:%s)"
                                         : "Please select correct BIG block F/W!! (FW:%s)",
                           s.bigFirmwarePath.c_str()));
  }
  if (!s.norSelected && EqualsNoCase(s.smallFirmwarePath, "NONE")) {
    return b.Refuse(Format("Please select correct Small block F/W!! (FW:%s)", s.smallFirmwarePath.c_str()));
  }
  const bool fonts = s.loadFont;
  if (fonts && (s.fontListPath.empty() || EqualsNoCase(s.fontListPath, "NONE"))) {
    return b.Refuse("The Font List can't be emptied or \"NONE\"!");
  }
  PackageSettings settings{identity.hardwareId, identity.instanceKeyPath, identity.inquiryText, s.formatChecked,
                           s.backupChecked,     p.process.fwVersion,      s.norSelected,        true, 0};
  // The checksum line has a fixed length, so the text's size is known before any file exists.
  const std::size_t textSize = PackageIniText(settings).size();
  if (textSize >= kPackageIniSize) {
    return b.Refuse(Format("The package settings need %zu bytes, more than the %zu a package can hold.", textSize,
                           kPackageIniSize - 1));
  }

  s.packPath = PackageFileName(s.bigFirmwarePath, fonts, s.fontListPath, s.norSelected, s.loadBootCode, s.bootPath);
  const std::string package = s.packPath;
  p.log.Log("The PACK file is making...");
  if (!p.files.Copy(*program, package, error)) {
    return b.SystemFailure(error, Format("Copy \"%s\" to \"%s\" Error!", program->c_str(), package.c_str()));
  }
  if (!p.files.CanAppend(package, error)) {
    return b.SystemFailure(error, Format("Can't open the \"%s\".", package.c_str()));
  }
  std::vector<std::uint8_t> programBytes;
  if (!b.ReadPart(package, package, programBytes, Format("Can't open the \"%s\".", package.c_str()))) return false;
  PackageTrailer trailer;
  trailer.programLength = static_cast<std::uint32_t>(programBytes.size());
  std::vector<std::uint8_t>().swap(programBytes);

  std::vector<std::uint8_t> payload;
  std::vector<std::uint8_t> part;
  if (!b.ReadPart(s.bigFirmwarePath, package, part, Format("Open F/W \"%s\" file Error!", s.bigFirmwarePath.c_str())) ||
      !b.AddPart(package, payload, part, true, trailer.bigLength)) {
    return false;
  }
  if (fonts) {
    if (!p.fonts.FontListLoader()) {
      p.files.Remove(package);
      return false;
    }
    const std::string dataFile = FontDataFileName(s.reportPath);
    if (!b.ReadPart(dataFile, package, part, Format("Can't open \"%s\" Error!", dataFile.c_str())) ||
        !b.AddPart(package, payload, part, false, trailer.fontLength)) {
      return false;
    }
  }
  if (s.norSelected && s.loadBootCode) {
    if (!b.ReadPart(s.bootPath, package, part, Format("Open F/W \"%s\" file Error!", s.bootPath.c_str())) ||
        !b.AddPart(package, payload, part, false, trailer.bootLength)) {
      return false;
    }
  }
  if (!s.norSelected) {
    if (!b.ReadPart(s.smallFirmwarePath, package, part,
                    Format("Open F/W \"%s\" file Error!", s.smallFirmwarePath.c_str())) ||
        !b.AddPart(package, payload, part, true, trailer.smallLength)) {
      return false;
    }
  }

  settings.payloadCrc = PayloadCrc32(payload.data(), payload.size());
  std::array<std::uint8_t, kPackageIniSize> block{};
  PackageIniBlock(PackageIniText(settings), block);
  const std::array<std::uint8_t, kTrailerSize> written = EncodeTrailer(trailer);
  payload.insert(payload.end(), block.begin(), block.end());
  payload.insert(payload.end(), written.begin(), written.end());
  if (!p.files.Append(package, payload.data(), payload.size(), error)) {
    b.SystemFailure(error, Format("Can't open the \"%s\".", package.c_str()));
    p.files.Remove(package);
    return false;
  }
  std::vector<std::uint8_t>().swap(payload);

  bool built = false;
  std::vector<std::uint8_t> back;
  if (!p.files.Read(package, std::numeric_limits<std::size_t>::max(), back, error)) {
    b.SystemFailure(error, Format("Can't open \"%s\" Error!", package.c_str()));
  } else if (back.size() >= kTrailerSize &&
             std::equal(written.begin(), written.end(), back.end() - static_cast<std::ptrdiff_t>(kTrailerSize))) {
    const std::string line = Format("The \"%s\" file is built OK.", package.c_str());
    p.messages.ShowMessage(line, p.process.applicationName, MessageIcon::Information);
    p.log.Log(line);
    built = true;
  } else {
    p.files.Remove(package);
    s.packPath.clear();
    const std::string line = Format("The \"%s\" file is built FAILURE.", package.c_str());
    b.Stop(line);
    p.log.Log(line);
  }

  p.settings.Write(kSection, "FW_FileName", s.bigFirmwarePath);
  p.settings.Write(kSection, "FW_FileNameS", s.smallFirmwarePath);
  p.settings.Write(kSection, "PackFile", s.packPath);
  p.settings.Write(kSection, "FontList", s.fontListPath);
  p.settings.Write(kSection, "Report", s.reportPath);
  p.settings.Write(kSection, "Boot_FileName", s.bootPath);
  return built;
}

}  // namespace romsetter
