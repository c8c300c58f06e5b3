// The transport contract over the emulated drive and over ASPI with the emulated library.
#include "support/transport_conformance.h"

#include "device/aspi_transport.h"

namespace romsetter::test {
namespace {

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
}  // namespace romsetter::test
