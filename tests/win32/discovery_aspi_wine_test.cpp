// The ASPI target scan for real: Win32AspiLibrary over the emulator wnaspi32.dll, with
// system events, several adapters, and a target whose wait runs out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/discovery_fakes.h"
#include "device/win32/win32_aspi_library.h"
#include "support/test_support.h"
#include "win32/emulator_dll.h"

namespace romsetter {
namespace {

TEST(AspiDiscoveryUnderWine, ProbeScansAdaptersAndQueriesTheProductOfTheOneThatMatches) {
  const std::string dir = test::ScratchDir("AspiDiscoveryUnderWine");
  test::EmulatorDll dll;
  ASSERT_TRUE(dll.Loaded());
  test::WriteFile(dir + "/scenario.cfg",
                  "adapters 2\n"
                  "[device 0 0]\n"
                  "inquiry \"Generic USB Flash Disk  1.00\"\n"
                  "vendor_commands no\n"
                  "[device 0 2]\n"
                  "fault no_completion INQUIRY\n"
                  "[device 1 5]\n"
                  "version \"09.08.07\"\n"
                  "product \"MV-3 Player\"\n");
  ASSERT_TRUE(dll.LoadScenario(dir + "/scenario.cfg"));
  Win32AspiLibrary library;
  ASSERT_TRUE(library.Load());

  test::RecordingWindow window;
  ActivityLog log(dir + "/r.log", window);
  Selections selections;
  AspiTransport transport(library, 200);
  DeviceLink link(transport, log, window, selections);
  test::MemoryProfileStore store;
  store.Set("DiskVen_98", "DiskVen_00", "Morvent  USB-MSC Disk INT   ");
  ProcessState process;
  InMemoryDeviceRegistry registry;
  DeviceDiscovery discovery(link, store, process, registry);

  ASSERT_TRUE(discovery.ProbeDevice(true));
  EXPECT_TRUE(link.devicePresent);
  EXPECT_EQ(link.adapterId, 1);
  EXPECT_EQ(link.targetId, 5);
  EXPECT_EQ(window.versionLine, "Ver:09.08.07  Product:MV-3 Player");
  const std::vector<std::string> lines =
      test::StripNumbers(std::vector<std::string>(window.allStatus.begin(), window.allStatus.end()));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Sets:\"\" len=0", "Gets:\"Generic USB Flash Disk  1.00\" len=28",
                       "Gets:\"Morvent  USB-MSC Disk INT   \" len=28", "Bingo m_AdapterId=1 m_TargetId=5!",
                       // the product query's own scan, with the text as read: no trailing blanks
                       "Sets:\"Morvent  USB-MSC Disk INT\" len=25", "Gets:\"Generic USB Flash Disk  1.00\" len=28",
                       "Gets:\"Morvent  USB-MSC Disk INT   \" len=28", "Bingo m_AdapterId=1 m_TargetId=5!"}));
  const std::vector<std::string> trace = dll.Trace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()),
            (std::vector<std::string>{"SCSI_TST_U_RDY 1 5 0x00000000 0 0", "DEV_GET_VERSION 1 5 0x00000000 0 8",
                                      "DEV_GET_PRODUCT 1 5 0x00000000 0 20"}));
  EXPECT_FALSE(transport.InJob());
}

}  // namespace
}  // namespace romsetter
