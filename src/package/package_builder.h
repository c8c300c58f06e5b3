#pragma once
// Pack EXE: the current selection turned into a package next to the big-block firmware
// image, then its trailer read back to confirm the build.
#include <string>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/profile_store.h"
#include "base/selections.h"
#include "base/user_ports.h"
#include "package/font_list.h"
#include "package/package_files.h"
#include "package/package_format.h"

namespace romsetter {

// The identification of the device the package is for, as discovery matched it.
struct PackageIdentity {
  std::string hardwareId;
  std::string instanceKeyPath;
  std::string inquiryText;
};

struct BuildPorts {
  PackageFiles& files;
  LogSink& log;
  MessagePort& messages;
  ProfileStore& settings;  // section "Romsetter" gets the paths of the build
  FontList& fonts;         // load mode makes the font data file
  const ProcessState& process;
  std::uint64_t packageLimit = kPackageLimit;  // the largest package file it may make
};

// Every refusal and failure is logged and shown (stop icon) and leaves the package file as
// the failure leaves it: not created while a part is missing, too large, or the program is a
// package or would be overwritten; the plain copy when it cannot be opened; removed when the
// write fails or what is read back is not the package written.  `selections.packPath`
// gets the composed name (empty after a failed read-back).  True when built and confirmed.
bool BuildPackage(const BuildPorts& ports, Selections& selections, const PackageIdentity& identity);

}  // namespace romsetter
