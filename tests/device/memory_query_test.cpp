// Region queries, the initialisation that runs them and the product query, on both
// transports against the emulated device.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/discovery.h"
#include "device/discovery_fakes.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

using Lines = std::vector<std::string>;

bool FakeErrorText(std::uint32_t code, std::string& text) {
  text = Format("system says %u", code);
  return true;
}

struct QueryRig {
  explicit QueryRig(bool aspi, EmulatedDeviceConfig config = {})
      : device(config),
        drive(device),
        library({&device}),
        transport(library, 10),
        log(test::ScratchDir("memory_query") + "/r.log", window, FakeErrorText) {
    if (aspi) {
      link = std::make_unique<DeviceLink>(transport, log, window, selections);
      transport.BeginJob();
      transport.CreateEvent();
    } else {
      link = std::make_unique<DeviceLink>(drive, log, window, selections);
    }
    link->imagePages = {1, 1, 1, 1};
  }
  Lines Logged() const { return test::StripNumbers(Lines(window.allStatus.begin(), window.allStatus.end())); }
  Lines Commands() const {
    Lines names;
    for (const TraceEntry& e : device.trace()) names.push_back(e.command);
    return names;
  }
  void Clear() {
    window.allStatus.clear();
    device.ClearTrace();
  }
  void Fault(FaultKind kind, const std::string& command) {
    EmulatorFault f;
    f.kind = kind;
    f.command = command;
    device.AddFault(f);
  }

  EmulatedDevice device;
  EmulatedTransport drive;
  EmulatedAspiLibrary library;
  AspiTransport transport;
  test::RecordingWindow window;
  ActivityLog log;
  Selections selections;
  std::unique_ptr<DeviceLink> link;
};

class OnBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Query, OnBoth, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Aspi" : "PassThrough"; });

TEST_P(OnBoth, FlashTypeChoosesTheFirmwareSetAndTheImageItIsComparedWith) {
  EmulatedDeviceConfig config;
  config.firmware = {0x0100, 0x00001000, 0x02003456};  // byte 6 = 2: small-block
  QueryRig rig(GetParam(), config);
  MemoryMap& map = rig.link->memoryMap;
  rig.link->imagePages = {0xFFFF, 0x100, 0, 0};  // a region exactly as large as the image
  EXPECT_TRUE(rig.link->GetMemInfo(1));
  EXPECT_EQ(map.fwSizeSmall, 0x100);
  EXPECT_EQ(map.fwAddr2Small, 0x02003456u);
  EXPECT_EQ(map.fwSize, 0);
  rig.link->imagePages.smallImagePages = 0x101;  // one page more: refused, the map still filled
  EXPECT_FALSE(rig.link->GetMemInfo(1));
  EXPECT_EQ(rig.Logged(), (Lines{"F/W Size=0x0100, 1BLK=0x00001000, 2BLK=0x02003456",
                                 "F/W Size=0x0100, 1BLK=0x00001000, 2BLK=0x02003456",
                                 "F/W file Size is larger then device memory."}));

  rig.device.config().firmware = {0x0200, 0x00000800, 0x01000000};
  rig.link->imagePages.bigImagePages = 0x200;
  EXPECT_TRUE(rig.link->GetMemInfo(1));
  EXPECT_EQ(map.flashType, 1);
  EXPECT_EQ(map.fwSize, 0x200);
  EXPECT_EQ(map.fwSizeSmall, 0x100);

  // The backup query prints and compares the firmware set in force.
  rig.Clear();
  EXPECT_TRUE(rig.link->GetMemInfo(32));
  EXPECT_EQ(rig.device.trace().at(0).length, 8u);
  rig.link->imagePages.bigImagePages = 0x201;
  EXPECT_FALSE(rig.link->GetMemInfo(32));
  EXPECT_EQ(rig.Logged(), (Lines{"BackupSize=0x0200, 1Addr=0x00002000, 2Addr=0x00003000",
                                 "BackupSize=0x0200, 1Addr=0x00002000, 2Addr=0x00003000",
                                 "Backup F/W file Size is larger then device memory."}));
}

TEST_P(OnBoth, NorReadsGapsAndKeepsTheFirmwareGapApart) {
  EmulatedDeviceConfig config;
  config.firmware = {0x0300, 0x00000400, 0x02000010};  // NOR: gap of 0x200 pages at 0x10
  config.font = {0x0040, 0x00004000, 0x00050006};
  QueryRig rig(GetParam(), config);
  rig.selections.norSelected = true;
  MemoryMap& map = rig.link->memoryMap;
  ASSERT_TRUE(rig.link->GetMemInfo(1));
  EXPECT_EQ(map.flashType, 0);  // byte 6 belongs to the gap here
  EXPECT_EQ(map.fwSize, 0x300);
  ASSERT_TRUE(rig.link->GetMemInfo(9));
  EXPECT_EQ(map.gapLength, 5);
  EXPECT_EQ(map.gapStart, 6);
  EXPECT_EQ(map.fwGapLength, 0x200);
  EXPECT_EQ(map.fwGapStart, 0x10);

  rig.selections.norSelected = false;  // NAND clears the gaps
  rig.device.config().firmware.addr2 = 0x00000010;
  ASSERT_TRUE(rig.link->GetMemInfo(1));
  EXPECT_EQ(map.gapLength, 0);
  EXPECT_EQ(map.fwGapLength, 0);
}

TEST_P(OnBoth, BootOfSizeZeroIsAcceptedAndNoImageMeansNoCommand) {
  EmulatedDeviceConfig config;
  config.boot = {0x0000, 0x00000100, 0x00000200};
  QueryRig rig(GetParam(), config);
  rig.link->imagePages.bootImagePages = 40;
  EXPECT_TRUE(rig.link->GetMemInfo(6));
  EXPECT_EQ(rig.Logged(), (Lines{"BootSize=0x0000, 1Addr=0x00000100, 2Addr=0x00000200",
                                 "User can't upgrade the boot code."}));
  EXPECT_EQ(rig.link->memoryMap.flashType, kFlashTypeUnknown);

  rig.Clear();
  rig.link->imagePages = {};
  for (int code : {1, 6, 9, 32, 7}) EXPECT_FALSE(rig.link->GetMemInfo(code)) << code;
  EXPECT_TRUE(rig.device.trace().empty());
  EXPECT_TRUE(rig.window.allStatus.empty());
}

TEST(MemoryQueryFailures, EachTransportWithItsOwnWords) {
  struct Case {
    int code;
    const char* command;
    const char* failed;
    const char* failStatus;
  };
  const Case cases[] = {
      {1, "UPT_FW_GET_SIZE", "UPT_FW_GET_SIZE Failed!!", "<FAIL> UPT_FW_GET_SIZE"},
      {6, "UPT_BOOT_GET_SIZE", "UPT_BOOT_GET_SIZE Failed!!", "<FAIL> UPT_BOOT_GET_SIZE"},
      {9, "FONT_GET_BLK_INFO", "FONT_GET_BLK_INFO Failed!!", "<FAIL> FONT_GET_BLK_INFO"},
      {32, "BACKUP_FW_GET_SIZE_32", "BACKUP_FW_GET_SIZE_32 Failed!!", "<FAIL> BACKUP_FW_GET_SIZE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const struct {
      bool aspi;
      FaultKind kind;
      Lines lines;
    } runs[] = {
        {false, FaultKind::NotDelivered, {"PrintError.ErrorCode=31", "system says 31", c.failed}},
        {false, FaultKind::BadStatus, {c.failed}},
        {true, FaultKind::NoCompletion, {c.failed}},
        {true, FaultKind::BadStatus, {c.failStatus}},
    };
    for (const auto& run : runs) {
      QueryRig rig(run.aspi);
      rig.Fault(run.kind, c.command);
      EXPECT_FALSE(rig.link->GetMemInfo(c.code));
      EXPECT_EQ(rig.Logged(), run.lines);
      EXPECT_EQ(rig.link->memoryMap.flashType, kFlashTypeUnknown);
    }
  }
}

TEST(InitDevice, NandAndNorSequencesAndTheirFailureLines) {
  QueryRig rig(false);
  rig.selections.loadFont = true;
  rig.Fault(FaultKind::BadStatus, "INQUIRY");  // only its delivery counts
  EXPECT_TRUE(rig.link->InitDevice());
  EXPECT_EQ(rig.Commands(), (Lines{"INQUIRY", "SCSI_TST_U_RDY", "UPT_FW_GET_SIZE", "FONT_GET_BLK_INFO"}));
  EXPECT_EQ(rig.Logged().front(), "Initiating InDisk...");
  rig.Clear();
  rig.selections.norSelected = true;
  rig.selections.loadBootCode = true;
  EXPECT_TRUE(rig.link->InitDevice());
  EXPECT_EQ(rig.Commands(), (Lines{"INQUIRY", "UPT_BOOT_GET_SIZE", "UPT_FW_GET_SIZE", "FONT_GET_BLK_INFO"}));

  const struct {
    bool nor;
    FaultKind kind;
    const char* command;
    const char* line;
  } steps[] = {
      {false, FaultKind::NotDelivered, "INQUIRY", "Initiating INQUIRY_BUFFER_LENGTH error!"},
      {false, FaultKind::BadStatus, "SCSI_TST_U_RDY", "Initiating SCSI_TST_U_RDY error!"},
      {true, FaultKind::BadStatus, "UPT_BOOT_GET_SIZE", "GetMemInfo(UPT_BOOT_GET_SIZE) error!"},
      {false, FaultKind::BadStatus, "UPT_FW_GET_SIZE", "GetMemInfo(UPT_FW_GET_SIZE) error!"},
      {true, FaultKind::BadStatus, "FONT_GET_BLK_INFO", "GetMemInfo(FONT_GET_BLK_INFO) error!"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    QueryRig r(false);
    r.selections.norSelected = r.selections.loadBootCode = s.nor;
    r.selections.loadFont = true;
    r.Fault(s.kind, s.command);
    EXPECT_FALSE(r.link->InitDevice());
    EXPECT_EQ(r.Logged().back(), s.line);
    EXPECT_EQ(r.Commands().back(), s.command);  // nothing after the failure
  }
}

TEST(ProductQuery, PassThroughTextsAndFailures) {
  EmulatedDeviceConfig config;
  config.product = "ABCDEFGHIJKLMNOPQRST";  // 20 characters, no NUL
  QueryRig rig(false, config);
  std::uint32_t error = 0;
  ASSERT_TRUE(rig.drive.OpenDrive("\\\\.\\E:", error));
  EXPECT_FALSE(rig.link->QueryProduct(17));  // device not present: nothing at all
  EXPECT_TRUE(rig.device.trace().empty());

  rig.link->devicePresent = true;
  EXPECT_TRUE(rig.link->QueryProduct(17));
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03");
  EXPECT_TRUE(rig.link->QueryProduct(18));
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03  Product:ABCDEFGHIJKLMNOPQRST");
  EXPECT_TRUE(rig.window.allStatus.empty());
  rig.Fault(FaultKind::BadStatus, "DEV_GET_PRODUCT");
  EXPECT_FALSE(rig.link->QueryProduct(18));
  EXPECT_EQ(rig.window.versionLine, "Checking product is not supported.");

  // A short version reply ends where the device stopped sending.
  rig.device.config().replyLimit = 4;
  EXPECT_TRUE(rig.link->QueryProduct(17));
  EXPECT_EQ(rig.window.versionLine, "Ver:01.0");

  rig.drive.CloseDrive();  // nothing asked, nothing claimed
  rig.device.ClearTrace();
  EXPECT_FALSE(rig.link->QueryProduct(17));
  EXPECT_TRUE(rig.device.trace().empty());
}

TEST(ProductQuery, AspiRunsAJobOfItsOwnAndAlwaysReportsSuccess) {
  QueryRig rig(true);
  rig.transport.EndJob();
  test::MemoryProfileStore store;
  store.Set("DiskVen_98", "DiskVen_00", "Morvent");
  ProcessState process;
  InMemoryDeviceRegistry registry;
  DeviceDiscovery discovery(*rig.link, store, process, registry);
  rig.link->devicePresent = true;

  EXPECT_TRUE(rig.link->QueryProduct(0));
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03  Product:MV-Demo Player");
  EXPECT_EQ(rig.Commands(), (Lines{"INQUIRY", "SCSI_TST_U_RDY", "DEV_GET_VERSION", "DEV_GET_PRODUCT"}));
  EXPECT_FALSE(rig.transport.InJob());
  EXPECT_EQ(rig.library.openEvents(), 0);

  rig.Fault(FaultKind::BadStatus, "DEV_GET_PRODUCT");  // the version stays
  EXPECT_TRUE(rig.link->QueryProduct(17));
  EXPECT_EQ(rig.window.versionLine, "Ver:01.02.03");
  rig.Fault(FaultKind::NoCompletion, "DEV_GET_VERSION");
  EXPECT_TRUE(rig.link->QueryProduct(17));
  EXPECT_EQ(rig.window.versionLine, "Checking product is not supported");

  store.Set("DiskVen_98", "DiskVen_00", "Somebody else");  // not found: the line is kept
  rig.link->versionLabel = "kept";
  EXPECT_TRUE(rig.link->QueryProduct(17));
  EXPECT_EQ(rig.window.versionLine, "kept");
}

}  // namespace
}  // namespace romsetter
