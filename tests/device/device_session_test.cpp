// The sessions: each hands out its own family's transport and rules, and an ASPI job's
// request block, buffer and event go when its scope ends, whatever ended it.
#include "device/device_session.h"

#include <gtest/gtest.h>

#include "app/activity_log.h"
#include "device/device_link.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

TEST(DeviceSession, HandsOutItsFamilysTransportAndRules) {
  EmulatedDevice device{EmulatedDeviceConfig{}};
  EmulatedTransport drive(device);
  EmulatedAspiLibrary library({&device});
  AspiTransport aspi(library);
  const auto overDrive = MakeDriveSession(drive);
  const auto overAspi = MakeAspiSession(aspi);
  EXPECT_EQ(&overDrive->Transport(), &drive);
  EXPECT_EQ(&overAspi->Transport(), &aspi);
  EXPECT_EQ(overDrive->rules().family, TransportFamily::PassThrough);
  EXPECT_EQ(overAspi->rules().family, TransportFamily::Aspi);
  EXPECT_EQ(overDrive->rules().formatCdbLength, 6);
  EXPECT_EQ(overAspi->rules().formatCdbLength, 12);
}

TEST(AspiJob, ReleasesBlockBufferAndEventOnEveryPath) {
  EmulatedDevice device{EmulatedDeviceConfig{}};
  EmulatedAspiLibrary library({&device});
  AspiTransport aspi(library, 10);
  AspiSession session(aspi);
  for (const std::uint8_t support : {1, 0}) {  // usable, then no ASPI support: the job ends early
    library.SetSupport(1, support);
    {
      AspiJob job(session);
      EXPECT_TRUE(aspi.InJob());
      EXPECT_EQ(job.Ready(), support == 1);
      EXPECT_EQ(library.openEvents(), support == 1 ? 1 : 0);
    }
    EXPECT_FALSE(aspi.InJob());
    EXPECT_EQ(aspi.TransferBuffer(), nullptr);
    EXPECT_EQ(library.openEvents(), 0);
  }
}

// The library may still complete a request whose wait ran out, so its block, buffer and event
// outlive the job; the next job gets fresh ones.
TEST(AspiJob, ARequestThatTimedOutStaysRetiredAfterTheJobEnds) {
  EmulatedDevice device{EmulatedDeviceConfig{}};
  device.AddFault({FaultKind::NoCompletion, "SCSI_TST_U_RDY"});
  EmulatedAspiLibrary library({&device});
  AspiTransport aspi(library, 10);
  AspiSession session(aspi);
  test::RecordingWindow window;
  ActivityLog log(test::ScratchDir("aspi_job") + "/r.log", window);
  DeviceLink link(aspi, log);
  {
    AspiJob job(session);
    ASSERT_TRUE(job.Ready());
    EXPECT_FALSE(link.TestUnitReady());
  }
  EXPECT_EQ(aspi.retiredRequests(), 1u);
  EXPECT_EQ(library.openEvents(), 1);  // the retired request's, never closed
  device.config().faults.clear();
  AspiJob job(session);
  ASSERT_TRUE(job.Ready());
  EXPECT_TRUE(link.TestUnitReady());
}

}  // namespace
}  // namespace romsetter
