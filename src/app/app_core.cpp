#include "app/app_core.h"

#include "app/update_controls.h"

namespace romsetter {

namespace {
std::unique_ptr<DeviceLink> MakeLink(const AppPorts& ports, ActivityLog& log, const Selections& selections) {
  if (ports.aspi != nullptr) return std::make_unique<DeviceLink>(*ports.aspi, log, ports.window, selections);
  return std::make_unique<DeviceLink>(*ports.drive, log, ports.window, selections);
}
}  // namespace

AppCore::AppCore(AppPorts p, ProcessState& processState)
    : ports(std::move(p)),
      process(processState),
      log(ports.paths.logFile, ports.window, ports.errorText),
      link(MakeLink(ports, log, model.selections)),
      discovery(*link, ports.profile, process, ports.registry),
      settings(ports.profile, model, process, ports.window, [this] { UpdateControls(); }),
      checks(log, ports.window, process, model, images, link->imagePages, settings),
      fonts(model.selections, log, ports.window, process, images, link->imagePages),
      presence(*link, discovery, model, ports.clock, [this] { UpdateControls(); }),
      job(JobServices{model, process, *link, discovery, images, checks, fonts, settings, ports.clock, ports.paths,
                      [this] { UpdateControls(); }}) {}

void AppCore::UpdateControls() {
  romsetter::UpdateControls(model.selections, link->devicePresent, process.InPackageMode(), ports.window);
}

JobOutcome AppCore::RunJob(JobMode mode) { return job.Run(mode); }

}  // namespace romsetter
