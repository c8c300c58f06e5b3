// The ASPI path for real: AspiTransport and the target scan over Win32AspiLibrary, which loads
// the emulator wnaspi32.dll beside this program and waits on system events the library signals.
#include <gtest/gtest.h>

#include <windows.h>
#undef CreateEvent

#include <string>
#include <vector>

#include "device/discovery_fakes.h"
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

  std::string dir = test::ScratchForCurrentTest("aspi");
  test::RecordingWindow window;
  ActivityLog log{dir + "/romsetter.log", window};
  test::EmulatorDll dll;
  Win32AspiLibrary library;
  AspiTransport transport{library, 200};  // a short wait keeps the time-outs quick
  DeviceLink link{transport, log};
};

TEST_F(AspiEmulatorTest, TimeOutRetiresTheRequestAndARefusalIsNotWaitedFor) {
  Scenario("fault no_completion UPT_READ_PAGE occurrence=1\nfault not_delivered DEV_GET_VERSION\n");
  transport.BeginJob();
  ASSERT_TRUE(transport.Available() && transport.CreateEvent());
  PageBuffer page{};
  EXPECT_FALSE(link.ReadPage(0x10, 1, PageArea::Firmware, page));
  EXPECT_EQ(transport.lastWaitResult(), kWaitTimedOut);
  EXPECT_EQ(transport.retiredRequests(), 1u);
  // The hung request was aborted on its adapter before it was retired.
  EXPECT_EQ(dll.Trace(), (std::vector<std::string>{"UPT_READ_PAGE 0 0 0x00000010 1 512", "ABORT 0"}));

  // Refused by the device or for want of one: failed at once, the last wait untouched.
  const auto refused = [](const ScsiResult& r) { return r.delivered && !r.statusGood; };
  EXPECT_TRUE(refused(link.QueryProduct(ProductQuery::Version).transport));
  EXPECT_TRUE(refused(link.Inquiry(ScsiTarget{0, 5}).transport));
  EXPECT_EQ(transport.lastWaitResult(), kWaitTimedOut);
  // The job goes on with a fresh block and event.
  EXPECT_TRUE(link.ReadPage(0x10, 2, PageArea::Firmware, page));
  EXPECT_EQ(transport.lastWaitResult(), 0u);
  EXPECT_EQ(transport.retiredRequests(), 1u);
}

// An adapter that finishes each request before the send returns and never signals it: no
// command waits, none is lost, and a failed one names its statuses and sense data.
TEST_F(AspiEmulatorTest, RequestsCompletedWithoutASignalAreNotWaitedFor) {
  Scenario("signal_completed 0\nfault bad_status DEV_GET_PRODUCT\nfault bad_status DEV_GET_VERSION host_status=0x11\n");
  AspiTransport patient{library};  // the 30-second wait, which none of these may reach
  patient.BeginJob();
  ASSERT_TRUE(patient.Available() && patient.CreateEvent());
  DeviceLink patientLink{patient, log};
  const DWORD start = GetTickCount();
  ASSERT_TRUE(patientLink.TestUnitReady());
  PageBuffer page{};
  ASSERT_TRUE(patientLink.ReadPage(0x10, 1, PageArea::Firmware, page));
  EXPECT_FALSE(patientLink.QueryProduct(ProductQuery::Product).ok);
  EXPECT_FALSE(patientLink.QueryProduct(ProductQuery::Version).ok);  // the adapter's own failure
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_EQ(patient.retiredRequests(), 0u);
  EXPECT_EQ(test::StripNumbers(window.allStatus),
            (std::vector<std::string>{test::kAspiCheckConditionLine,
                                      "ASPI SRB_Status=0x04 HaStat=0x11 TargetStat=0x00"}));
}

// What the transport cannot see: a layer that finishes a request at the send signals its
// event by default, and leaves it alone when told not to.
TEST_F(AspiEmulatorTest, ARequestCompletedAtTheSendSignalsItsEventUnlessTheAdapterDoesNot) {
  for (const bool signals : {true, false}) {
    SCOPED_TRACE(signals);
    Scenario(signals ? "" : "signal_completed 0\n");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    SrbExecScsiCmd srb{};  // TEST UNIT READY to adapter 0, target 0
    srb.cmd = SC_EXEC_SCSI_CMD;
    srb.flags = SRB_EVENT_NOTIFY;
    srb.postProc = event;
    srb.cdbLen = 6;
    srb.senseLen = kAspiSenseLength;
    library.SendCommand(&srb);
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(WaitForSingleObject(event, 0), signals ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    CloseHandle(event);
  }
}

// A copy beside the running program (where Windows looks first, and where it would stand in
// for the real ASPI layer) refuses to load; from its own folder it loads.
TEST(AspiEmulatorDll, RefusesToLoadFromTheProgramsFolder) {
  char self[MAX_PATH + 1] = {};
  ASSERT_NE(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string beside(self);
  beside = beside.substr(0, beside.find_last_of("\\/") + 1) + "wnaspi32-beside-the-program.dll";
  const std::string built = std::string(ROMSETTER_BINARY_DIR) + "/aspi-emulator/wnaspi32.dll";
  ASSERT_TRUE(CopyFileA(built.c_str(), beside.c_str(), FALSE)) << GetLastError();
  HMODULE copy = LoadLibraryA(beside.c_str());
  if (copy != nullptr) FreeLibrary(copy);
  DeleteFileA(beside.c_str());
  EXPECT_EQ(copy, nullptr);
  HMODULE own = LoadLibraryA(built.c_str());
  EXPECT_NE(own, nullptr);
  if (own != nullptr) FreeLibrary(own);
}

TEST_F(AspiEmulatorTest, AvailabilityNeedsAdaptersAGoodStatusAndAWholeLibrary) {
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

  Win32AspiLibrary other;
  EXPECT_FALSE(other.Load("kernel32.dll"));  // lacks the entry points
  EXPECT_FALSE(AspiTransport(other).Available());
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
