#pragma once
// The few values that are process-wide by nature; one instance is owned by the application
// and handed to whoever needs it.
#include <string>

namespace romsetter {

enum class PackageMode { Undecided = 0, Package = 1, Plain = 2 };

struct ProcessState {
  PackageMode packageMode = PackageMode::Undecided;
  bool extractMode = false;
  std::string fwVersion;
  // Identification preset from a package.
  std::string presetHardwareId;
  std::string presetInstanceKeyPath;
  std::string presetInquiryText;
  std::string extractOutputPath = "c:\\read_fw.bin";
  std::string applicationName = "Romsetter";  // caption of boxes that name none

  bool InPackageMode() const { return packageMode == PackageMode::Package; }
};

}  // namespace romsetter
