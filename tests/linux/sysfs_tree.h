#pragma once
// A sysfs tree, its /dev nodes and a mounts file built in a scratch folder, laid out as the
// kernel lays out a USB disk: the SCSI device under its USB interface, its disk under block/,
// and class/scsi_generic/sgN linking back to it.
#include <filesystem>
#include <map>
#include <string>

#include "device/linux/sysfs_discovery.h"
#include "support/test_support.h"

namespace romsetter::test {

struct SysfsTree {
  explicit SysfsTree(const std::string& name) : root(ScratchDir(name)) {
    paths.sysfsRoot = root + "/sys";
    paths.devRoot = root + "/dev";
    paths.mountsFile = root + "/mounts";
    std::filesystem::create_directories(paths.sysfsRoot + "/class/scsi_generic");
    std::filesystem::create_directories(paths.devRoot);
    WriteFile(paths.mountsFile, "proc /proc proc rw 0 0\n/dev/sda1 / ext4 rw 0 0\n");
  }

  // sgN for host `host`; an empty idVendor puts it under no USB device (an internal disk).
  void Add(int host, const std::string& vendor, const std::string& model, const std::string& rev,
           const std::string& idVendor = "1b3f", const std::string& idProduct = "2002", const std::string& disk = "") {
    namespace fs = std::filesystem;
    const std::string sg = Format("sg%d", host);
    std::string parent = paths.sysfsRoot + "/devices/pci0000:00/0000:00:14.0";
    if (!idVendor.empty()) {
      parent += Format("/usb1/1-%d", host);
      fs::create_directories(parent);
      WriteFile(parent + "/idVendor", idVendor + "\n");
      WriteFile(parent + "/idProduct", idProduct + "\n");
      WriteFile(parent + "/serial", Format("SN%04d\n", host));
      parent += Format("/1-%d:1.0", host);
    }
    const std::string scsi = parent + Format("/host%d/target%d:0:0/%d:0:0:0", host, host, host);
    fs::create_directories(scsi + "/scsi_generic/" + sg);
    WriteFile(scsi + "/vendor", vendor + "\n");
    WriteFile(scsi + "/model", model + "\n");
    WriteFile(scsi + "/rev", rev + "\n");
    fs::create_symlink(Format("../../../%d:0:0:0", host), scsi + "/scsi_generic/" + sg + "/device");
    fs::create_directory_symlink(fs::relative(scsi + "/scsi_generic/" + sg, paths.sysfsRoot + "/class/scsi_generic"),
                                 paths.sysfsRoot + "/class/scsi_generic/" + sg);
    WriteFile(paths.devRoot + "/" + sg, "");
    if (!disk.empty()) {
      fs::create_directories(scsi + "/block/" + disk);
      WriteFile(paths.devRoot + "/" + disk, "");
      disks[disk] = scsi + "/block/" + disk;
    }
  }
  // Partition `number` of a disk added before, in sysfs and /dev.
  void AddPartition(const std::string& disk, int number) {
    const std::string name = Format("%s%d", disk.c_str(), number);
    std::filesystem::create_directories(disks.at(disk) + "/" + name);
    WriteFile(disks.at(disk) + "/" + name + "/partition", Format("%d\n", number));
    WriteFile(paths.devRoot + "/" + name, "");
  }
  void Mount(const std::string& line) { WriteFile(paths.mountsFile, ReadFile(paths.mountsFile) + line + "\n"); }
  std::string Node(const std::string& name) const { return paths.devRoot + "/" + name; }

  std::string root;
  SysfsPaths paths;
  std::map<std::string, std::string> disks;  // name -> its sysfs folder
};

}  // namespace romsetter::test
