#include "app/app_core.h"

#include "app/checked_images.h"
#include "app/update_controls.h"
#include "package/unpack.h"

namespace romsetter {

AppCore::AppCore(AppPorts p, ProcessState& processState)
    : ports_(std::move(p)),
      process_(processState),
      log_(ports_.paths.logFile, ports_.window, ports_.errorText),
      link_(ports_.session->Transport(), log_),
      memory_(link_, log_, memoryMap_),
      discovery_(DiscoveryPorts{link_, memory_, *ports_.session, ports_.profile, process_, ports_.registry, log_,
                                ports_.window, ports_.window,
                                [this](const std::string& line) {
                                  model_.versionLabel = line;
                                  ports_.window.SetVersionLine(line);
                                }}),
      settings_(ports_.profile, model_, process_, ports_.window, [this] { UpdateControls(); }),
      checks_(log_, ports_.window, settings_, process_, images_, imagePages_),
      fonts_(log_, ports_.window, process_, images_, imagePages_),
      presence_(ports_.window, discovery_, model_, ports_.clock, [this] { UpdateControls(); }),
      job_(JobServices{process_, ports_.window, log_, link_, memory_, discovery_, *ports_.session, images_,
                       imagePages_, checks_, fonts_, settings_, ports_.clock, ports_.paths,
                       [this] { UpdateControls(); }, ports_.checked}) {
  if (ports_.checked != nullptr) {
    images_ = ports_.checked->images;  // shares the bytes
    imagePages_ = ports_.checked->pages;
  }
  if (ports_.onlyDrive) discovery_.RestrictToDrive(*ports_.onlyDrive);
  if (ports_.onlyTarget) discovery_.RestrictToTarget(*ports_.onlyTarget);
  discovery_.SetPresent(ports_.assumePresent);
}

void AppCore::StartUp(ImageStore packageImages, bool readSettings) {
  if (process_.InPackageMode()) {
    images_ = std::move(packageImages);
    return;
  }
  discovery_.WriteIdentificationDefaults();
  if (readSettings) settings_.LoadSettings();
}

bool AppCore::ProbeDevice() {
  return discovery_.ProbeDevice(model_.selections.checkProduct, model_.selections.norSelected);
}

bool AppCore::OnDeviceChange(std::uint32_t event, std::uint32_t deviceType) {
  return presence_.OnDeviceChange(event, deviceType);
}

void AppCore::OnActivate() { presence_.OnActivate(); }

void AppCore::UpdateControls() {
  romsetter::UpdateControls(model_.selections, discovery_.present(), process_.InPackageMode(), ports_.window);
}

JobOutcome AppCore::Run(JobRequest request) {
  presence_.BeginWork();
  const JobOutcome outcome = job_.Run(std::move(request));
  presence_.EndWork();
  return outcome;
}

JobOutcome AppCore::ReadDeviceInfo() {
  const ImagePageCounts all{1, 1, 1, 1};  // so no query refuses for want of an image
  const bool nor = model_.selections.norSelected;
  bool ok = true;
  auto queryAll = [&] {
    for (RegionQuery q : {RegionQuery::Firmware, RegionQuery::Boot, RegionQuery::Font, RegionQuery::Backup}) {
      ok = memory_.GetMemInfo(q, all, nor) && ok;
    }
  };
  const bool found = ports_.session->Visit(
      [&](DriveSession& session) {
        if (!discovery_.OpenDev(true)) return false;
        discovery_.SetPresent(true);
        queryAll();
        ok = discovery_.QueryProduct(nor) && ok;  // info promises the version and product
        session.drive().CloseDrive();
        return true;
      },
      [&](AspiSession& session) {
        {
          AspiJob job(session);
          if (!discovery_.FindAspiDevice(job)) return false;
          discovery_.SetPresent(true);
          queryAll();
        }
        ok = discovery_.QueryProduct(nor) && ok;  // a job of its own
        return true;
      });
  if (!found) return JobOutcome::NoDevice;
  return ok ? JobOutcome::Success : JobOutcome::DeviceFailure;
}

std::optional<PackageIdentity> AppCore::IdentifyDevice() {
  if (!discovery_.FindQuietly()) return std::nullopt;
  const DeviceIdentity& id = discovery_.identity();
  return PackageIdentity{id.hardwareId, id.instanceKeyPath, id.inquiryText};
}

DeviceList AppCore::ListDevices() {
  DeviceList list;
  ports_.session->Visit([&](DriveSession&) { list.drives = discovery_.MatchingDrives(); },
                        [&](AspiSession&) { list.targets = discovery_.MatchingTargets(); });
  return list;
}

bool AppCore::BuildPackage(PackageFiles& files, std::optional<PackageIdentity> identity) {
  if (!identity) {
    const DeviceIdentity& id = discovery_.identity();
    identity = PackageIdentity{id.hardwareId, id.instanceKeyPath, id.inquiryText};
  }
  presence_.BeginWork();  // its boxes and file dialogs dispatch device changes too
  const bool built = romsetter::BuildPackage(BuildPorts{files, log_, ports_.window, ports_.profile, fonts_, process_},
                                             model_.selections, *identity);
  presence_.EndWork();
  return built;
}

JobOutcome AppCore::WriteFontHeader() {
  if (!fonts_.FontListLoader(model_.selections)) return JobOutcome::Refused;
  // The list was read a moment ago, so a header that fails now failed to be written.
  if (!fonts_.HeaderReport(model_.selections)) return JobOutcome::FileFailed;
  return JobOutcome::Success;
}

void AppCore::ExtractPackageFiles(PackageFiles& files) {
  log_.Log("Extracting Data ...");
  // A copy, read or write that failed has told the user why; the log must not call it done.
  if (UnpackSelf(UnpackPorts{files, ports_.window, ports_.paths, process_, images_, &log_}, true) ==
      UnpackResult::Package) {
    log_.Log("Extracting Data ... OK");
  } else {
    log_.Log("Extracting Data ... failed");
  }
}

}  // namespace romsetter
