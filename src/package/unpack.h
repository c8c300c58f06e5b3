#pragma once
// Whether the running program file is a package, and if so its images and settings: the
// first thing every start asks, and the hidden extract command.
#include "base/fixed_paths.h"
#include "base/log_sink.h"
#include "base/process_state.h"
#include "base/selections.h"
#include "base/user_ports.h"
#include "package/image_store.h"
#include "package/package_files.h"
#include "package/package_format.h"

namespace romsetter {

enum class UnpackResult {
  Package,  // the payload is loaded: package mode (state 1)
  Plain,    // the program carries no payload (state 2)
  Damaged,  // the file ends like a package but does not add up: the user was told; run nothing
  Failed,   // the program file could not be copied or read: the user was told; state unchanged
  Unwritten,  // loaded as Package, but a file asked for could not be written: the user was told
};

struct UnpackPorts {
  PackageFiles& files;
  MessagePort& messages;
  const FixedPaths& paths;  // the copy, the settings text and the extracted images
  ProcessState& process;    // package-mode state and settings
  ImageStore& images;
  LogSink* log = nullptr;  // when given, also gets the system's reason for each failure
  std::uint64_t packageLimit = kPackageLimit;  // the largest program file it reads
};

// Copies the program file to the fixed copy, reads it, and when it is a package loads the
// four images (descrambling the two firmware images) into the store, writes the settings
// text to the fixed settings file and takes the package-mode settings from the checked block
// in memory (so a settings file that cannot be written changes nothing).  With `writeFiles`
// the four images are also written to their fixed files, and any of the five that cannot be
// written makes the result Unwritten; without it the settings file is written silently.  The
// copy is removed again, also when it could not be read.
UnpackResult UnpackSelf(const UnpackPorts& ports, bool writeFiles);

// What a package presets in the main window's selections: its flash type, boot code when it
// carries any, its format and backup choices (NAND), the firmware always and the fonts when
// it carries any.
void ApplyPackageSelections(const ProcessState& process, Selections& selections);

}  // namespace romsetter
