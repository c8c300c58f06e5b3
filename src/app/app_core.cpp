#include "app/app_core.h"

#include "app/checked_images.h"
#include "app/update_controls.h"

namespace romsetter {

AppCore::AppCore(AppPorts p, ProcessState& processState)
    : ports(std::move(p)),
      process(processState),
      log(ports.paths.logFile, ports.window, ports.errorText),
      link(ports.session->Transport(), log),
      memory(link, log, memoryMap),
      discovery(DiscoveryPorts{link, memory, *ports.session, ports.profile, process, ports.registry, log,
                               ports.window, ports.window,
                               [this](const std::string& line) {
                                 model.versionLabel = line;
                                 ports.window.SetVersionLine(line);
                               }}),
      settings(ports.profile, model, process, ports.window, [this] { UpdateControls(); }),
      checks(log, ports.window, settings, process, model.selections, images, imagePages),
      fonts(model.selections, log, ports.window, process, images, imagePages),
      presence(ports.window, discovery, model, ports.clock, [this] { UpdateControls(); }),
      job(JobServices{model, process, ports.window, log, link, memory, discovery, *ports.session, images,
                      imagePages, checks, fonts, settings, ports.clock, ports.paths, [this] { UpdateControls(); }, ports.checked}) {
  if (ports.checked != nullptr) {
    images = ports.checked->images;  // shares the bytes
    imagePages = ports.checked->pages;
  }
}

void AppCore::UpdateControls() {
  romsetter::UpdateControls(model.selections, discovery.present(), process.InPackageMode(), ports.window);
}

JobOutcome AppCore::RunJob(JobMode mode) {
  presence.BeginWork();
  const JobOutcome outcome = job.Run(mode);
  presence.EndWork();
  return outcome;
}

}  // namespace romsetter
