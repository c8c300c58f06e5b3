#include "device/linux/sysfs_discovery.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "base/text.h"

namespace romsetter {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kVendorWidth = 8;
constexpr std::size_t kModelWidth = 16;
constexpr std::size_t kRevWidth = 4;
constexpr std::size_t kGroupBuffer = 4096;

// At most `limit` bytes of a file; false when it does not open.
bool ReadBounded(const fs::path& path, std::size_t limit, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

// A sysfs attribute without its line end; empty when missing.
std::string Attribute(const fs::path& path) {
  std::string text;
  if (!ReadBounded(path, SysfsDriveLocator::kTextLimit, text)) return "";
  const std::size_t end = text.find_first_of("\n\0", 0, 2);
  if (end != std::string::npos) text.resize(end);
  return text;
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// The number of "sgN", so sg10 comes after sg9; names of another form go last.
unsigned long SgNumber(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sg") != 0) return ~0UL;
  unsigned long n = 0;
  for (std::size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000000UL) return ~0UL;
    n = n * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return n;
}

// Fills the USB ids from the nearest ancestor of `device` that has them, staying inside sysfs.
void ReadUsbAncestor(const fs::path& device, const fs::path& root, SgDevice& out) {
  std::error_code ec;
  const fs::path top = fs::canonical(root, ec);
  if (ec) return;
  fs::path at = fs::canonical(device, ec);
  if (ec) return;
  const std::string topText = top.string();
  while (at.has_relative_path() && at.string().compare(0, topText.size(), topText) == 0 && at != top) {
    if (fs::exists(at / "idVendor", ec) && fs::exists(at / "idProduct", ec)) {
      out.idVendor = Attribute(at / "idVendor");
      out.idProduct = Attribute(at / "idProduct");
      out.serial = Attribute(at / "serial");
      return;
    }
    at = at.parent_path();
  }
}

std::string Underscored(std::string text) {
  for (char& c : text) {
    if (c == ' ' || c == ',' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '_';
  }
  return text;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The source field of a mounts line, its octal escapes ("\040" for a blank) undone.
std::string Unescaped(const std::string& field) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) && octal(field[i + 3])) {
      out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::string GroupOf(const std::string& node) {
  struct stat st;
  if (::stat(node.c_str(), &st) != 0) return "unknown";
  struct group entry;
  struct group* found = nullptr;
  std::vector<char> buffer(kGroupBuffer);
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return Format("%u", static_cast<unsigned>(st.st_gid));
}

// The text matches by prefix, as the ASPI scan compares; the hardware id whole, ignoring case,
// as the NT search does.  An empty value matches nothing.
bool Matches(const SgDevice& device, const std::vector<std::string>& ids, const DeviceIdentity& wanted) {
  if (!wanted.inquiryText.empty() && device.inquiryText.compare(0, wanted.inquiryText.size(), wanted.inquiryText) == 0) {
    return true;
  }
  if (wanted.hardwareId.size() <= std::strlen("USBSTOR\\")) return false;
  return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) { return EqualsNoCase(id, wanted.hardwareId); });
}

}  // namespace

std::vector<SgDevice> ScanScsiGeneric(const SysfsPaths& paths) {
  std::vector<SgDevice> devices;
  const fs::path classDir = fs::path(paths.sysfsRoot) / "class" / "scsi_generic";
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  if (ec) return devices;
  for (const fs::directory_entry& entry : it) {
    SgDevice d;
    d.name = entry.path().filename().string();
    const fs::path device = entry.path() / "device";
    if (!fs::is_directory(device, ec)) continue;  // a class entry without its device
    d.node = (fs::path(paths.devRoot) / d.name).string();
    d.inquiryText = Padded(Attribute(device / "vendor"), kVendorWidth) + Padded(Attribute(device / "model"), kModelWidth) +
                    Padded(Attribute(device / "rev"), kRevWidth);
    fs::directory_iterator block(device / "block", ec);
    if (!ec) {
      for (const fs::directory_entry& disk : block) {
        d.blockNode = (fs::path(paths.devRoot) / disk.path().filename()).string();
        // Its partitions are the folders of the disk that carry a "partition" number.
        fs::directory_iterator parts(disk.path(), ec);
        for (; !ec && parts != fs::directory_iterator(); parts.increment(ec)) {
          if (fs::exists(parts->path() / "partition", ec)) {
            d.partitionNodes.push_back((fs::path(paths.devRoot) / parts->path().filename()).string());
          }
        }
        std::sort(d.partitionNodes.begin(), d.partitionNodes.end());
        break;
      }
    }
    ec.clear();
    ReadUsbAncestor(device, paths.sysfsRoot, d);
    devices.push_back(std::move(d));
  }
  std::sort(devices.begin(), devices.end(), [](const SgDevice& a, const SgDevice& b) {
    const unsigned long na = SgNumber(a.name), nb = SgNumber(b.name);
    return na != nb ? na < nb : a.name < b.name;
  });
  return devices;
}

std::vector<std::string> UsbStorHardwareIds(const std::string& inquiryText) {
  const std::string text = Padded(inquiryText, kVendorWidth + kModelWidth + kRevWidth);
  const std::string vendor = Underscored(TrimRight(text.substr(0, kVendorWidth)));
  const std::string model = Underscored(TrimRight(text.substr(kVendorWidth, kModelWidth)));
  const std::string rev = Underscored(TrimRight(text.substr(kVendorWidth + kModelWidth)));
  const std::string instance = Format("USBSTOR\\Disk&Ven_%s&Prod_%s", vendor.c_str(), model.c_str());
  return {Format("USBSTOR\\Disk%s", Underscored(text).c_str()), Format("%s&Rev_%s", instance.c_str(), rev.c_str()),
          instance};
}

bool SameNode(const std::string& a, const std::string& b) {
  struct stat ia {}, ib {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &ia) != 0 || ::stat(b.c_str(), &ib) != 0) return !a.empty() && a == b;
  const bool deviceA = S_ISBLK(ia.st_mode) || S_ISCHR(ia.st_mode);
  const bool deviceB = S_ISBLK(ib.st_mode) || S_ISCHR(ib.st_mode);
  if (deviceA || deviceB) return (ia.st_mode & S_IFMT) == (ib.st_mode & S_IFMT) && ia.st_rdev == ib.st_rdev;
  return ia.st_dev == ib.st_dev && ia.st_ino == ib.st_ino;
}

const SgDevice* DeviceOfNode(const std::vector<SgDevice>& devices, const std::string& node) {
  for (const SgDevice& d : devices) {
    if (SameNode(node, d.node) || SameNode(node, d.blockNode) ||
        std::any_of(d.partitionNodes.begin(), d.partitionNodes.end(),
                    [&](const std::string& part) { return SameNode(node, part); })) {
      return &d;
    }
  }
  return nullptr;
}

std::vector<std::string> MountsOf(const std::string& blockNode, const std::string& mountsText,
                                  const std::vector<std::string>& partitions) {
  std::vector<std::string> found;
  if (blockNode.empty()) return found;
  std::size_t start = 0;
  while (start < mountsText.size()) {
    std::size_t end = mountsText.find('\n', start);
    if (end == std::string::npos) end = mountsText.size();
    const std::string line = mountsText.substr(start, end - start);
    start = end + 1;
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string source = Unescaped(line.substr(0, space));
    const bool byName = source.compare(0, blockNode.size(), blockNode) == 0 &&
                        std::all_of(source.begin() + static_cast<std::ptrdiff_t>(blockNode.size()), source.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    const bool byIdentity = !source.empty() && source[0] == '/' &&
                            (SameNode(source, blockNode) ||
                             std::any_of(partitions.begin(), partitions.end(),
                                         [&](const std::string& part) { return SameNode(source, part); }));
    if (!byName && !byIdentity) continue;
    const std::size_t targetEnd = line.find(' ', space + 1);
    const std::string target = Unescaped(line.substr(space + 1, targetEnd == std::string::npos ? std::string::npos
                                                                                                 : targetEnd - space - 1));
    found.push_back(Format("%s on %s", source.c_str(), target.c_str()));
  }
  return found;
}

std::string PermissionAdvice(const std::string& node, const SgDevice* device) {
  const std::string group = GroupOf(node);
  const bool block = device != nullptr ? node == device->blockNode : fs::path(node).filename().string().rfind("sd", 0) == 0;
  std::string match;
  if (device != nullptr && !device->idVendor.empty() && !device->idProduct.empty()) {
    match = Format("ATTRS{idVendor}==\"%s\", ATTRS{idProduct}==\"%s\"", device->idVendor.c_str(),
                   device->idProduct.c_str());
  } else {
    match = Format("KERNEL==\"%s\"", fs::path(node).filename().string().c_str());
  }
  return Format("No permission to open %s (group %s): join group %s, or add a udev rule such as "
                "SUBSYSTEM==\"%s\", %s, GROUP=\"plugdev\", MODE=\"0660\" (docs/linux.md).",
                node.c_str(), group.c_str(), group.c_str(), block ? "block" : "scsi_generic", match.c_str());
}

SysfsDriveLocator::SysfsDriveLocator(SysfsPaths paths, std::string explicitNode, bool force)
    : paths_(std::move(paths)), explicitNode_(std::move(explicitNode)), force_(force) {}

namespace {

// The entries to try, each with its key for the log.
std::vector<std::pair<std::string, DeviceIdentity>> EntriesToTry(ProfileStore& store, const ProcessState& process) {
  std::vector<std::pair<std::string, DeviceIdentity>> entries;
  if (process.InPackageMode()) {
    entries.emplace_back("package", IdentificationEntries::Preset(process));
  } else {
    const IdentificationEntries stored(store);
    for (int n = 0;; ++n) {
      IdentificationEntry entry = stored.Entry(n);
      if (entry.identity.inquiryText.empty() && entry.hardwareValue.empty()) break;
      entries.emplace_back(entry.key, std::move(entry.identity));
    }
  }
  return entries;
}

const std::pair<std::string, DeviceIdentity>* EntryMatching(
    const SgDevice& device, const std::vector<std::pair<std::string, DeviceIdentity>>& entries) {
  const std::vector<std::string> ids = UsbStorHardwareIds(device.inquiryText);
  for (const auto& entry : entries) {
    if (Matches(device, ids, entry.second)) return &entry;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> SysfsDriveLocator::MatchingNodes(ProfileStore& store, const ProcessState& process) const {
  const auto entries = EntriesToTry(store, process);
  std::vector<std::string> nodes;
  for (const SgDevice& device : ScanScsiGeneric(paths_)) {
    if (EntryMatching(device, entries) != nullptr) nodes.push_back(device.node);
  }
  return nodes;
}

std::optional<LocatedDrive> SysfsDriveLocator::Discover(const std::vector<SgDevice>& devices, ProfileStore& store,
                                                        const ProcessState& process, LogSink& log,
                                                        const SgDevice*& chosen) {
  const auto entries = EntriesToTry(store, process);
  for (const auto& [key, id] : entries) {
    log.Logf("SET HardwareID:\"%s\" (%s)", id.hardwareId.c_str(), key.c_str());
    log.Logf("Sets:\"%s\" len=%d", id.inquiryText.c_str(), static_cast<int>(id.inquiryText.size()));
  }

  std::vector<std::pair<const SgDevice*, const std::pair<std::string, DeviceIdentity>*>> matched;
  for (const SgDevice& device : devices) {
    log.Logf("Get %s:\"%s\" len=%d USB %s:%s serial \"%s\"", device.node.c_str(), device.inquiryText.c_str(),
             static_cast<int>(device.inquiryText.size()), device.idVendor.c_str(), device.idProduct.c_str(),
             device.serial.c_str());
    const auto* entry = EntryMatching(device, entries);
    // One of several devices upgraded at once: the others are some other job's.
    if (entry != nullptr && (onlyNode_.empty() || device.node == onlyNode_)) matched.emplace_back(&device, entry);
  }
  if (matched.empty()) {
    log.Logf("No SCSI generic device matches the identification entries (%d looked at).",
             static_cast<int>(devices.size()));
    return std::nullopt;
  }
  if (matched.size() > 1) {
    std::string list;
    for (const auto& m : matched) {
      list += Format("%s%s (%s, %s)", list.empty() ? "" : ", ", m.first->node.c_str(),
                     m.first->blockNode.empty() ? "no disk" : m.first->blockNode.c_str(), m.second->first.c_str());
    }
    log.Logf("%d devices match: %s. Name the one to upgrade with --device.", static_cast<int>(matched.size()),
             list.c_str());
    return std::nullopt;
  }
  chosen = matched.front().first;
  log.Logf("Bingo %s (%s)!", chosen->node.c_str(), matched.front().second->first.c_str());
  return LocatedDrive{chosen->node, chosen->node, matched.front().second->second};
}

bool SysfsDriveLocator::MountCheckPasses(const std::string& blockNode, const std::vector<std::string>& partitions,
                                         LogSink& log) {
  if (paths_.mountsFile.empty() || blockNode.empty()) return true;
  std::string text;
  if (!ReadBounded(paths_.mountsFile, kMountsLimit, text)) {
    if (force_) return true;
    log.Logf("%s cannot be read, so whether %s is mounted is unknown: give --force to go on.",
             paths_.mountsFile.c_str(), blockNode.c_str());
    return false;
  }
  const std::vector<std::string> mounts = MountsOf(blockNode, text, partitions);
  if (mounts.empty()) return true;
  std::string list;
  for (const std::string& m : mounts) list += (list.empty() ? "" : ", ") + m;
  if (force_) {
    log.Logf("%s is mounted (%s); going on as --force asks.", blockNode.c_str(), list.c_str());
    return true;
  }
  log.Logf("%s is mounted (%s): unmount it first, or give --force to write under its file system.", blockNode.c_str(),
           list.c_str());
  return false;
}

std::optional<LocatedDrive> SysfsDriveLocator::Locate(DriveTransport& drive, ProfileStore& store,
                                                      const ProcessState& process, LogSink& log) {
  const std::vector<SgDevice> devices = ScanScsiGeneric(paths_);
  const SgDevice* chosen = nullptr;
  std::optional<LocatedDrive> found;
  std::string blockNode;
  if (explicitNode_.empty()) {
    found = Discover(devices, store, process, log, chosen);
    if (!found) return std::nullopt;
    blockNode = chosen->blockNode;
  } else {
    // Any spelling of the generic node, the disk or one of its partitions is that device.
    chosen = DeviceOfNode(devices, explicitNode_);
    found = LocatedDrive{explicitNode_, explicitNode_, {}};
    if (chosen != nullptr) {
      found->identity.inquiryText = chosen->inquiryText;
      found->identity.hardwareId = UsbStorHardwareIds(chosen->inquiryText).front();
      blockNode = chosen->blockNode;
      log.Logf("Use %s as given: \"%s\" USB %s:%s", explicitNode_.c_str(), chosen->inquiryText.c_str(),
               chosen->idVendor.c_str(), chosen->idProduct.c_str());
    } else {
      log.Logf("Use %s as given.", explicitNode_.c_str());
      // A disk or partition node names its disk even when sysfs says nothing of it: the
      // name the node resolves to, without a partition's number.
      std::error_code ec;
      const fs::path real = fs::weakly_canonical(explicitNode_, ec);
      std::string name = (ec ? fs::path(explicitNode_) : real).filename().string();
      if (name.rfind("sd", 0) == 0) {
        while (name.size() > 3 && name.back() >= '0' && name.back() <= '9') name.pop_back();
        blockNode = ((ec ? fs::path(explicitNode_) : real).parent_path() / name).string();
      }
    }
  }
  if (!MountCheckPasses(blockNode, chosen != nullptr ? chosen->partitionNodes : std::vector<std::string>{}, log)) {
    return std::nullopt;
  }

  std::uint32_t error = 0;
  if (!drive.OpenDrive(found->devicePath, error)) {
    if (error == EACCES || error == EPERM) {
      log.Log(PermissionAdvice(found->devicePath, chosen));
    } else if (error == EBUSY) {
      log.Logf("%s is busy: another program (another romsetter-cli, or a mounted file system) has it open. Let it "
               "finish, then run again.",
               found->devicePath.c_str());
    } else {
      log.Logf("%s does not open: %s", found->devicePath.c_str(), std::strerror(static_cast<int>(error)));
    }
    return std::nullopt;
  }
  drive.CloseDrive();
  return found;
}

}  // namespace romsetter
