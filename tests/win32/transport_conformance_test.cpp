// The transport contract over the Windows backends: pass-through with an emulated driver (wine
// refuses the pass-through on ordinary drives) and ASPI through the emulator wnaspi32.dll.
#include "support/transport_conformance.h"

#include <windows.h>
#undef CreateEvent  // the transport's method, not the system function

#include <algorithm>
#include <cstring>
#include <tuple>

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
  // What the storage driver is handed for every command: one direct-transfer block, in place,
  // a data buffer also without a data phase, and the sense data asked for in the zeroed room
  // behind the record.  Some USB readers refuse a buffer that misses their adapter's alignment
  // mask; this driver asks a page-sized one, which every transfer must meet.
  bool Driver(std::uint32_t code, void* in, std::uint32_t inSize, void* out, std::uint32_t outSize) {
    SCSI_PASS_THROUGH_DIRECT r;
    std::memcpy(&r, in, sizeof r);
    EXPECT_EQ(std::make_tuple(code, inSize, outSize, in == out), std::make_tuple(0x4D014u, 80u, 80u, true));
    EXPECT_EQ(std::make_tuple(int{r.Length}, int{r.SenseInfoLength}, r.SenseInfoOffset, r.TimeOutValue),
              std::make_tuple(int{PassThroughTransport::kRecordSize}, int{PassThroughTransport::kSenseLength},
                              static_cast<ULONG>(PassThroughTransport::kRecordSize), 2000u));
    EXPECT_NE(r.DataBuffer, nullptr);
    const auto* room = static_cast<const std::uint8_t*>(in) + sizeof r;
    EXPECT_EQ(std::count(room, room + (inSize - sizeof r), 0), static_cast<std::ptrdiff_t>(inSize - sizeof r));
    return EmulatedPassThrough(device, in, out, 0xFFF);
  }

  PassThroughTransport drive{
      [this](void*, std::uint32_t code, void* in, std::uint32_t inSize, void* out, std::uint32_t outSize,
             std::uint32_t*) { return Driver(code, in, inSize, out, outSize); }};
};

struct AspiLibraryMaker {
  static constexpr TransportFamily kFamily = TransportFamily::Aspi;
  // The library reports its failures in the request, never as a system error.
  static constexpr std::uint32_t kNotDeliveredError = 0;
  static constexpr std::uint32_t kTimedOutError = 0;
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
