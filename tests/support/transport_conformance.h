#pragma once
// What every ScsiTransport must do with a command, checked at the emulated device.  The maker
// type: Maker(deviceLines) readies a transport (drive open, or ASPI job begun and addressed to
// 1/3) over the one device of ConformanceScenario(deviceLines); transport(); Received(), one
// "NAME ADAPTER TARGET 0xPAGEADDR pageNumber length" per command the device saw; and kFamily,
// whose rules apply where the families differ by design (refusals, error codes, short replies).
// EveryCommand is the one table of the commands the program sends; each transport's own rig
// walks it to check its own encoding of each row.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "app/activity_log.h"
#include "base/bytes.h"
#include "device/device_link.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

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

// One command as DeviceLink sends it, and what the device must receive: the CDB (its length is
// the CDB length), the direction and length, and for a page moved the byte filling it (written,
// or expected back).
struct CommandRow {
  const char* name;  // as the device's trace names it
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::function<bool(DeviceLink&)> send;
  std::uint8_t page = 0;
  // The device's trace line at the conformance address ("NAME 1 3 0xPAGEADDR pageNumber length").
  std::string Received() const {
    const bool paged = length == kPageSize;
    char text[128];
    std::snprintf(text, sizeof text, "%s 1 3 0x%08X %u %u", name, paged ? ReadPageParam(&cdb[3]) + 0u : 0u,
                  paged ? ReadPageParam(&cdb[7]) + 0u : 0u, length + 0u);
    return text;
  }
};

// Every command the program sends, once, each expected to succeed on an erased device.  Page
// 0x00012345 numbered 7 is written with 0x5A and read back; the font page is read where nothing
// was written, so the mark after it shows what each family sends: zeros over pass-through, the
// page just read (0xFF) over ASPI.  The format alone differs in its CDB: 6 bytes out over
// pass-through, 12 marked data-in over ASPI.
inline std::vector<CommandRow> EveryCommand(TransportFamily family) {
  using Bytes = std::vector<std::uint8_t>;
  const auto in = DataDirection::In, out = DataDirection::Out;
  const auto vendor = [](std::uint8_t code) { return Bytes{0xFF, code, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; };
  // Page 0x000123LL: the halves high first, each low byte first.
  const auto paged = [](std::uint8_t code, std::uint8_t low, std::uint8_t number) {
    return Bytes{0xFF, code, 0, 0x01, 0, low, 0x23, 0, 0, number, 0, 0};
  };
  const auto query = [](RegionQuery q) { return [q](DeviceLink& l) { return l.QueryRegion(q).ok; }; };
  const auto erase = [](EraseCommand c) { return [c](DeviceLink& l) { return l.Erase(c).ok; }; };
  const auto control = [](ControlCommand c) { return [c](DeviceLink& l) { return l.SendControl(c); }; };
  const auto write = [](PageArea area) {
    return [area](DeviceLink& l) { return l.WritePage(0x00012345, 7, area, Filled(0x5A)); };
  };
  const auto read = [](PageArea area, std::uint32_t address, std::uint8_t expected) {
    return [=](DeviceLink& l) {
      PageBuffer page = Filled(0x77);
      return l.ReadPage(address, 7, area, page) && page == Filled(expected);
    };
  };
  // A reply holding `text` from its byte `at`.
  const auto replies = [](auto ask, std::size_t at, std::string text) {
    return [=](DeviceLink& l) {
      const auto r = ask(l);
      return r.ok && std::string(r.value.begin() + at, r.value.begin() + at + text.size()) == text;
    };
  };
  const bool aspi = family == TransportFamily::Aspi;
  return {
      {"SCSI_TST_U_RDY", Bytes(6, 0), out, 0, [](DeviceLink& l) { return l.TestUnitReady(); }},
      {"INQUIRY", Bytes{0x12, 0, 0, 0, 0x24, 0}, in, 36,
       replies([](DeviceLink& l) { return l.Inquiry(); }, 8, "Morvent  USB-MSC Disk INT   ")},
      {"UPT_FW_GET_SIZE", vendor(0x01), in, 10, query(RegionQuery::Firmware)},
      {"UPT_BOOT_GET_SIZE", vendor(0x06), in, 10, query(RegionQuery::Boot)},
      {"FONT_GET_BLK_INFO", vendor(0x09), in, 10, query(RegionQuery::Font)},
      {"BACKUP_FW_GET_SIZE_32", vendor(0x20), in, 8, query(RegionQuery::Backup)},
      {"DEV_GET_VERSION", vendor(0x11), in, 8,
       replies([](DeviceLink& l) { return l.QueryProduct(ProductQuery::Version); }, 0, "01.02.03")},
      {"DEV_GET_PRODUCT", vendor(0x12), in, 20,
       replies([](DeviceLink& l) { return l.QueryProduct(ProductQuery::Product); }, 0, std::string("MV-Demo Player", 15))},
      {"UPT_FW_ERASE_MEM", vendor(0x02), out, 0, erase(EraseCommand::Firmware)},
      {"UPT_BOOT_ERASE_MEM", vendor(0x07), out, 0, erase(EraseCommand::Boot)},
      {"FONT_ERASE_FONT_BLKS", vendor(0x0A), out, 0, erase(EraseCommand::Font)},
      {"BACKUP_FW_ERASE_MEM", vendor(0x21), out, 0, erase(EraseCommand::Backup)},
      {"UPT_WRITE_PAGE", paged(0x03, 0x45, 7), out, kPageSize, write(PageArea::Firmware), 0x5A},
      {"UPT_READ_PAGE", paged(0x04, 0x45, 7), in, kPageSize, read(PageArea::Firmware, 0x00012345, 0x5A), 0x5A},
      {"FONT_WRITE_PAGE", paged(0x0B, 0x45, 7), out, kPageSize, write(PageArea::Font), 0x5A},
      {"FONT_READ_PAGE", paged(0x0C, 0x99, 7), in, kPageSize, read(PageArea::Font, 0x00012399, 0xFF), 0xFF},
      {"UPT_MARK_ERROR_PAGE", paged(0x03, 0x45, 0), out, kPageSize,
       [](DeviceLink& l) { return l.MarkErrorPage(0x00012345); }, std::uint8_t(aspi ? 0xFF : 0x00)},
      {"FONT_END_OF_UPDATE", vendor(0x0D), out, 0, control(ControlCommand::EndOfFontUpdate)},
      {"DEV_FORMAT_16", aspi ? vendor(0x10) : Bytes{0xFF, 0x10, 0, 0, 0, 0}, aspi ? in : out, 0,
       [](DeviceLink& l) { return l.Format().ok; }},
      {"UPT_FW_RESTART_SYS", vendor(0x05), out, 0, control(ControlCommand::Restart)},
  };
}

// A DeviceLink with its log over any transport, for the rigs that walk the table.
struct TableLink {
  explicit TableLink(ScsiTransport& transport, const std::string& name = "command_table")
      : log(ScratchDir(name) + "/Romsetter.log", window), link(transport, log) {}
  // Sends every row, expecting each to succeed and to log nothing.
  std::vector<CommandRow> SendEveryCommand(TransportFamily family) {
    std::vector<CommandRow> rows = EveryCommand(family);
    for (const CommandRow& row : rows) EXPECT_TRUE(row.send(link)) << row.name;
    EXPECT_EQ(window.allStatus, std::vector<std::string>{});
    return rows;
  }
  RecordingWindow window;
  ActivityLog log;
  DeviceLink link;
};

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

TYPED_TEST_P(TransportConformance, EveryCommandReachesTheDeviceAsTheTableSays) {
  TypeParam rig("");
  TableLink table(rig.transport());
  const std::vector<CommandRow> rows = table.SendEveryCommand(TypeParam::kFamily);
  std::vector<std::string> expected;
  for (const CommandRow& row : rows) expected.push_back(row.Received());
  EXPECT_EQ(rig.Received(), expected);
  if constexpr (std::is_base_of_v<InProcessDevice, TypeParam>) {
    const auto& trace = rig.device.trace();
    ASSERT_EQ(trace.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const CommandRow& row = rows[i];
      const TraceEntry& t = trace[i];
      EXPECT_EQ(std::make_tuple(std::vector<std::uint8_t>(t.cdb.begin(), t.cdb.begin() + t.cdbLength), t.direction,
                                t.length),
                std::make_tuple(row.cdb, row.direction, row.length))
          << row.name;
      if (row.direction == DataDirection::Out && row.length != 0) {
        EXPECT_EQ(t.data, std::vector<std::uint8_t>(row.length, row.page)) << row.name;
      }
    }
  }
}

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
  // Every byte of both page parameters differs; 11 bytes is the shortest page command the device takes.
  Page page{};
  ScsiRequest read = Vendor(UPT_READ_PAGE, 0x12345678, 0x9ABCDEF0, &page);
  read.cdbLength = 11;
  EXPECT_EQ(Of(t.Execute(read)), kGood);
  read.cdbLength = 10;
  read.cdb[10] = 0;
  EXPECT_EQ(Of(t.Execute(read)), Outcome(true, false, 0));
  EXPECT_EQ(rig.Received(), (std::vector<std::string>{"UPT_READ_PAGE 1 3 0x12345678 2596069104 512",
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

REGISTER_TYPED_TEST_SUITE_P(TransportConformance, EveryCommandReachesTheDeviceAsTheTableSays,
                            PagesTravelAsTheCallersBytesAndReadsFillOnlyTheirLength,
                            CdbBytesAndLengthReachTheDeviceUnchanged,
                            FailuresEndAsTheFamilyReportsThemAndTheTransportGoesOn,
                            ShortReplyLeavesTheRestAsTheFamilyDefines);

}  // namespace romsetter::test
