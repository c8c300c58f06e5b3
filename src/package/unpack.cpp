#include "package/unpack.h"

#include "base/format.h"
#include "package/package_format.h"

namespace romsetter {

namespace {

// A package holds at most four images of 4 GiB each in principle; this bounds what one
// downloaded file can make the process allocate.
constexpr std::size_t kPackageLimit = std::size_t{1} << 30;

void Stop(const UnpackPorts& p, const std::string& text) {
  p.messages.ShowMessage(text, p.process.applicationName, MessageIcon::Error);
}

// The settings as the reading rules see the fixed settings file, read back from the disk.
bool TakeSettings(const UnpackPorts& p, const std::uint8_t* block, PackageSettings& settings) {
  std::size_t length = 0;
  while (length < kPackageIniSize && block[length] != 0) ++length;
  std::uint32_t error = 0;
  if (!p.files.Write(p.paths.packageIni, block, length, error)) return false;
  std::vector<std::uint8_t> text;
  if (!p.files.Read(p.paths.packageIni, kPackageIniSize, text, error)) return false;
  ReadPackageIni(reinterpret_cast<const char*>(text.data()), text.size(), settings);
  return true;
}

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
  if (!p.files.Copy(*program, copy, error)) {
    Stop(p, Format("Copy \"%s\" to \"%s\" ERROR!!", program->c_str(), copy.c_str()));
    return UnpackResult::Failed;
  }
  p.files.ClearReadOnly(copy);
  std::vector<std::uint8_t> file;
  if (!p.files.Read(copy, kPackageLimit, file, error)) {
    Stop(p, Format("Can't open \"%s\" Error!", copy.c_str()));
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
  std::size_t offset = trailer.programLength;
  for (const Part& part : parts) {
    std::vector<std::uint8_t> image(file.begin() + static_cast<std::ptrdiff_t>(offset),
                                    file.begin() + static_cast<std::ptrdiff_t>(offset + part.length));
    offset += part.length;
    if (part.scrambled) DescramblePayload(image.data(), image.size());
    if (writeFiles) p.files.Write(part.file, image.data(), image.size(), error);
    p.images.Replace(part.slot, std::move(image));
  }

  PackageSettings settings{p.process.presetHardwareId, p.process.presetInstanceKeyPath,
                           p.process.presetInquiryText, p.process.package.format, p.process.package.backup,
                           p.process.fwVersion,          p.process.package.nor};
  // A settings file that cannot be written leaves the settings as they were.
  if (TakeSettings(p, file.data() + file.size() - kPackageTailSize, settings)) {
    p.process.presetHardwareId = settings.hardwareId;
    p.process.presetInstanceKeyPath = settings.instanceKeyPath;
    p.process.presetInquiryText = settings.inquiryText;
    p.process.fwVersion = settings.fwVersion;
    p.process.package.format = settings.format;
    p.process.package.backup = settings.backup;
    p.process.package.nor = settings.nor;
  }
  p.process.package.programLength = trailer.programLength;
  p.process.package.bigLength = trailer.bigLength;
  p.process.package.fontLength = trailer.fontLength;
  p.process.package.bootLength = trailer.bootLength;
  p.process.package.smallLength = trailer.smallLength;
  p.process.packageMode = PackageMode::Package;
  return UnpackResult::Package;
}

}  // namespace romsetter
