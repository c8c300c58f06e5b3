#pragma once
// Doubles for the discovery suites: a settings file in memory that reads like the profile
// functions (trailing blanks dropped), and a drive whose opens succeed for listed paths.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/profile_store.h"
#include "device/scsi_transport.h"

namespace romsetter::test {

class MemoryProfileStore final : public ProfileStore {
 public:
  std::string Read(const std::string& section, const std::string& key, const std::string& fallback) override {
    ++reads;
    const auto it = values.find({section, key});
    if (it == values.end()) return fallback;
    std::string v = it->second;
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    writes.push_back(section + "/" + key + "=" + value);
    values[{section, key}] = value;
    return true;
  }
  bool DeleteFile() override {
    ++deletes;
    values.clear();
    return true;
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    values[{section, key}] = value;
  }

  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> writes;
  int reads = 0;
  int deletes = 0;
};

class ScriptedDrive final : public DriveTransport {
 public:
  bool OpenDrive(const std::string& path, std::uint32_t& systemError) override {
    opens.push_back(path);
    open_ = false;
    for (const std::string& p : openable) open_ = open_ || p == path;
    if (open_ && successesLeft == 0) open_ = false;
    if (open_ && successesLeft > 0) --successesLeft;
    systemError = open_ ? 0 : 2;
    return open_;
  }
  void CloseDrive() override {
    closes += open_ ? 1 : 0;
    open_ = false;
  }
  bool DriveOpen() const override { return open_; }
  ScsiResult Execute(const ScsiRequest&) override { return ScsiResult{}; }

  std::vector<std::string> openable;
  int successesLeft = -1;  // after this many successful opens every open fails (-1: never)
  std::vector<std::string> opens;
  int closes = 0;

 private:
  bool open_ = false;
};

}  // namespace romsetter::test
