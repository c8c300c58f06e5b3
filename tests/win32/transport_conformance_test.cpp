// The transport contract over the Windows backends: pass-through with an emulated driver (wine
// refuses the pass-through on ordinary drives) and ASPI through the emulator wnaspi32.dll.
#include "support/transport_conformance.h"

#include <windows.h>
#undef CreateEvent  // the transport's method, not the system function

#include "device/aspi_transport.h"
#include "device/win32/pass_through_transport.h"
#include "device/win32/win32_aspi_library.h"
#include "support/test_support.h"
#include "win32/emulated_pass_through.h"
#include "win32/emulator_dll.h"

namespace romsetter::test {
namespace {

struct PassThroughMaker : InProcessDevice {
  static constexpr TransportFamily kFamily = TransportFamily::PassThrough;
  explicit PassThroughMaker(const std::string& deviceLines) : InProcessDevice(deviceLines) {
    const std::string path = ScratchDir("conformance_drive") + "\\drive.bin";  // any file opens as the drive
    WriteFile(path, "");
    std::uint32_t error = 0;
    EXPECT_TRUE(drive.OpenDrive(path, error));
  }
  ScsiTransport& transport() { return drive; }

  PassThroughTransport drive{[this](void*, std::uint32_t, void* in, std::uint32_t, void* out, std::uint32_t,
                                    std::uint32_t*) { return EmulatedPassThrough(device, in, out); }};
};

struct AspiLibraryMaker {
  static constexpr TransportFamily kFamily = TransportFamily::Aspi;
  explicit AspiLibraryMaker(const std::string& deviceLines) {
    const std::string path = ScratchDir("conformance_aspi") + "\\scenario.cfg";
    WriteFile(path, ConformanceScenario(deviceLines));
    EXPECT_TRUE(dll.LoadScenario(path) && library.Load());
    aspi.BeginJob();
    EXPECT_TRUE(aspi.Available() && aspi.CreateEvent());
    aspi.SetDeviceAddress(kConformanceTarget);
  }
  ScsiTransport& transport() { return aspi; }
  // The commands the devices took: an abort the library got is not one.
  std::vector<std::string> Received() {
    std::vector<std::string> commands;
    for (const std::string& line : dll.Trace()) {
      if (line.rfind("ABORT ", 0) != 0) commands.push_back(line);
    }
    return commands;
  }
  EmulatorDll dll;
  Win32AspiLibrary library;
  AspiTransport aspi{library, 200};  // a short wait keeps the time-out quick
};

INSTANTIATE_TYPED_TEST_SUITE_P(PassThrough, TransportConformance, PassThroughMaker);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32Aspi, TransportConformance, AspiLibraryMaker);

}  // namespace
}  // namespace romsetter::test
