#include "device/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "device/aspi_transport.h"
#include "support/data_rows.h"
#include "support/link_rig.h"
#include "support/transport_conformance.h"

namespace romsetter {
namespace {

using Rig = test::LinkRig;

// Each command failing at the device alone, over each family (tests/device/data/link_failures.txt).
TEST(Link, EachFailedCommandCountsOrFailsAsItsFamilySays) {
  for (const std::vector<std::string>& f : test::ReadTable("device/data/link_failures.txt")) {
    ASSERT_EQ(f.size(), 5u) << f[0];
    SCOPED_TRACE(f[0] + " " + f[1] + " " + f[2]);
    const bool aspi = f[0] == "aspi";
    Rig rig(aspi, "link");
    rig.device.config().faults = {{f[2] == "bad_status" ? FaultKind::BadStatus : FaultKind::NotDelivered, f[1]}};
    const auto rows = test::EveryCommand(aspi ? TransportFamily::Aspi : TransportFamily::PassThrough);
    const auto row = std::find_if(rows.begin(), rows.end(), [&f](const test::CommandRow& r) { return r.name == f[1]; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(test::SendRow(*rig.link, *row), f[3] == "counts");
    for (const TraceEntry& e : rig.device.trace()) EXPECT_FALSE(e.statusGood) << e.command;  // the fault took
    EXPECT_EQ(rig.Lines(), f[4] == "-" ? std::vector<std::string>{} : std::vector<std::string>{f[4]});
  }
}

TEST(LinkAspi, CompletedButFailedTimedOutAndRefusedRequests) {
  Rig rig(true, "link");
  rig.device.config().faults = {{FaultKind::BadStatus, "UPT_WRITE_PAGE"},
                                {FaultKind::NoCompletion, "UPT_FW_RESTART_SYS"},
                                {FaultKind::NotDelivered, "UPT_READ_PAGE"}};
  PageBuffer page{};
  EXPECT_FALSE(rig.link->WritePage(1, 1, PageArea::Firmware, page));  // completed with an error status
  EXPECT_EQ(rig.library.waits(), 1);
  EXPECT_FALSE(rig.link->ReadPage(1, 1, PageArea::Firmware, page));  // refused at once: no wait
  EXPECT_EQ(rig.library.waits(), 1);
  EXPECT_EQ(rig.library.aborts(), 0);
  EXPECT_FALSE(rig.link->SendControl(ControlCommand::Restart));  // the wait runs out: no line over ASPI
  EXPECT_EQ(rig.library.lastWaitMs(), 50u);
  EXPECT_EQ(rig.library.aborts(), 1);  // the hung request is aborted, then retired
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{test::kAspiCheckConditionLine}));  // the write's
  EXPECT_EQ(rig.aspiTransport.retiredRequests(), 1u);  // never reused; the next command works
  EXPECT_TRUE(rig.link->TestUnitReady());
}

// Every request block: execute, LUN 0, event notification with the data direction, 14 bytes
// of sense data; with no wait given the transport waits 30 seconds.
TEST(LinkAspi, RequestBlocksReserveSenseDataAndWaitThirtySecondsByDefault) {
  Rig rig(true, "link");
  AspiTransport transport(rig.library);
  transport.BeginJob();
  ASSERT_TRUE(transport.CreateEvent());
  const auto rows = test::TableLink(transport).SendEveryCommand(TransportFamily::Aspi);
  const auto& sent = rig.library.sent();
  ASSERT_EQ(sent.size(), rows.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const bool in = rows[i].direction == DataDirection::In;
    EXPECT_EQ(std::make_tuple(sent[i].cmd, sent[i].lun, sent[i].flags, sent[i].senseLen),
              std::make_tuple(std::uint8_t{2}, std::uint8_t{0}, std::uint8_t(in ? 0x48 : 0x50), std::uint8_t{14}))
        << rows[i].name;
  }
  EXPECT_EQ(rig.library.lastWaitMs(), 30000u);
}

// The transport contract (tests/support/transport_conformance.h) over the emulated drive and
// over ASPI with the emulated library.
using namespace test;  // the contract's suite and its pieces

struct EmulatedDriveMaker : InProcessDevice {
  static constexpr TransportFamily kFamily = TransportFamily::PassThrough;
  explicit EmulatedDriveMaker(const std::string& deviceLines) : InProcessDevice(deviceLines) {
    std::uint32_t error = 0;
    EXPECT_TRUE(drive.OpenDrive("\\\\.\\E:", error));
  }
  ScsiTransport& transport() { return drive; }
  EmulatedTransport drive{device};
};

struct EmulatedAspiMaker : InProcessDevice {
  static constexpr TransportFamily kFamily = TransportFamily::Aspi;
  explicit EmulatedAspiMaker(const std::string& deviceLines) : InProcessDevice(deviceLines) {
    aspi.BeginJob();
    EXPECT_TRUE(aspi.Available() && aspi.CreateEvent());
    aspi.SetDeviceAddress(kConformanceTarget);
  }
  ScsiTransport& transport() { return aspi; }
  EmulatedAspiLibrary library{{&device}, 2};
  AspiTransport aspi{library};
};

INSTANTIATE_TYPED_TEST_SUITE_P(EmulatedDrive, TransportConformance, EmulatedDriveMaker);
INSTANTIATE_TYPED_TEST_SUITE_P(EmulatedAspi, TransportConformance, EmulatedAspiMaker);

}  // namespace
}  // namespace romsetter
