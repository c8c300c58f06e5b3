// Region queries, the initialisation that runs them and the product query, on both
// transports against the emulated device.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/selections.h"
#include "device/discovery.h"
#include "device/discovery_fakes.h"
#include "device/memory_query.h"

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

TEST_P(OnBoth, FlashTypeChoosesTheFirmwareSetAndTheImageItIsComparedWith) {
  QueryRig rig(GetParam());
  rig.device.config().firmware = {0x0100, 0x00001000, 0x02003456};  // byte 6 = 2: small-block
  const MemoryMap& map = rig.map;
  rig.pages = {0xFFFF, 0x100, 0, 0};  // the small image exactly as large as its region
  EXPECT_TRUE(rig.GetMemInfo(RegionQuery::Firmware));
  EXPECT_EQ(std::make_tuple(int{map.flashType}, int{map.fwSizeSmall}, map.fwAddr2Small, int{map.fwSize}),
            std::make_tuple(2, 0x100, 0x02003456u, 0));
  rig.pages.smallImagePages = 0x101;  // one page more: refused, the map still filled
  EXPECT_FALSE(rig.GetMemInfo(RegionQuery::Firmware));

  // Big-block now; the backup query compares the firmware set in force.  The lines each query
  // logs are transcripts (tests/transcripts/region-queries, job-dry-runs, exit-statuses).
  rig.device.config().firmware = {0x0200, 0x00000800, 0x01000000};
  rig.pages.bigImagePages = 0x200;
  EXPECT_TRUE(rig.GetMemInfo(RegionQuery::Firmware));
  EXPECT_EQ(std::make_tuple(int{map.flashType}, int{map.fwSize}, int{map.fwSizeSmall}),
            std::make_tuple(1, 0x200, 0x100));
  EXPECT_TRUE(rig.GetMemInfo(RegionQuery::Backup));
  rig.pages.bigImagePages = 0x201;
  EXPECT_FALSE(rig.GetMemInfo(RegionQuery::Backup));
}

TEST_P(OnBoth, NorReadsGapsAndKeepsTheFirmwareGapApart) {
  QueryRig rig(GetParam());
  rig.device.config().firmware = {0x0300, 0x00000400, 0x02000010};  // NOR: gap of 0x200 pages at 0x10
  rig.device.config().font = {0x0040, 0x00004000, 0x00050006};
  rig.selections.norSelected = true;
  const MemoryMap& map = rig.map;
  ASSERT_TRUE(rig.GetMemInfo(RegionQuery::Firmware));
  EXPECT_EQ(std::make_tuple(int{map.flashType}, int{map.fwSize}), std::make_tuple(0, 0x300));  // byte 6: the gap's
  ASSERT_TRUE(rig.GetMemInfo(RegionQuery::Font));
  const auto gaps = [&] { return std::vector<int>{map.gapLength, map.gapStart, map.fwGapLength, map.fwGapStart}; };
  EXPECT_EQ(gaps(), std::vector<int>({5, 6, 0x200, 0x10}));
  rig.selections.norSelected = false;  // NAND clears the gaps
  rig.device.config().firmware.addr2 = 0x00000010;
  ASSERT_TRUE(rig.GetMemInfo(RegionQuery::Firmware));
  EXPECT_EQ(gaps(), std::vector<int>({0, 0, 0, 0}));
}

// A boot region of size zero is accepted with its own line (tests/transcripts/no-success-*)
// and leaves the flash type alone.
TEST_P(OnBoth, BootOfSizeZeroLeavesTheFlashTypeAndNoImageMeansNoCommand) {
  QueryRig rig(GetParam());
  rig.device.config().boot = {0x0000, 0x00000100, 0x00000200};
  rig.pages.bootImagePages = 40;
  rig.GetMemInfo(RegionQuery::Boot);
  EXPECT_EQ(rig.map.flashType, kFlashTypeUnknown);

  rig.Clear();
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
