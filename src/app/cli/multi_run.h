#pragma once
// romsetter-cli upgrade over several devices at once: several --device, or --all.
#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "app/upgrade_job.h"
#include "device/discovery.h"
#include "base/selections.h"

namespace romsetter {

int ExitFor(JobOutcome outcome);
void ApplySelections(const CliOptions& o, Selections& s);

// The log file of one device of several: `log` with "-TAG" before its extension
// ("Romsetter.log" and "sg2" give "Romsetter-sg2.log").
std::string DeviceLogName(const std::string& log, const std::string& tag);

#ifdef _WIN32
// Whether a real device is reached through ASPI: a drive letter never, else with --aspi (or
// an ASPI target named) and on any system outside the NT family.
bool RealDeviceUsesAspi(bool aspi, char drive);
#endif
struct AppPorts;
// A drive or ASPI target named on the command line (E:, aspi:A:T) is the only device the
// job's discovery may take; other devices leave discovery alone.
void RestrictToNamed(AppPorts& ports, const DeviceTarget& named);

// The devices are listed (with --all, before anything is written, and confirmed by --yes or
// on the terminal), the images loaded and checked once, then each device gets a job of its
// own on a thread of its own; a table of the outcomes ends the run.  Returns the exit status
// of the worst outcome.  `stdinTerminal`: standard input is a terminal that may be asked.
int RunSeveral(const CliOptions& o, CliWindow& window, bool stdinTerminal, bool drawProgress);

}  // namespace romsetter
