// The ASPI path for real: AspiTransport over Win32AspiLibrary, which loads the emulator
// wnaspi32.dll beside this program and waits on system events that the library signals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/win32/transport_choice.h"
#include "support/test_support.h"
#include "win32/emulator_dll.h"

namespace romsetter {
namespace {

constexpr std::uint32_t kWaitTimedOut = 0x102;

class AspiEmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dll.Loaded());
    ASSERT_TRUE(library.Load());
  }

  void Scenario(const std::string& text) {
    test::WriteFile(dir + "/scenario.cfg", text);
    ASSERT_TRUE(dll.LoadScenario(dir + "/scenario.cfg"));
  }

  void BeginJob() {
    transport.BeginJob();
    ASSERT_TRUE(transport.Available());
    ASSERT_TRUE(transport.CreateEvent());
  }

  std::string dir = test::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  test::RecordingWindow window;
  ActivityLog log{dir + "/romsetter.log", window};
  Selections selections;
  test::EmulatorDll dll;
  Win32AspiLibrary library;
  AspiTransport transport{library, 200};  // a short wait keeps the time-outs quick
  DeviceLink link{transport, log, window, selections};
};

TEST_F(AspiEmulatorTest, EveryVendorCommandCompletesThroughTheLibrary) {
  Scenario("adapters 2\n[device 1 3]\nproduct \"Win98 Player\"\nfirmware 0x40 0x100 0x200\nbackup 0x700 0x800\n");
  BeginJob();
  link.adapterId = 1;
  link.targetId = 3;

  InquiryReply inquiry{};
  EXPECT_TRUE(link.Inquiry(inquiry, 1, 3).statusGood);
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.end()), "Morvent  USB-MSC Disk INT   ");
  EXPECT_TRUE(link.TestUnitReady());
  std::uint8_t reply[kProductReplyLength] = {};
  for (VendorCode query : {UPT_FW_GET_SIZE, UPT_BOOT_GET_SIZE, FONT_GET_BLK_INFO, BACKUP_FW_GET_SIZE_32,
                           DEV_GET_VERSION, DEV_GET_PRODUCT}) {
    const std::uint32_t length = query == DEV_GET_PRODUCT ? kProductReplyLength
                                 : query == DEV_GET_VERSION || query == BACKUP_FW_GET_SIZE_32 ? 8
                                                                                               : kRegionReplyLength;
    EXPECT_TRUE(link.Query(query, reply, length).statusGood) << int{query};
    if (query == UPT_FW_GET_SIZE) {
      EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + kRegionReplyLength),
                (std::vector<std::uint8_t>{0x00, 0x40, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}));
    }
  }
  EXPECT_STREQ(reinterpret_cast<const char*>(reply), "Win98 Player");
  for (VendorCode erase : {UPT_FW_ERASE_MEM, UPT_BOOT_ERASE_MEM, FONT_ERASE_FONT_BLKS, BACKUP_FW_ERASE_MEM}) {
    EXPECT_TRUE(link.SendErase(erase).statusGood) << int{erase};
  }
  EXPECT_TRUE(link.SendFormat().statusGood);
  for (std::size_t i = 0; i < kPageSize; ++i) link.pageBuffer[i] = static_cast<std::uint8_t>(i);
  PageBuffer page{};
  for (bool font : {false, true}) {
    EXPECT_TRUE(link.WritePage(0x00012345, 7, font));
    EXPECT_TRUE(link.ReadPage(page.data(), 0x00012345, 7, font));
    EXPECT_EQ(page, link.pageBuffer);
  }
  EXPECT_TRUE(link.MarkErrorPage(0x00012345));
  EXPECT_TRUE(link.SendControl(FONT_END_OF_UPDATE));
  EXPECT_TRUE(link.SendControl(UPT_FW_RESTART_SYS));

  const std::string none = " 1 3 0x00000000 0 ";
  const std::string page7 = " 1 3 0x00012345 7 512";
  EXPECT_EQ(dll.Trace(),
            (std::vector<std::string>{
                "INQUIRY" + none + "36", "SCSI_TST_U_RDY" + none + "0", "UPT_FW_GET_SIZE" + none + "10",
                "UPT_BOOT_GET_SIZE" + none + "10", "FONT_GET_BLK_INFO" + none + "10",
                "BACKUP_FW_GET_SIZE_32" + none + "8", "DEV_GET_VERSION" + none + "8", "DEV_GET_PRODUCT" + none + "20",
                "UPT_FW_ERASE_MEM" + none + "0", "UPT_BOOT_ERASE_MEM" + none + "0", "FONT_ERASE_FONT_BLKS" + none + "0",
                "BACKUP_FW_ERASE_MEM" + none + "0", "DEV_FORMAT_16" + none + "0", "UPT_WRITE_PAGE" + page7,
                "UPT_READ_PAGE" + page7, "FONT_WRITE_PAGE" + page7, "FONT_READ_PAGE" + page7,
                "UPT_MARK_ERROR_PAGE 1 3 0x00012345 0 512", "FONT_END_OF_UPDATE" + none + "0",
                "UPT_FW_RESTART_SYS" + none + "0"}));
}

TEST_F(AspiEmulatorTest, TimeOutRetiresTheRequestAndARefusalIsNotWaitedFor) {
  Scenario("fault no_completion UPT_READ_PAGE occurrence=1\nfault not_delivered DEV_GET_VERSION\n");
  BeginJob();
  PageBuffer page{};
  EXPECT_FALSE(link.ReadPage(page.data(), 0x10, 1, false));
  EXPECT_EQ(transport.lastWaitResult(), kWaitTimedOut);
  EXPECT_EQ(transport.retiredRequests(), 1u);

  // Refused by the device or for want of one: failed at once, the last wait untouched.
  std::uint8_t version[kVersionReplyLength];
  const ScsiResult refused = link.Query(DEV_GET_VERSION, version, sizeof version);
  EXPECT_TRUE(refused.delivered);
  EXPECT_FALSE(refused.statusGood);
  InquiryReply inquiry{};
  const ScsiResult nobody = link.Inquiry(inquiry, 0, 5);
  EXPECT_TRUE(nobody.delivered);
  EXPECT_FALSE(nobody.statusGood);
  EXPECT_EQ(transport.lastWaitResult(), kWaitTimedOut);

  // The job goes on with a fresh block and event.
  EXPECT_TRUE(link.ReadPage(page.data(), 0x10, 2, false));
  EXPECT_EQ(transport.lastWaitResult(), 0u);
  EXPECT_EQ(transport.retiredRequests(), 1u);
}

TEST_F(AspiEmulatorTest, SupportInfoDecidesAvailability) {
  Scenario("adapters 0\n");
  EXPECT_FALSE(transport.Available());
  Scenario("adapters 3\nsupport_status 0xE8\n");
  EXPECT_FALSE(transport.Available());
  EXPECT_EQ(transport.adapterCount(), 3);
  Scenario("adapters 3\n");
  EXPECT_TRUE(transport.Available());

  test::WriteFile(dir + "/bad.cfg", "adapters lots\n");
  EXPECT_FALSE(dll.LoadScenario(dir + "/bad.cfg"));
  EXPECT_FALSE(transport.Available());
  EXPECT_EQ(transport.adapterCount(), 0);
}

TEST_F(AspiEmulatorTest, LibraryLackingAnEntryPointOrMissingIsNotLoaded) {
  Win32AspiLibrary other;
  EXPECT_FALSE(other.Load("kernel32.dll"));
  EXPECT_FALSE(other.Loaded());
  AspiTransport unloaded(other);
  EXPECT_FALSE(unloaded.Available());

  EXPECT_TRUE(LoadAspiLibrary(other, window));
  EXPECT_TRUE(window.messages.empty());
  EXPECT_FALSE(LoadAspiLibrary(other, window, "romsetter-no-such-aspi.dll"));
  EXPECT_FALSE(other.Loaded());
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "Can't LoadLibrary(\"wnaspi32.dll\")");
  EXPECT_EQ(window.messages[0].caption, "Error:");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Error);
}

}  // namespace
}  // namespace romsetter
