#include "base/fixed_paths.h"

namespace romsetter {

FixedPaths FixedPaths::UnderFolder(const std::string& folder) {
  const std::string base = folder.empty() || folder.back() == '/' || folder.back() == '\\' ? folder : folder + "/";
  FixedPaths p;
  p.logFile = base + "Romsetter.log";
  p.extractDefault = base + "read_fw.bin";
  p.bootWriteDump = base + "FW_Write.dat";
  p.bootReadDump = base + "FW_Read.dat";
  p.packageOut = base + "MV.out";
  p.packageIni = base + "MV.ini";
  p.packageBig = base + "MV_Big.bin";
  p.packageFont = base + "MV_Font.dat";
  p.packageBoot = base + "MV_Boot.nor";
  p.packageSmall = base + "MV_Small.bin";
  return p;
}

}  // namespace romsetter
