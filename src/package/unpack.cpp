#include "package/unpack.h"

#include "base/format.h"
#include "package/package_format.h"
#include "package/payload_scrambler.h"

namespace romsetter {

namespace {

void Stop(const UnpackPorts& p, const std::string& text) {
  p.messages.ShowMessage(text, p.process.applicationName, MessageIcon::Error);
}

// A failure the system can say more about: its text in the log, when there is one.
void StopWithError(const UnpackPorts& p, std::uint32_t error, const std::string& text) {
  if (p.log != nullptr) p.log->LogSystemError(error);
  Stop(p, text);
}

// Every file asked for is tried; the ones that fail are named together once the rest is done.
struct Writes {
  const UnpackPorts& p;
  std::string failed;

  void Write(const std::string& path, const std::uint8_t* data, std::size_t length) {
    std::uint32_t error = 0;
    if (p.files.Write(path, data, length, error)) return;
    if (p.log != nullptr) {
      p.log->LogSystemError(error);
      p.log->Log(Format("Writing %s failed.", path.c_str()));
    }
    failed += failed.empty() ? path : ", " + path;
  }
};

}  // namespace

void ApplyPackageSelections(const ProcessState& process, Selections& s) {
  const PackagePreset& package = process.package;
  s.norSelected = package.nor;
  s.loadBootCode = package.nor && package.bootLength != 0;
  s.formatChecked = !package.nor && package.format;
  s.backupChecked = !package.nor && package.backup;
  s.loadFirmware = true;
  s.loadFont = package.fontLength != 0;
  if (!s.loadFont) s.fontListPath.clear();
}

UnpackResult UnpackSelf(const UnpackPorts& p, bool writeFiles) {
  std::uint32_t error = 0;
  const std::optional<std::string> program = p.files.ProgramPath(error);
  if (!program) {
    Stop(p, "GetModuleFileName ERROR!!");
    return UnpackResult::Failed;
  }
  const std::string& copy = p.paths.packageOut;
  // The program is read from a copy and then the copy removed: neither the copy nor a file
  // written afterwards may be the program itself.
  for (const std::string* out : {&copy, &p.paths.packageIni, &p.paths.packageBig, &p.paths.packageFont,
                                 &p.paths.packageBoot, &p.paths.packageSmall}) {
    if ((out == &copy || out == &p.paths.packageIni || writeFiles) && p.files.SameFile(*program, *out)) {
      Stop(p, Format("The program \"%s\" is \"%s\": unpacking would overwrite it.", program->c_str(), out->c_str()));
      return UnpackResult::Failed;
    }
  }
  if (!p.files.Copy(*program, copy, error)) {
    StopWithError(p, error, Format("Copy \"%s\" to \"%s\" ERROR!!", program->c_str(), copy.c_str()));
    return UnpackResult::Failed;
  }
  p.files.ClearReadOnly(copy);
  std::vector<std::uint8_t> file;
  if (!p.files.Read(copy, static_cast<std::size_t>(p.packageLimit), file, error)) {
    // A copy that cannot be read is of no use, and one too large to read must not stay behind.
    p.files.Remove(copy);
    StopWithError(p, error, Format("Can't open \"%s\" Error!", copy.c_str()));
    return UnpackResult::Failed;
  }
  p.files.Remove(copy);

  PackageTrailer trailer;
  PackageSettings inspected;
  std::string damage;
  switch (InspectPackage(file.data(), file.size(), trailer, inspected, damage)) {
    case PackageKind::Plain:
      p.process.packageMode = PackageMode::Plain;
      return UnpackResult::Plain;
    case PackageKind::Damaged:
      Stop(p, Format("The package is damaged: %s", damage.c_str()));
      return UnpackResult::Damaged;
    case PackageKind::Package:
      break;
  }

  // The lengths add up to the file's, so every part lies inside it.
  struct Part {
    ImageSlot slot;
    std::uint32_t length;
    bool scrambled;
    const std::string& file;
  };
  const Part parts[] = {{ImageSlot::BigFirmware, trailer.bigLength, true, p.paths.packageBig},
                        {ImageSlot::FontData, trailer.fontLength, false, p.paths.packageFont},
                        {ImageSlot::BootCode, trailer.bootLength, false, p.paths.packageBoot},
                        {ImageSlot::SmallFirmware, trailer.smallLength, true, p.paths.packageSmall}};
  Writes writes{p, {}};
  std::size_t offset = trailer.programLength;
  for (const Part& part : parts) {
    std::vector<std::uint8_t> image(file.begin() + static_cast<std::ptrdiff_t>(offset),
                                    file.begin() + static_cast<std::ptrdiff_t>(offset + part.length));
    offset += part.length;
    if (part.scrambled) DescramblePayload(image.data(), image.size());
    if (writeFiles) writes.Write(part.file, image.data(), image.size());
    p.images.Replace(part.slot, std::move(image));
  }

  // The settings come from the block that was checked, read over the ones held so far as the
  // reading rules say; the settings file is only a copy for the user.
  const std::uint8_t* block = file.data() + file.size() - kPackageTailSize;
  std::size_t textLength = 0;
  while (textLength < kPackageIniSize && block[textLength] != 0) ++textLength;
  if (writeFiles) {
    writes.Write(p.paths.packageIni, block, textLength);
  } else {
    p.files.Write(p.paths.packageIni, block, textLength, error);
  }
  PackageSettings settings{p.process.presetHardwareId, p.process.presetInstanceKeyPath,
                           p.process.presetInquiryText, p.process.package.format, p.process.package.backup,
                           p.process.fwVersion,          p.process.package.nor};
  ReadPackageIni(reinterpret_cast<const char*>(block), textLength, settings);
  p.process.presetHardwareId = settings.hardwareId;
  p.process.presetInstanceKeyPath = settings.instanceKeyPath;
  p.process.presetInquiryText = settings.inquiryText;
  p.process.fwVersion = settings.fwVersion;
  p.process.package.format = settings.format;
  p.process.package.backup = settings.backup;
  p.process.package.nor = settings.nor;
  p.process.package.programLength = trailer.programLength;
  p.process.package.bigLength = trailer.bigLength;
  p.process.package.fontLength = trailer.fontLength;
  p.process.package.bootLength = trailer.bootLength;
  p.process.package.smallLength = trailer.smallLength;
  p.process.packageMode = PackageMode::Package;
  if (!writes.failed.empty()) {
    Stop(p, Format("Writing %s failed.", writes.failed.c_str()));
    return UnpackResult::Unwritten;
  }
  return UnpackResult::Package;
}

}  // namespace romsetter
