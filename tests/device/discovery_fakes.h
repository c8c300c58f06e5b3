#pragma once
// Doubles for the device suites: a settings file in memory that reads like the profile
// functions (trailing blanks dropped), a drive whose opens succeed for listed paths, one
// DeviceLink over the emulated device on either transport, and a run of every command.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/profile_store.h"
#include "device/device_link.h"
#include "device/scsi_transport.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

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
    Set(section, key, value);
    return true;
  }
  bool DeleteFile() override {
    values.clear();
    return true;
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    values[{section, key}] = value;
  }

  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> writes;
  int reads = 0;
};

class ScriptedDrive final : public DriveTransport {
 public:
  bool OpenDrive(const std::string& path, std::uint32_t& systemError) override {
    opens.push_back(path);
    open_ = successesLeft != 0 && std::find(openable.begin(), openable.end(), path) != openable.end();
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

// Every command once and expected to succeed: TEST UNIT READY, INQUIRY, the six queries, the four
// erases, page 0x00012345 numbered 7 written from a buffer of 0x5A and read back (firmware, then
// font), the mark of that page, the font end, the format and the restart.
inline void RunEveryCommand(DeviceLink& link) {
  InquiryReply inquiry{};
  std::uint8_t reply[kProductReplyLength];
  EXPECT_TRUE(link.TestUnitReady());
  EXPECT_TRUE(link.Inquiry(inquiry, link.adapterId, link.targetId).statusGood);
  const std::pair<VendorCode, std::uint32_t> queries[] = {
      {UPT_FW_GET_SIZE, kRegionReplyLength},   {UPT_BOOT_GET_SIZE, kRegionReplyLength},
      {FONT_GET_BLK_INFO, kRegionReplyLength}, {BACKUP_FW_GET_SIZE_32, kBackupReplyLength},
      {DEV_GET_VERSION, kVersionReplyLength},  {DEV_GET_PRODUCT, kProductReplyLength}};
  for (auto [code, length] : queries) EXPECT_TRUE(link.Query(code, reply, length).statusGood) << int{code};
  for (VendorCode c : {UPT_FW_ERASE_MEM, UPT_BOOT_ERASE_MEM, FONT_ERASE_FONT_BLKS, BACKUP_FW_ERASE_MEM}) {
    EXPECT_TRUE(link.SendErase(c).statusGood) << int{c};
  }
  link.pageBuffer.fill(0x5A);
  for (bool font : {false, true}) {
    PageBuffer page{};
    EXPECT_TRUE(link.WritePage(0x00012345, 7, font));
    EXPECT_TRUE(link.ReadPage(page.data(), 0x00012345, 7, font));
    EXPECT_EQ(page, link.pageBuffer);
  }
  EXPECT_TRUE(link.MarkErrorPage(0x00012345));
  EXPECT_TRUE(link.SendControl(FONT_END_OF_UPDATE));
  EXPECT_TRUE(link.SendFormat().statusGood);
  EXPECT_TRUE(link.SendControl(UPT_FW_RESTART_SYS));
}

struct LinkRig {
  explicit LinkRig(bool aspi, std::vector<EmulatorFault> faults = {})
      : drive(device), library({&device}), aspiTransport(library, 50),
        log(ScratchDir(aspi ? "link_aspi" : "link_pt") + "/r.log", window, [](std::uint32_t code, std::string& text) {
          text = Format("system says %u", code);
          return true;
        }) {
    device.config().faults = std::move(faults);
    if (aspi) {
      aspiTransport.BeginJob();
      aspiTransport.CreateEvent();
    } else {
      std::uint32_t error = 0;
      EXPECT_TRUE(drive.OpenDrive("\\\\.\\E:", error));
    }
    link = aspi ? std::make_unique<DeviceLink>(aspiTransport, log, window, selections)
                : std::make_unique<DeviceLink>(drive, log, window, selections);
  }
  std::vector<std::string> Logged() const { return StripNumbers(window.allStatus); }
  std::vector<std::string> Commands() const {
    std::vector<std::string> names;
    for (const TraceEntry& e : device.trace()) names.push_back(e.command);
    return names;
  }
  void Clear() {
    window.allStatus.clear();
    device.ClearTrace();
  }

  EmulatedDevice device;
  EmulatedTransport drive;
  EmulatedAspiLibrary library;
  AspiTransport aspiTransport;
  RecordingWindow window;
  ActivityLog log;
  Selections selections;
  std::unique_ptr<DeviceLink> link;
};

}  // namespace romsetter::test
