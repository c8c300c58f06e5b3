#pragma once
// A romsetter-cli run that reaches devices: one device, or several at once (several --device,
// or --all).  One path sets it up (the settings file, a package, the scenarios, each device's
// transports), runs it and closes it (the emulated flash kept).
#include <string>

#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"

namespace romsetter {

// One device runs its command on the terminal's own window and log.  Several are listed (with
// --all, before anything is written, and confirmed by --yes or on the terminal), the images
// loaded and checked once, then each device gets a job of its own on a thread of its own; a
// table of the outcomes ends the run, whose exit status is the worst outcome's.
// `stdinTerminal`: standard input is a terminal that may be asked.
int RunDevices(const CliOptions& o, CliWindow& window, bool stdinTerminal, bool drawProgress);

// The log file of one device of several: `log` with "-TAG" before its extension
// ("Romsetter.log" and "sg2" give "Romsetter-sg2.log").
std::string DeviceLogName(const std::string& log, const std::string& tag);

}  // namespace romsetter
