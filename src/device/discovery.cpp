#include "device/discovery.h"

#include <cstdint>
#include <utility>

#include "base/format.h"

namespace romsetter {

namespace {

constexpr std::uint32_t kAccessDenied = 5;  // ERROR_ACCESS_DENIED: a drive needs an administrator

// The firmware query of a probe compares with one big-block page, so it cannot refuse for
// want of an image.
ImagePageCounts OneFirmwarePage() {
  ImagePageCounts pages;
  pages.bigImagePages = 1;
  return pages;
}

}  // namespace

DeviceDiscovery::DeviceDiscovery(DiscoveryPorts ports)
    : p_(std::move(ports)), ntSearch_(p_.registry), scan_(p_.link, p_.store, p_.process, p_.log) {}

// ---- Pass-through ----

bool DeviceDiscovery::OpenDev(bool showMessage) {
  return p_.session.Visit([&](DriveSession& s) { return OpenDrive(s, showMessage); },
                          [](AspiSession&) { return false; });
}

bool DeviceDiscovery::OpenDrive(DriveSession& session, bool showMessage) {
  DriveTransport& drive = session.drive();
  DriveLocator& locator = session.locator() != nullptr ? *session.locator() : ntSearch_;
  log().Log("OpenDev() to Get InDisk Name");
  drive.CloseDrive();

  bool opened = false;
  bool denied = false;
  std::optional<std::string> path;
  const std::optional<LocatedDrive> found = locator.Locate(drive, p_.store, p_.process, log());
  if (const DeviceIdentity* searched = locator.SearchedIdentity()) identity_ = *searched;
  if (found) {
    inDiskName_ = found->inDiskName;
    identity_ = found->identity;
    path = found->devicePath;
  }
  if (path) {
    log().Logf("01 CreatFile(%s)", path->c_str());
    std::uint32_t systemError = 0;
    opened = drive.OpenDrive(*path, systemError);
    if (!opened) log().Log("01 CreatFile() ERROR!!");
    denied = !opened && systemError == kAccessDenied;
  } else if ((path = locator.DeniedPath())) {
    // The search found the device's drive, but this user may not open it.
    denied = true;
  }
  if (denied) log().Logf("Access to %s is denied: run the program as administrator!!", path->c_str());
  accessDenied_ = denied;

  p_.progress.FlashCaption(true);
  if (opened) {
    log().Logf("\"%s\" is got for InDisk!!", inDiskName_.c_str());
  } else {
    log().Log("Lost InDisk Name!!");
    if (showMessage && denied) {
      p_.messages.ShowMessage(kAccessDeniedMessage, "F/W Upgrade", MessageIcon::Error);
    } else if (showMessage) {
      log().Log("The device opened failure!!");
      p_.messages.ShowMessage("The device opened failure!!,please check the connection!", "F/W Upgrade",
                              MessageIcon::Error);
    }
  }
  p_.progress.FlashCaption(false);
  return opened;
}

std::optional<char> DeviceDiscovery::FindInDisk() {
  return p_.session.Visit(
      [&](DriveSession& s) {
        const std::optional<char> letter = ntSearch_.FindInDisk(s.drive(), p_.store, p_.process, log());
        identity_ = ntSearch_.identity();
        return letter;
      },
      [](AspiSession&) { return std::optional<char>(); });
}

std::vector<char> DeviceDiscovery::MatchingDrives() {
  return p_.session.Visit([&](DriveSession& s) { return ntSearch_.MatchingDrives(s.drive(), p_.store, p_.process); },
                          [](AspiSession&) { return std::vector<char>(); });
}

// ---- ASPI ----

bool DeviceDiscovery::ScanAspiTargets() {
  return p_.session.Visit([](DriveSession&) { return false; },
                          [&](AspiSession& s) { return scan_.Scan(s.aspi(), identity_); });
}

bool DeviceDiscovery::MatchInquiry(const Reply<InquiryReply>& reply, ScsiTarget address) {
  AspiTransport* aspi = p_.session.Visit([](DriveSession&) -> AspiTransport* { return nullptr; },
                                         [](AspiSession& s) -> AspiTransport* { return &s.aspi(); });
  return scan_.MatchInquiry(reply, address, aspi, identity_);
}

std::vector<ScsiTarget> DeviceDiscovery::MatchingTargets() {
  return p_.session.Visit([](DriveSession&) { return std::vector<ScsiTarget>(); },
                          [&](AspiSession& s) { return scan_.MatchingTargets(s); });
}

DeviceDiscovery::AspiProbe DeviceDiscovery::RunAspiProbe(AspiSession& session, bool flashType, bool nor) {
  AspiProbe probe;
  AspiJob job(session);
  if (FindAspiDevice(job)) {
    probe.found = true;
    probe.status = p_.memory.GetDeviceStatus(nor);
    if (flashType) probe.flashQuery = p_.memory.GetMemInfo(RegionQuery::Firmware, OneFirmwarePage(), nor);
  }
  return probe;
}

bool DeviceDiscovery::ProbeAspi(bool flashType, bool nor) {
  return p_.session.Visit([](DriveSession&) { return false; },
                          [&](AspiSession& s) { return RunAspiProbe(s, flashType, nor).status; });
}

// ---- Both ----

bool DeviceDiscovery::FindQuietly() {
  return p_.session.Visit(
      [&](DriveSession& s) {
        const bool found = OpenDrive(s, false);
        s.drive().CloseDrive();
        return found;
      },
      [&](AspiSession& s) {
        AspiJob job(s);
        return FindAspiDevice(job);
      });
}

bool DeviceDiscovery::ProbeDevice(bool queryProduct, bool nor) {
  return p_.session.Visit(
      [&](DriveSession& s) {
        present_ = OpenDrive(s, false);
        if (present_ && queryProduct) QueryDriveProduct(s);
        s.drive().CloseDrive();
        return present_;
      },
      [&](AspiSession& s) {
        present_ = RunAspiProbe(s, false, nor).status;
        // On this family one job asks for both the version and the product.
        if (present_ && queryProduct) QueryAspiProduct(s, nor);
        return present_;
      });
}

DeviceDiscovery::FlashTypeProbe DeviceDiscovery::ProbeFlashType(bool nor) {
  return p_.session.Visit(
      [&](DriveSession& s) {
        if (!OpenDrive(s, false)) return FlashTypeProbe::NoDevice;
        const bool queried = p_.memory.GetMemInfo(RegionQuery::Firmware, OneFirmwarePage(), nor);
        s.drive().CloseDrive();
        return queried ? FlashTypeProbe::Queried : FlashTypeProbe::QueryFailed;
      },
      [&](AspiSession& s) {
        const AspiProbe probe = RunAspiProbe(s, true, nor);
        if (!probe.found) return FlashTypeProbe::NoDevice;
        return probe.flashQuery ? FlashTypeProbe::Queried : FlashTypeProbe::QueryFailed;
      });
}

void DeviceDiscovery::SetVersionLine(const std::string& line) {
  versionLine_ = line;
  if (p_.versionLineChanged) p_.versionLineChanged(versionLine_);
}

bool DeviceDiscovery::QueryProduct(bool nor) {
  if (!present_) return false;
  return p_.session.Visit([&](DriveSession& s) { return QueryDriveProduct(s); },
                          [&](AspiSession& s) { return QueryAspiProduct(s, nor); });
}

bool DeviceDiscovery::QueryAspiProduct(AspiSession& session, bool nor) {
  // A job of its own: the device is addressed afresh by the scan of the status probe.
  std::string line = versionLine_;
  bool learnt = false;  // the version and the product both came back
  {
    AspiJob job(session);
    if (FindAspiDevice(job) && p_.memory.GetDeviceStatus(nor)) {
      const auto version = p_.link.QueryProduct(ProductQuery::Version);
      if (version.ok) {
        line = VersionLine(version.value);
        const auto product = p_.link.QueryProduct(ProductQuery::Product);
        if (product.ok) line = WithProduct(line, product.value);
        learnt = product.ok;
      } else {
        line = "Checking product is not supported";
      }
    }
  }
  SetVersionLine(line);
  return learnt;
}

bool DeviceDiscovery::QueryDriveProduct(DriveSession& session) {
  // Nothing was asked of the device, so nothing can be reported as learnt.
  if (!session.drive().DriveOpen()) return false;
  const auto version = p_.link.QueryProduct(ProductQuery::Version);
  if (!version.ok) {
    SetVersionLine("Checking product is not supported.");
    return false;
  }
  SetVersionLine(VersionLine(version.value));
  const auto product = p_.link.QueryProduct(ProductQuery::Product);
  SetVersionLine(product.ok ? WithProduct(versionLine_, product.value) : "Checking product is not supported.");
  return product.ok;
}

}  // namespace romsetter
