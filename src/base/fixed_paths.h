#pragma once
#include <string>

namespace romsetter {

// Every fixed Windows path the program uses, in one place, so front ends other than the
// Windows program and the tests can move them into a folder of their own.
struct FixedPaths {
  std::string logFile = "C:\\Romsetter.log";
  std::string extractDefault = "c:\\read_fw.bin";
  std::string bootWriteDump = "c:\\FW_Write.dat";
  std::string bootReadDump = "c:\\FW_Read.dat";
  std::string packageOut = "c:\\MV.out";
  std::string packageIni = "c:\\MV.ini";
  std::string packageBig = "c:\\MV_Big.bin";
  std::string packageFont = "c:\\MV_Font.dat";
  std::string packageBoot = "c:\\MV_Boot.nor";
  std::string packageSmall = "c:\\MV_Small.bin";

  static FixedPaths Windows() { return FixedPaths{}; }
  // The same file names inside `folder` (joined with '/', which both platforms accept).
  static FixedPaths UnderFolder(const std::string& folder);
};

}  // namespace romsetter
