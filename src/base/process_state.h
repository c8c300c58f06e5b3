#pragma once
// The few values that are process-wide by nature; one instance is owned by the application
// and handed to whoever needs it.
#include <cstdint>
#include <string>

namespace romsetter {

enum class PackageMode { Undecided = 0, Package = 1, Plain = 2 };

// What a package told the process about itself, kept for the life of the process.
struct PackagePreset {
  bool format = false;  // "Chk_Format="
  bool backup = false;  // "Chk_Backup="
  bool nor = false;     // "FlashType="
  // The program's and the payload's lengths from the trailer.
  std::uint32_t programLength = 0;
  std::uint32_t bigLength = 0;
  std::uint32_t fontLength = 0;
  std::uint32_t bootLength = 0;
  std::uint32_t smallLength = 0;
};

struct ProcessState {
  PackageMode packageMode = PackageMode::Undecided;
  std::string fwVersion;
  // Identification preset from a package.
  std::string presetHardwareId;
  std::string presetInstanceKeyPath;
  std::string presetInquiryText;
  PackagePreset package;
  // The extraction's output file as last chosen; empty: the fixed default.
  std::string extractOutputPath;
  std::string applicationName = "Romsetter";  // caption of boxes that name none

  bool InPackageMode() const { return packageMode == PackageMode::Package; }
};

}  // namespace romsetter
