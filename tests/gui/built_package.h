#pragma once
// A package built in this process from `program` and the firmware images, as the window's
// "Build Package File" makes one; its path, or "" when the build failed.
#include <string>

#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "package/package_builder.h"
#include "support/test_support.h"

namespace romsetter::test {

inline std::string BuiltPackage(const std::string& program, const std::string& big, const std::string& small,
                                const PackageIdentity& identity, const std::string& logFile) {
  RecordingWindow window;
  ActivityLog log(logFile, window);
  ProcessState process;
  Selections sel;
  sel.bigFirmwarePath = big;
  sel.smallFirmwarePath = small;
  ImageStore images;
  ImagePageCounts pages;
  InMemoryProfileStore store;
  FontList fonts(log, window, process, images, pages);
  StdioPackageFiles files(program);
  return BuildPackage(BuildPorts{files, log, window, store, fonts, process}, sel, identity) ? sel.packPath : "";
}

}  // namespace romsetter::test
