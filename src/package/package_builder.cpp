#include "package/package_builder.h"

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "package/package_format.h"
#include "package/payload_scrambler.h"

namespace romsetter {

namespace {

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
  // A part the package needs, appended to `payload`; the package may not outgrow the limit.
  bool AddPart(const std::string& path, const std::string& failure, bool scrambled, std::uint64_t& size,
               std::vector<std::uint8_t>& payload, std::uint32_t& length) {
    std::vector<std::uint8_t> part;
    std::uint32_t error = 0;
    if (!p.files.Read(path, static_cast<std::size_t>(p.packageLimit), part, error)) return SystemFailure(error, failure);
    size += part.size();
    if (size > p.packageLimit) {
      return Refuse(Format("The package needs %llu bytes, more than the %llu a package can hold.",
                           static_cast<unsigned long long>(size), static_cast<unsigned long long>(p.packageLimit)));
    }
    if (scrambled) ScramblePayload(part.data(), part.size());
    length = static_cast<std::uint32_t>(part.size());
    payload.insert(payload.end(), part.begin(), part.end());
    return true;
  }
  // The package is written over none of its own inputs.
  bool OverwritesInput(const std::string& package, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
      if (p.files.SameFile(package, input)) {
        Refuse(Format("The package \"%s\" would overwrite \"%s\", which the build reads.", package.c_str(),
                      input.c_str()));
        return true;
      }
    }
    return false;
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
                           s.backupChecked,     p.process.fwVersion,      s.norSelected,        true, 0, true, 0};
  // The checksum lines have a fixed length, so the text's size is known before any file exists.
  const std::size_t textSize = PackageIniText(settings).size();
  if (textSize >= kPackageIniSize) {
    return b.Refuse(Format("The package settings need %zu bytes, more than the %zu a package can hold.", textSize,
                           kPackageIniSize - 1));
  }

  s.packPath = PackageFileName(s.bigFirmwarePath, fonts, s.fontListPath, s.norSelected, s.loadBootCode, s.bootPath);
  const std::string package = s.packPath;
  p.log.Log("The PACK file is making...");
  const bool boot = s.norSelected && s.loadBootCode;
  std::vector<std::string> inputs{*program, s.bigFirmwarePath};
  if (fonts) inputs.insert(inputs.end(), {s.fontListPath, FontDataFileName(s.reportPath)});
  if (boot) inputs.push_back(s.bootPath);
  if (!s.norSelected) inputs.push_back(s.smallFirmwarePath);
  if (b.OverwritesInput(package, inputs)) return false;

  // Every part is read and checked before the package file is made, so a refusal leaves an
  // earlier package of that name as it was.
  const std::string copyFailure = Format("Copy \"%s\" to \"%s\" Error!", program->c_str(), package.c_str());
  std::vector<std::uint8_t> programBytes;
  if (!p.files.Read(*program, static_cast<std::size_t>(p.packageLimit), programBytes, error)) {
    return b.SystemFailure(error, copyFailure);
  }
  PackageTrailer trailer;
  PackageSettings carried;
  std::string damage;
  switch (InspectPackage(programBytes.data(), programBytes.size(), trailer, carried, damage)) {
    case PackageKind::Plain: break;
    case PackageKind::Package:
      return b.Refuse(Format("The program \"%s\" is a package itself: a package is built from a plain program.",
                             program->c_str()));
    case PackageKind::Damaged:
      return b.Refuse(Format("The program \"%s\" is a damaged package (%s): a package is built from a plain program.",
                             program->c_str(), damage.c_str()));
  }
  trailer = PackageTrailer{};
  trailer.programLength = static_cast<std::uint32_t>(programBytes.size());
  std::uint64_t size = programBytes.size() + kPackageTailSize;

  std::vector<std::uint8_t> tail;
  if (!b.AddPart(s.bigFirmwarePath, Format("Open F/W \"%s\" file Error!", s.bigFirmwarePath.c_str()), true, size, tail,
                 trailer.bigLength)) {
    return false;
  }
  if (fonts) {
    if (!p.fonts.FontListLoader(s)) return false;
    const std::string dataFile = FontDataFileName(s.reportPath);
    if (!b.AddPart(dataFile, Format("Can't open \"%s\" Error!", dataFile.c_str()), false, size, tail,
                   trailer.fontLength)) {
      return false;
    }
  }
  if (boot && !b.AddPart(s.bootPath, Format("Open F/W \"%s\" file Error!", s.bootPath.c_str()), false, size, tail,
                         trailer.bootLength)) {
    return false;
  }
  if (!s.norSelected && !b.AddPart(s.smallFirmwarePath, Format("Open F/W \"%s\" file Error!", s.smallFirmwarePath.c_str()),
                                   true, size, tail, trailer.smallLength)) {
    return false;
  }

  settings.payloadCrc = PayloadCrc32(tail.data(), tail.size());
  const std::string text = PackageIniText(settings);
  const std::size_t textDigits = PackageCrcDigits(text);
  std::array<std::uint8_t, kPackageIniSize> block{};
  PackageIniBlock(text, block);
  const std::array<std::uint8_t, kTrailerSize> written = EncodeTrailer(trailer);
  const std::size_t digits = tail.size() + textDigits;
  tail.insert(tail.end(), block.begin(), block.end());
  tail.insert(tail.end(), written.begin(), written.end());
  if (textDigits < text.size()) {  // the line is always written; its digits lie inside the text
    const std::string crc = Format("%08X", static_cast<unsigned>(PackageCrc32(programBytes.data(), programBytes.size(),
                                                                              tail.data(), tail.size(), digits)));
    std::copy(crc.begin(), crc.end(), tail.begin() + static_cast<std::ptrdiff_t>(digits));
  }

  // The program as read and checked above, not the file again, which may have changed since.
  if (!p.files.Write(package, programBytes.data(), programBytes.size(), error)) {
    b.SystemFailure(error, copyFailure);
    p.files.Remove(package);
    return false;
  }
  std::vector<std::uint8_t>().swap(programBytes);
  if (!p.files.CanAppend(package, error)) {
    return b.SystemFailure(error, Format("Can't open the \"%s\".", package.c_str()));
  }
  if (!p.files.Append(package, tail.data(), tail.size(), error)) {
    b.SystemFailure(error, Format("Can't open the \"%s\".", package.c_str()));
    p.files.Remove(package);
    return false;
  }
  std::vector<std::uint8_t>().swap(tail);

  // Confirmed only when the file on disk is one the reader opens, with the trailer written.
  bool built = false;
  std::vector<std::uint8_t> back;
  PackageTrailer readTrailer;
  if (!p.files.Read(package, static_cast<std::size_t>(p.packageLimit), back, error)) {
    b.SystemFailure(error, Format("Can't open \"%s\" Error!", package.c_str()));
  } else if (InspectPackage(back.data(), back.size(), readTrailer, carried, damage) == PackageKind::Package &&
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
