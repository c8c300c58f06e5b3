#pragma once
// Doubles for the device suites: settings in memory that note their reads and writes, a
// drive whose opens succeed for listed paths, and the discovery rig.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "base/profile_store.h"
#include "device/aspi_transport.h"
#include "device/device_link.h"
#include "device/discovery.h"
#include "device/scsi_transport.h"
#include "support/link_rig.h"

namespace romsetter::test {

// The product's in-memory settings, noting each read and write so a suite can tell which
// entries were asked for and which were written back.
class RecordingProfileStore final : public ProfileStore {
 public:
  std::string Read(const std::string& section, const std::string& key, const std::string& fallback) override {
    ++reads;
    return inner.Read(section, key, fallback);
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    writes.push_back(section + "/" + key + "=" + value);
    return inner.Write(section, key, value);
  }
  bool DeleteFile() override { return inner.DeleteFile(); }
  // An entry the file held before the test, neither counted nor noted.
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    inner.Write(section, key, value);
  }

  InMemoryProfileStore inner;
  std::vector<std::string> writes;
  int reads = 0;
};

class ScriptedDrive final : public DriveTransport {
 public:
  bool OpenDrive(const std::string& path, std::uint32_t& systemError) override {
    opens.push_back(path);
    open_ = successesLeft != 0 && std::find(openable.begin(), openable.end(), path) != openable.end();
    if (open_ && successesLeft > 0) --successesLeft;
    systemError = open_ ? 0 : refusal;
    return open_;
  }
  void CloseDrive() override {
    closes += open_ ? 1 : 0;
    open_ = false;
  }
  bool DriveOpen() const override { return open_; }

  std::vector<std::string> openable;
  int successesLeft = -1;  // after this many successful opens every open fails (-1: never)
  std::uint32_t refusal = 2;  // the error of a failed open (ERROR_FILE_NOT_FOUND)
  std::vector<std::string> opens;
  int closes = 0;

 protected:
  ScsiResult ExecuteDirect(const ScsiRequest&, std::uint8_t*) override { return ScsiResult{}; }

 private:
  bool open_ = false;
};

// Discovery over `session`, logging to a recording window; the rig of every discovery suite
// (the ASPI scan, the NT search over a registry in memory or wine's, the product query).
// Derive from it after the parts it is given, so they are built first.
struct DiscoveryOver {
  DiscoveryOver(DeviceSession& session, ProfileStore& store, DeviceRegistry& registry, const std::string& logFile)
      : log(logFile, window), link(session.Transport(), log), memory(link, log, map),
        discovery(DiscoveryPorts{link, memory, session, store, process, registry, log, window, window,
                                 [this](const std::string& line) { window.SetVersionLine(line); }}) {}
  std::vector<std::string> Logged() const { return StripNumbers(window.allStatus); }

  RecordingWindow window;
  ActivityLog log;
  DeviceLink link;
  MemoryMap map;
  MemoryQuery memory;
  ProcessState process;
  DeviceDiscovery discovery;
};

}  // namespace romsetter::test
