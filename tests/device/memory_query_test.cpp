// The region queries, the initialisation that runs them and the product query, on both
// transports.
#include "device/memory_query.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/selections.h"
#include "device/discovery.h"
#include "device/discovery_fakes.h"
#include "support/data_rows.h"
#include "support/test_support.h"
#include "support/transport_conformance.h"

namespace romsetter {
namespace {

using Lines = std::vector<std::string>;

struct QueryRig : test::LinkRig {
  explicit QueryRig(bool aspi)
      : LinkRig(aspi, "query"), memory(*link, log, map) {
    pages = {1, 1, 1, 1};
  }
  bool GetMemInfo(RegionQuery query) { return memory.GetMemInfo(query, pages, selections.norSelected); }
  bool InitDevice() {
    const InitRequest request{selections.norSelected, selections.loadBootCode, selections.loadFirmware,
                              selections.loadFont};
    return memory.InitDevice(request, pages);
  }

  Selections selections;
  MemoryMap map;
  ImagePageCounts pages;
  MemoryQuery memory;
};

// The product query as discovery runs it, over the rig's transport.
struct ProductRig {
  ProductRig(QueryRig& rig, bool aspi)
      : session(aspi ? MakeAspiSession(rig.aspiTransport) : MakeDriveSession(rig.drive)),
        discovery(DiscoveryPorts{*rig.link, rig.memory, *session, store, process, registry,
                                 rig.log, rig.window, rig.window, [this, &rig](const std::string& line) {
                                   told.push_back(line);
                                   rig.window.SetVersionLine(line);
                                 }}) {}

  test::RecordingProfileStore store;
  ProcessState process;
  InMemoryDeviceRegistry registry;
  std::vector<std::string> told;  // every version line handed on, in order
  std::shared_ptr<DeviceSession> session;
  DeviceDiscovery discovery;
};

class OnBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Query, OnBoth, ::testing::Values(false, true), test::TransportName);

// The lines each query logs are transcripts (tests/transcripts/region-queries, job-dry-runs,
// exit-statuses).
TEST_P(OnBoth, RegionQueriesFillTheMapAndCompareTheImageInForce) {
  std::unique_ptr<QueryRig> rig;
  std::string sequence;
  for (const std::vector<std::string>& f : test::DataRows("device/data/region_queries.txt", 20)) {
    SCOPED_TRACE(f[0] + " " + f[1] + " " + f[10]);
    if (f[0] != sequence) rig = std::make_unique<QueryRig>(GetParam());
    sequence = f[0];
    const auto n = [&f](std::size_t i) { return static_cast<std::uint32_t>(std::stoul(f[i], nullptr, 16)); };
    EmulatedDeviceConfig& d = rig->device.config();
    (f[1] == "font" ? d.font : f[1] == "boot" ? d.boot : d.firmware) =
        RegionReply{static_cast<std::uint16_t>(n(2)), n(3), n(4)};
    rig->selections.norSelected = f[5] == "nor";
    rig->pages = {n(6), n(7), n(8), n(9)};
    EXPECT_EQ(rig->GetMemInfo(test::Region<RegionQuery>(f[10])), f[11] == "yes");
    const MemoryMap& m = rig->map;
    EXPECT_EQ((std::vector<std::uint32_t>{m.flashType, m.fwSize, m.fwSizeSmall, m.fwAddr2Small, m.gapLength,
                                          m.gapStart, m.fwGapLength, m.fwGapStart}),
              (std::vector<std::uint32_t>{n(12), n(13), n(14), n(15), n(16), n(17), n(18), n(19)}));
  }
}

// Without an image no region is asked for.
TEST_P(OnBoth, NoImageMeansNoCommand) {
  QueryRig rig(GetParam());
  rig.pages = {};
  const RegionQuery none = static_cast<RegionQuery>(7);  // a code that names no region
  for (RegionQuery query : {RegionQuery::Firmware, RegionQuery::Boot, RegionQuery::Font, RegionQuery::Backup, none}) {
    EXPECT_FALSE(rig.GetMemInfo(query)) << int{static_cast<std::uint8_t>(query)};
  }
  EXPECT_TRUE(rig.device.trace().empty());
  EXPECT_TRUE(rig.window.allStatus.empty());
}

// The failure lines of each step, in each family's words, are transcripts
// (tests/transcripts/init-failures, region-queries).
TEST(InitDevice, NandAndNorSequences) {
  for (bool nor : {false, true}) {
    QueryRig rig(false);
    rig.selections.loadFont = true;
    rig.selections.norSelected = rig.selections.loadBootCode = nor;
    rig.device.AddFault({FaultKind::BadStatus, "INQUIRY"});  // only its delivery counts
    EXPECT_TRUE(rig.InitDevice());
    EXPECT_EQ(rig.Commands(), (Lines{"INQUIRY", nor ? "UPT_BOOT_GET_SIZE" : "SCSI_TST_U_RDY", "UPT_FW_GET_SIZE",
                                     "FONT_GET_BLK_INFO"}));
  }
}

// Each line is handed on as it is learnt; a failure over pass-through is a failure, where ASPI keeps
// what it learnt and reports success.
TEST(ProductQuery, LinesHandedOnAndFailuresPerTransport) {
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "ASPI" : "pass-through");
    QueryRig rig(aspi);
    if (aspi) rig.aspiTransport.EndJob();  // the query runs a job of its own
    ProductRig product(rig, aspi);
    DeviceDiscovery& discovery = product.discovery;
    product.store.Set("DiskVen_98", "DiskVen_00", "Morvent");
    rig.device.config().product = "ABCDEFGHIJKLMNOPQRST";  // 20 characters, no NUL
    EXPECT_FALSE(discovery.QueryProduct(false));  // device not present: nothing at all
    EXPECT_TRUE(rig.device.trace().empty());

    discovery.SetPresent(true);
    EXPECT_TRUE(discovery.QueryProduct(false));
    EXPECT_EQ(product.told.back(), "Ver:01.02.03  Product:ABCDEFGHIJKLMNOPQRST");
    const Lines asked = {"INQUIRY", "SCSI_TST_U_RDY", "DEV_GET_VERSION", "DEV_GET_PRODUCT"};
    EXPECT_EQ(rig.Commands(), Lines(asked.begin() + (aspi ? 0 : 2), asked.end()));
    EXPECT_EQ(rig.window.allStatus.empty(), !aspi);  // over ASPI the scan has its lines
    EXPECT_FALSE(rig.aspiTransport.InJob());
    EXPECT_EQ(rig.library.openEvents(), 0);
    rig.device.AddFault({FaultKind::BadStatus, "DEV_GET_PRODUCT"});
    product.told.clear();
    EXPECT_FALSE(discovery.QueryProduct(false));
    EXPECT_EQ(product.told, (aspi ? Lines{"Ver:01.02.03"} : Lines{"Ver:01.02.03", "Checking product is not supported."}));
    rig.device.AddFault({FaultKind::NoCompletion, "DEV_GET_VERSION"});
    EXPECT_FALSE(discovery.QueryProduct(false));
    EXPECT_EQ(rig.window.versionLine, aspi ? "Checking product is not supported" : "Checking product is not supported.");
    if (aspi) {
      product.store.Set("DiskVen_98", "DiskVen_00", "Somebody else");  // not found: the line is kept
      discovery.ClearVersionLine();
      rig.window.versionLine = "not handed on";
      EXPECT_FALSE(discovery.QueryProduct(false));
      EXPECT_EQ(rig.window.versionLine + discovery.versionLine(), "");
    } else {
      rig.device.config().faults.clear();
      rig.device.config().replyLimit = 4;  // a short version reply ends where the device stopped
      product.told.clear();
      discovery.QueryProduct(false);
      EXPECT_EQ(product.told.at(0), "Ver:01.0");
      rig.drive.CloseDrive();  // nothing asked, nothing claimed
      rig.device.ClearTrace();
      EXPECT_FALSE(discovery.QueryProduct(false));
      EXPECT_TRUE(rig.device.trace().empty());
    }
  }
}

}  // namespace
}  // namespace romsetter
