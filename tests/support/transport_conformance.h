#pragma once
// What every ScsiTransport must do with a command, checked at the emulated device.  The maker
// type: Maker(deviceLines) readies a transport (drive open, or ASPI job begun and addressed to
// 1/3) over the one device of ConformanceScenario(deviceLines); transport(); Received(), one
// "NAME ADAPTER TARGET 0xPAGEADDR pageNumber length" per command the device saw; and kFamily,
// whose rules apply where the families differ by design (refusals, error codes, short replies).
// EveryCommand is the one table of the commands the program sends (kept as data); each
// transport's own rig walks it to check its own encoding of each row.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "app/activity_log.h"
#include "base/bytes.h"
#include "base/format.h"
#include "device/device_link.h"
#include "device/vendor_commands.h"
#include "emulator/emulated_transport.h"
#include "support/data_rows.h"
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
  // The system errors of a command that did not go out and of one that never ended, as the NT
  // family's transports report them; a maker over another system's calls names its own.
  static constexpr std::uint32_t kNotDeliveredError = EmulatedTransport::kFailureError;
  static constexpr std::uint32_t kTimedOutError = EmulatedTransport::kTimeoutError;
  std::vector<std::string> Received() const {
    std::vector<std::string> lines;
    for (const TraceEntry& e : device.trace()) {
      lines.push_back(Format("%s %u %u 0x%08X %u %u", e.command.c_str(), device.config().adapterId + 0u,
                             device.config().targetId + 0u, e.pageAddress + 0u, e.pageNumber + 0u, e.length + 0u));
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

// One command as DeviceLink sends it (a row of tests/support/data/every_command.txt), and what
// the device must receive: the CDB (its length is the CDB length), the direction and length,
// and for a page moved the byte filling it (written, or expected back).
struct CommandRow {
  std::string name;  // as the device's trace names it
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::uint8_t page = 0;
  std::string call, argument, reply;  // the DeviceLink call, and what its reply must hold
  // The device's trace line at the conformance address ("NAME 1 3 0xPAGEADDR pageNumber length").
  std::string Received() const {
    const bool paged = length == kPageSize;
    return Format("%s 1 3 0x%08X %u %u", name.c_str(), paged ? ReadPageParam(&cdb[3]) + 0u : 0u,
                  paged ? ReadPageParam(&cdb[7]) + 0u : 0u, length + 0u);
  }
};

// Every command the program sends over `family`, once, in the program's words.
inline std::vector<CommandRow> EveryCommand(TransportFamily family) {
  const std::string mine = family == TransportFamily::Aspi ? "aspi" : "pass-through";
  std::vector<CommandRow> rows;
  for (const std::vector<std::string>& f : ReadTable("support/data/every_command.txt")) {
    EXPECT_EQ(f.size(), 9u) << f[0];
    if (f.size() != 9 || (f[1] != "both" && f[1] != mine)) continue;
    const std::vector<std::uint8_t> page = HexBytes(f[5]);
    rows.push_back(CommandRow{f[0], HexBytes(f[2]), f[3] == "in" ? DataDirection::In : DataDirection::Out,
                              static_cast<std::uint32_t>(std::stoul(f[4])), page.empty() ? std::uint8_t{0} : page[0],
                              f[6], f[7], f[8]});
  }
  return rows;
}

// A region query's or an erase's command by the region's name.
template <typename Command>
Command Region(const std::string& name) {
  return name == "Boot" ? Command::Boot : name == "Font" ? Command::Font : name == "Backup" ? Command::Backup
                                                                                             : Command::Firmware;
}

// Whether a reply came and holds the row's text ("AT TEXT") from its byte AT.
template <typename Reply>
bool Holds(const Reply& r, const std::string& reply) {
  const std::size_t at = std::stoul(reply), from = reply.find(' ') + 1;
  const std::string text = reply.substr(from);
  return r.ok && r.value.size() >= at + text.size() &&
         std::string(r.value.begin() + at, r.value.begin() + at + text.size()) == text;
}

// Sends `row` through `l` as the program does; a page goes to or comes from the row's CDB address
// numbered 7, a page read must come back filled with the row's byte.
inline bool SendRow(DeviceLink& l, const CommandRow& row) {
  const PageArea area = row.argument == "Font" ? PageArea::Font : PageArea::Firmware;
  if (row.call == "TestUnitReady") return l.TestUnitReady();
  if (row.call == "Inquiry") return Holds(l.Inquiry(), row.reply);
  if (row.call == "QueryRegion") return l.QueryRegion(Region<RegionQuery>(row.argument)).ok;
  if (row.call == "Erase") return l.Erase(Region<EraseCommand>(row.argument)).ok;
  if (row.call == "QueryProduct") {
    return Holds(l.QueryProduct(row.argument == "Version" ? ProductQuery::Version : ProductQuery::Product), row.reply);
  }
  if (row.call == "SendControl") {
    return l.SendControl(row.argument == "Restart" ? ControlCommand::Restart : ControlCommand::EndOfFontUpdate);
  }
  if (row.call == "WritePage") return l.WritePage(ReadPageParam(&row.cdb[3]), 7, area, Filled(row.page));
  if (row.call == "ReadPage") {
    PageBuffer page = Filled(0x77);
    return l.ReadPage(ReadPageParam(&row.cdb[3]), 7, area, page) && page == Filled(row.page);
  }
  if (row.call == "MarkErrorPage") return l.MarkErrorPage(ReadPageParam(&row.cdb[3]));
  EXPECT_EQ(row.call, "Format");
  return l.Format().ok;
}

// A DeviceLink with its log over any transport, for the rigs that walk the table.
struct TableLink {
  explicit TableLink(ScsiTransport& transport, const std::string& name = "command_table")
      : log(ScratchDir(name) + "/Romsetter.log", window), link(transport, log) {}
  // Sends every row, expecting each to succeed and to log nothing.
  std::vector<CommandRow> SendEveryCommand(TransportFamily family) {
    std::vector<CommandRow> rows = EveryCommand(family);
    for (const CommandRow& row : rows) EXPECT_TRUE(SendRow(link, row)) << row.name;
    EXPECT_EQ(window.allStatus, std::vector<std::string>{});
    return rows;
  }
  RecordingWindow window;
  ActivityLog log;
  DeviceLink link;
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
  EXPECT_EQ(Of(t.Execute(read)), Outcome(aspi, false, aspi ? 0 : TypeParam::kNotDeliveredError));
  EXPECT_EQ(Of(t.Execute(read)), Outcome(false, false, aspi ? 0 : TypeParam::kTimedOutError));
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
