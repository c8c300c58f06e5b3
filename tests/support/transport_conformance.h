#pragma once
// What every ScsiTransport must do with a command, checked at the emulated device.  Instantiate
// with a maker type:
//   Maker(deviceLines): a transport ready for commands (drive open, or ASPI job begun and the
//     device address set to kConformanceTarget) over the device of ConformanceScenario(deviceLines);
//   ScsiTransport& transport();
//   std::vector<std::string> Received(): one "NAME 0xPAGEADDR pageNumber length" per command
//     that reached the device;
//   static constexpr TransportFamily kFamily: whose rules the results follow where the two
//     families differ by design (refusals, error codes, short replies).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "device/scsi_transport.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_device.h"
#include "emulator/emulated_transport.h"

namespace romsetter::test {

// Not 0/0, so an ASPI transport that ignores the device address finds no device.
constexpr ScsiTarget kConformanceTarget{1, 3};

inline std::string ConformanceScenario(const std::string& deviceLines) {
  return "adapters 2\n[device 1 3]\n" + deviceLines;
}

inline EmulatedDeviceConfig ConformanceDevice(const std::string& deviceLines) {
  EmulatorConfig config;
  std::string error;
  EXPECT_TRUE(ParseEmulatorConfig(ConformanceScenario(deviceLines), "conformance", config, error)) << error;
  return config.devices.empty() ? EmulatedDeviceConfig{} : config.devices[0];
}

// The trace of a device held in this process, in the emulator library's line format.
inline std::vector<std::string> ReceivedBy(const EmulatedDevice& device) {
  std::vector<std::string> lines;
  for (const TraceEntry& e : device.trace()) {
    char text[64];
    std::snprintf(text, sizeof text, " 0x%08X %u %u", static_cast<unsigned>(e.pageAddress),
                  static_cast<unsigned>(e.pageNumber), static_cast<unsigned>(e.length));
    lines.push_back(e.command + text);
  }
  return lines;
}

using ConformancePage = std::array<std::uint8_t, kPageSize>;

inline ConformancePage Filled(std::uint8_t value) {
  ConformancePage page;
  page.fill(value);
  return page;
}

inline ScsiRequest ConformanceCommand(std::uint8_t code, DataDirection direction, std::uint32_t length,
                                      std::uint32_t pageAddress = 0, std::uint32_t pageNumber = 0) {
  ScsiRequest r;
  r.cdb[0] = kVendorOpcode;
  r.cdb[1] = code;
  WritePageParam(&r.cdb[3], pageAddress);
  WritePageParam(&r.cdb[7], pageNumber);
  r.direction = direction;
  r.length = length;
  return r;
}

inline bool Good(const ScsiResult& r) { return r.delivered && r.statusGood && r.systemError == 0; }

template <typename Maker>
class TransportConformance : public ::testing::Test {
 protected:
  static constexpr bool kAspi = Maker::kFamily == TransportFamily::Aspi;
};

TYPED_TEST_SUITE_P(TransportConformance);

TYPED_TEST_P(TransportConformance, PagesTravelAsTheCallersBytesAndReadsFillOnlyTheirLength) {
  TypeParam rig("");
  ScsiTransport& t = rig.transport();
  EXPECT_EQ(t.Family(), TypeParam::kFamily);
  ConformancePage written;
  for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<std::uint8_t>(i * 7 + 3);
  ScsiRequest write = ConformanceCommand(UPT_WRITE_PAGE, DataDirection::Out, kPageSize, 0x1234, 5);
  write.dataOut = written.data();
  EXPECT_TRUE(Good(t.Execute(write)));

  ConformancePage whole = Filled(0xEE);
  ConformancePage part = Filled(0xEE);
  ScsiRequest read = ConformanceCommand(UPT_READ_PAGE, DataDirection::In, kPageSize, 0x1234, 5);
  read.dataIn = whole.data();
  EXPECT_TRUE(Good(t.Execute(read)));
  EXPECT_EQ(whole, written);
  read.dataIn = part.data();
  read.length = 16;
  EXPECT_TRUE(Good(t.Execute(read)));
  ConformancePage expected = Filled(0xEE);
  std::copy_n(written.begin(), 16, expected.begin());
  EXPECT_EQ(part, expected);
  EXPECT_EQ(rig.Received(), (std::vector<std::string>{"UPT_WRITE_PAGE 0x00001234 5 512",
                                                      "UPT_READ_PAGE 0x00001234 5 512", "UPT_READ_PAGE 0x00001234 5 16"}));
}

TYPED_TEST_P(TransportConformance, CdbBytesAndLengthReachTheDeviceUnchanged) {
  TypeParam rig("");
  ScsiTransport& t = rig.transport();
  ScsiRequest ready;  // test unit ready: no data phase
  ready.cdbLength = 6;
  EXPECT_TRUE(Good(t.Execute(ready)));
  // Every byte of both page parameters differs, and the device decodes them back.
  ConformancePage page{};
  ScsiRequest read = ConformanceCommand(UPT_READ_PAGE, DataDirection::In, kPageSize, 0x12345678, 0x9ABCDEF0);
  read.dataIn = page.data();
  read.cdbLength = 11;  // the shortest page command the device takes
  EXPECT_TRUE(Good(t.Execute(read)));
  read.cdbLength = 10;
  read.cdb[10] = 0;
  const ScsiResult cut = t.Execute(read);
  EXPECT_TRUE(cut.delivered);
  EXPECT_FALSE(cut.statusGood);
  EXPECT_EQ(rig.Received(), (std::vector<std::string>{"SCSI_TST_U_RDY 0x00000000 0 0",
                                                      "UPT_READ_PAGE 0x12345678 2596069104 512",
                                                      "UPT_READ_PAGE 0x12345678 2596012272 512"}));
}

TYPED_TEST_P(TransportConformance, FailuresEndAsTheFamilyReportsThemAndTheTransportGoesOn) {
  TypeParam rig("fault bad_status UPT_READ_PAGE occurrence=1\nfault not_delivered DEV_GET_VERSION\n"
                "fault no_completion UPT_FW_ERASE_MEM\n");
  ScsiTransport& t = rig.transport();
  ConformancePage page = Filled(0);
  ScsiRequest read = ConformanceCommand(UPT_READ_PAGE, DataDirection::In, kPageSize, 0x40, 1);
  read.dataIn = page.data();
  const ScsiResult rejected = t.Execute(read);
  EXPECT_TRUE(rejected.delivered);
  EXPECT_FALSE(rejected.statusGood);
  EXPECT_EQ(rejected.systemError, 0u);

  std::array<std::uint8_t, kVersionReplyLength> version{};
  ScsiRequest query = ConformanceCommand(DEV_GET_VERSION, DataDirection::In, kVersionReplyLength);
  query.dataIn = version.data();
  const ScsiResult refused = t.Execute(query);
  // The ASPI library refuses at once: the request has ended, with a failure status.
  EXPECT_EQ(refused.delivered, this->kAspi);
  EXPECT_FALSE(refused.statusGood);
  EXPECT_EQ(refused.systemError, this->kAspi ? 0u : EmulatedTransport::kFailureError);

  const ScsiResult hung = t.Execute(ConformanceCommand(UPT_FW_ERASE_MEM, DataDirection::Out, 0));
  EXPECT_FALSE(hung.delivered || hung.statusGood);
  EXPECT_EQ(hung.systemError, this->kAspi ? 0u : EmulatedTransport::kTimeoutError);

  // Data still moves after a command that never ended.
  EXPECT_TRUE(Good(t.Execute(read)));
  EXPECT_EQ(page, Filled(0xFF));
  EXPECT_EQ(rig.Received().size(), 4u);
}

TYPED_TEST_P(TransportConformance, ShortReplyLeavesTheRestAsTheFamilyDefines) {
  TypeParam rig("reply_limit 4\n");
  ScsiTransport& t = rig.transport();
  const ConformancePage earlier = Filled(0xA5);
  ScsiRequest write = ConformanceCommand(UPT_WRITE_PAGE, DataDirection::Out, kPageSize, 0x10, 1);
  write.dataOut = earlier.data();
  EXPECT_TRUE(Good(t.Execute(write)));

  ConformancePage page = Filled(0x3C);
  ScsiRequest read = ConformanceCommand(UPT_READ_PAGE, DataDirection::In, kPageSize, 0x20, 1);  // erased
  read.dataIn = page.data();
  EXPECT_TRUE(Good(t.Execute(read)));
  // ASPI: what the shared transfer buffer held from the write; pass-through: the destination's content.
  ConformancePage expected = Filled(this->kAspi ? 0xA5 : 0x3C);
  std::fill_n(expected.begin(), 4, 0xFF);
  EXPECT_EQ(page, expected);

  page = Filled(0x3C);
  read.replyOverDestination = true;  // asks every family to keep the destination's content
  EXPECT_TRUE(Good(t.Execute(read)));
  expected = Filled(0x3C);
  std::fill_n(expected.begin(), 4, 0xFF);
  EXPECT_EQ(page, expected);
}

REGISTER_TYPED_TEST_SUITE_P(TransportConformance, PagesTravelAsTheCallersBytesAndReadsFillOnlyTheirLength,
                            CdbBytesAndLengthReachTheDeviceUnchanged,
                            FailuresEndAsTheFamilyReportsThemAndTheTransportGoesOn,
                            ShortReplyLeavesTheRestAsTheFamilyDefines);

}  // namespace romsetter::test
