#pragma once
// The commands of romsetter-cli that work on one device (or none), once the run has set up
// its core: info, header, pack, upgrade and extract; and unpack, which needs no core.
#include "app/app_core.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_window.h"
#include "app/upgrade_job.h"

namespace romsetter {

int ExitFor(JobOutcome outcome);

int RunInfo(AppCore& core, CliWindow& window);
int RunHeader(AppCore& core, const CliOptions& o, CliWindow& window);
int RunPack(AppCore& core, const AppPorts& ports, const CliOptions& o, CliWindow& window);
// upgrade and extract (and a dry run): the job, then its plan.
int RunJobCommand(AppCore& core, const CliOptions& o, CliWindow& window);
int RunUnpack(const CliOptions& o, CliWindow& window);

}  // namespace romsetter
