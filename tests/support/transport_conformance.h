#pragma once
// What every ScsiTransport must do with a command, checked at the emulated device.  The maker
// type: Maker(deviceLines) readies a transport (drive open, or ASPI job begun and addressed to
// 1/3) over the one device of ConformanceScenario(deviceLines); transport(); Received(), one
// "NAME ADAPTER TARGET 0xPAGEADDR pageNumber length" per command the device saw; and kFamily,
// whose rules apply where the families differ by design (refusals, error codes, short replies).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "base/bytes.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"

namespace romsetter::test {

constexpr ScsiTarget kConformanceTarget{1, 3};  // not 0/0: an ASPI transport must use the address

inline std::string ConformanceScenario(const std::string& deviceLines) {
  return "adapters 2\n[device 1 3]\n" + deviceLines;
}

// For makers whose device lives in this process; Received() prints it as the emulator library does.
struct InProcessDevice {
  static EmulatedDeviceConfig Parse(const std::string& deviceLines) {
    EmulatorConfig config;
    std::string error;
    EXPECT_TRUE(ParseEmulatorConfig(ConformanceScenario(deviceLines), "conformance", config, error)) << error;
    return config.devices.empty() ? EmulatedDeviceConfig{} : config.devices[0];
  }
  explicit InProcessDevice(const std::string& deviceLines) : device(Parse(deviceLines)) {}
  std::vector<std::string> Received() const {
    std::vector<std::string> lines;
    char text[128];
    for (const TraceEntry& e : device.trace()) {
      std::snprintf(text, sizeof text, "%s %u %u 0x%08X %u %u", e.command.c_str(), device.config().adapterId + 0u,
                    device.config().targetId + 0u, e.pageAddress + 0u, e.pageNumber + 0u, e.length + 0u);
      lines.push_back(text);
    }
    return lines;
  }
  EmulatedDevice device;
};

using Page = std::array<std::uint8_t, kPageSize>;
inline Page Filled(std::uint8_t value) {
  Page page;
  page.fill(value);
  return page;
}
// delivered, statusGood, systemError: printed whole when a case fails.
using Outcome = std::tuple<bool, bool, std::uint32_t>;
inline Outcome Of(const ScsiResult& r) { return {r.delivered, r.statusGood, r.systemError}; }
const Outcome kGood{true, true, 0};

// A vendor command; a page command moves `page` (a write sends it, a read fills it).
inline ScsiRequest Vendor(std::uint8_t code, std::uint32_t address = 0, std::uint32_t number = 0,
                          Page* page = nullptr) {
  ScsiRequest r;
  r.cdb[0] = kVendorOpcode;
  r.cdb[1] = code;
  WritePageParam(&r.cdb[3], address);
  WritePageParam(&r.cdb[7], number);
  if (page == nullptr) return r;
  r.length = kPageSize;
  if (code == UPT_READ_PAGE) {
    r.direction = DataDirection::In;
    r.dataIn = page->data();
  } else {
    r.dataOut = page->data();
  }
  return r;
}

// The system errors of a command that did not go out and of one that never ended: the NT
// family's, unless the maker names its own (kNotDeliveredError, kTimedOutError).
template <typename Maker, typename = void>
struct FailureErrors {
  static constexpr std::uint32_t kNotDelivered = EmulatedTransport::kFailureError;
  static constexpr std::uint32_t kTimedOut = EmulatedTransport::kTimeoutError;
};
template <typename Maker>
struct FailureErrors<Maker, std::void_t<decltype(Maker::kNotDeliveredError)>> {
  static constexpr std::uint32_t kNotDelivered = Maker::kNotDeliveredError;
  static constexpr std::uint32_t kTimedOut = Maker::kTimedOutError;
};

template <typename Maker>
class TransportConformance : public ::testing::Test {};
TYPED_TEST_SUITE_P(TransportConformance);

TYPED_TEST_P(TransportConformance, PagesTravelAsTheCallersBytesAndReadsFillOnlyTheirLength) {
  TypeParam rig("");
  ScsiTransport& t = rig.transport();
  EXPECT_EQ(t.Family(), TypeParam::kFamily);
  Page written;
  for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<std::uint8_t>(i * 7 + 3);
  Page whole = Filled(0xEE), part = Filled(0xEE), expected = Filled(0xEE);
  EXPECT_EQ(Of(t.Execute(Vendor(UPT_WRITE_PAGE, 0x1234, 5, &written))), kGood);
  EXPECT_EQ(Of(t.Execute(Vendor(UPT_READ_PAGE, 0x1234, 5, &whole))), kGood);
  EXPECT_EQ(whole, written);
  ScsiRequest read = Vendor(UPT_READ_PAGE, 0x1234, 5, &part);
  read.length = 16;
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  std::copy_n(written.begin(), 16, expected.begin());
  EXPECT_EQ(part, expected);
  EXPECT_EQ(rig.Received(), (std::vector<std::string>{"UPT_WRITE_PAGE 1 3 0x00001234 5 512",
                                                      "UPT_READ_PAGE 1 3 0x00001234 5 512",
                                                      "UPT_READ_PAGE 1 3 0x00001234 5 16"}));
}

TYPED_TEST_P(TransportConformance, CdbBytesAndLengthReachTheDeviceUnchanged) {
  TypeParam rig("");
  ScsiTransport& t = rig.transport();
  ScsiRequest ready;  // test unit ready: no data phase
  ready.cdbLength = 6;
  EXPECT_EQ(Of(t.Execute(ready)), kGood);
  // Every byte of both page parameters differs; 11 bytes is the shortest page command the device takes.
  Page page{};
  ScsiRequest read = Vendor(UPT_READ_PAGE, 0x12345678, 0x9ABCDEF0, &page);
  read.cdbLength = 11;
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  read.cdbLength = 10;
  read.cdb[10] = 0;
  EXPECT_EQ(Of(t.Execute(read)), Outcome(true, false, 0));
  EXPECT_EQ(rig.Received(), (std::vector<std::string>{"SCSI_TST_U_RDY 1 3 0x00000000 0 0",
                                                      "UPT_READ_PAGE 1 3 0x12345678 2596069104 512",
                                                      "UPT_READ_PAGE 1 3 0x12345678 2596012272 512"}));
}

TYPED_TEST_P(TransportConformance, FailuresEndAsTheFamilyReportsThemAndTheTransportGoesOn) {
  TypeParam rig("fault bad_status UPT_READ_PAGE occurrence=1\nfault not_delivered UPT_READ_PAGE occurrence=2\n"
                "fault no_completion UPT_READ_PAGE occurrence=3\n");
  ScsiTransport& t = rig.transport();
  const bool aspi = TypeParam::kFamily == TransportFamily::Aspi;
  Page page{};
  const ScsiRequest read = Vendor(UPT_READ_PAGE, 0x40, 1, &page);
  EXPECT_EQ(Of(t.Execute(read)), Outcome(true, false, 0));
  // The ASPI library's refusal is a request that ended, with a failure status.
  EXPECT_EQ(Of(t.Execute(read)), Outcome(aspi, false, aspi ? 0 : FailureErrors<TypeParam>::kNotDelivered));
  EXPECT_EQ(Of(t.Execute(read)), Outcome(false, false, aspi ? 0 : FailureErrors<TypeParam>::kTimedOut));
  // Data still moves after a command that never ended.
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  EXPECT_EQ(page, Filled(0xFF));
  EXPECT_EQ(rig.Received().size(), 4u);
}

TYPED_TEST_P(TransportConformance, ShortReplyLeavesTheRestAsTheFamilyDefines) {
  TypeParam rig("reply_limit 4\n");
  ScsiTransport& t = rig.transport();
  Page earlier = Filled(0xA5), page = Filled(0x3C);
  EXPECT_EQ(Of(t.Execute(Vendor(UPT_WRITE_PAGE, 0x10, 1, &earlier))), kGood);
  ScsiRequest read = Vendor(UPT_READ_PAGE, 0x20, 1, &page);  // an erased page: 0xFF
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  // ASPI: what the shared transfer buffer held from the write; pass-through: the destination's content.
  Page expected = Filled(TypeParam::kFamily == TransportFamily::Aspi ? 0xA5 : 0x3C);
  std::fill_n(expected.begin(), 4, 0xFF);
  EXPECT_EQ(page, expected);
  page = Filled(0x3C);
  read.replyOverDestination = true;  // asks every family to keep the destination's content
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  expected = Filled(0x3C);
  std::fill_n(expected.begin(), 4, 0xFF);
  EXPECT_EQ(page, expected);
}

REGISTER_TYPED_TEST_SUITE_P(TransportConformance, PagesTravelAsTheCallersBytesAndReadsFillOnlyTheirLength,
                            CdbBytesAndLengthReachTheDeviceUnchanged,
                            FailuresEndAsTheFamilyReportsThemAndTheTransportGoesOn,
                            ShortReplyLeavesTheRestAsTheFamilyDefines);

}  // namespace romsetter::test
