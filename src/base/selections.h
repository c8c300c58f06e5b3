#pragma once
// The main window's selections, read by the job and the device code.
#include <string>

namespace romsetter {

struct Selections {
  bool norSelected = false;
  bool loadBootCode = false;
  bool loadFirmware = true;
  bool loadFont = false;
  bool formatChecked = false;
  bool backupChecked = false;
  bool checkProduct = false;
  bool debugWritePageError = false;  // settings key Debug_Write_Page_Error
  std::string bootPath;
  std::string bigFirmwarePath;
  std::string smallFirmwarePath;
  std::string fontListPath;
  std::string reportPath;
  std::string packPath;
};

}  // namespace romsetter
