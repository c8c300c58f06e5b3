#include "device/device_link.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/link_rig.h"
#include "support/transport_conformance.h"

namespace romsetter {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Rig = test::LinkRig;

TEST(LinkPassThrough, DeliveryIsEnoughForWritesButReadsAndQueriesNeedAGoodStatus) {
  std::vector<EmulatorFault> faults;
  for (const char* c : {"UPT_WRITE_PAGE", "UPT_READ_PAGE", "UPT_FW_ERASE_MEM", "UPT_FW_RESTART_SYS",
                        "UPT_FW_GET_SIZE", "SCSI_TST_U_RDY", "DEV_GET_VERSION", "UPT_MARK_ERROR_PAGE"}) {
    faults.push_back({FaultKind::BadStatus, c});
  }
  faults.push_back({FaultKind::NotDelivered, "FONT_END_OF_UPDATE"});
  Rig rig(false, "link");
  rig.device.config().faults = faults;
  DeviceLink& link = *rig.link;
  PageBuffer page{};
  EXPECT_TRUE(link.WritePage(1, 1, PageArea::Firmware, page));
  EXPECT_TRUE(link.Erase(EraseCommand::Firmware).transport.delivered);
  EXPECT_TRUE(link.MarkErrorPage(1));
  EXPECT_TRUE(link.SendControl(ControlCommand::Restart));
  EXPECT_FALSE(link.ReadPage(1, 1, PageArea::Firmware, page));
  EXPECT_FALSE(link.QueryRegion(RegionQuery::Firmware).transport.statusGood);
  EXPECT_FALSE(link.TestUnitReady());
  EXPECT_FALSE(link.QueryProduct(ProductQuery::Version).transport.statusGood);
  EXPECT_FALSE(link.SendControl(ControlCommand::EndOfFontUpdate));  // only an undelivered control command logs
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"FONT_END_OF_UPDATE FAIL!!"}));
}

TEST(LinkAspi, CompletedButFailedTimedOutAndRefusedRequests) {
  Rig rig(true, "link");
  rig.device.config().faults = {{FaultKind::BadStatus, "UPT_WRITE_PAGE"},
                                {FaultKind::BadStatus, "UPT_MARK_ERROR_PAGE"},
                                {FaultKind::BadStatus, "FONT_END_OF_UPDATE"},
                                {FaultKind::BadStatus, "UPT_FW_RESTART_SYS", true, 0, 1},
                                {FaultKind::NoCompletion, "UPT_FW_RESTART_SYS", true, 0, 2},
                                {FaultKind::NotDelivered, "UPT_READ_PAGE"}, {FaultKind::BadStatus, "INQUIRY"}};
  PageBuffer page{};
  EXPECT_FALSE(rig.link->Inquiry().ok);  // completed with an error status
  // The mark and the control commands count as done once completed, whatever their status.
  EXPECT_TRUE(rig.link->MarkErrorPage(1));
  EXPECT_TRUE(rig.link->SendControl(ControlCommand::EndOfFontUpdate));
  EXPECT_TRUE(rig.link->SendControl(ControlCommand::Restart));
  for (const TraceEntry& e : rig.device.trace()) EXPECT_FALSE(e.statusGood) << e.command;
  const int waitsBefore = rig.library.waits();
  EXPECT_FALSE(rig.link->WritePage(1, 1, PageArea::Firmware, page));  // completed with an error status
  EXPECT_EQ(rig.library.waits(), waitsBefore + 1);
  EXPECT_FALSE(rig.link->ReadPage(1, 1, PageArea::Firmware, page));  // refused at once: no wait
  EXPECT_EQ(rig.library.waits(), waitsBefore + 1);
  EXPECT_EQ(rig.library.aborts(), 0);
  EXPECT_FALSE(rig.link->SendControl(ControlCommand::Restart));  // the wait runs out: no line over ASPI
  EXPECT_EQ(rig.library.lastWaitMs(), 50u);
  EXPECT_EQ(rig.library.aborts(), 1);  // the hung request is aborted, then retired
  // The inquiry and the write that completed with an error tell their statuses and sense data.
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{test::kAspiCheckConditionLine, test::kAspiCheckConditionLine}));
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

}  // namespace
}  // namespace romsetter
