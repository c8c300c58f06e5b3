#include "emulator/emulated_transport.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "device/aspi_transport.h"
#include "device/vendor_commands.h"

namespace romsetter {
namespace {

ScsiRequest VendorRequest(std::uint8_t code, DataDirection direction, std::uint8_t* buffer, std::uint32_t length) {
  ScsiRequest r;
  r.cdb[0] = kVendorOpcode;
  r.cdb[1] = code;
  r.direction = direction;
  r.buffer = buffer;
  r.length = length;
  return r;
}

EmulatorFault Fault(FaultKind kind, const char* command) {
  EmulatorFault f;
  f.kind = kind;
  f.command = command;
  return f;
}

TEST(EmulatedTransport, OpensOnlyItsDriveWhileAttached) {
  EmulatedDevice device;
  EmulatedTransport t(device, 'F');
  std::uint32_t error = 0;
  EXPECT_FALSE(t.OpenDrive("\\\\.\\E:", error));
  EXPECT_EQ(error, EmulatedTransport::kNotFoundError);
  EXPECT_FALSE(t.OpenDrive("F:", error));
  EXPECT_TRUE(t.OpenDrive("\\\\.\\F:", error));
  EXPECT_TRUE(t.DriveOpen());
  t.CloseDrive();
  device.Detach();
  EXPECT_FALSE(t.OpenDrive("\\\\.\\F:", error));
  EXPECT_FALSE(t.DriveOpen());
}

TEST(EmulatedTransport, MapsOutcomesToPassThroughResults) {
  EmulatedDevice device;
  EmulatedTransport t(device);
  std::uint8_t buffer[512] = {};
  EXPECT_TRUE(t.Execute(VendorRequest(FONT_END_OF_UPDATE, DataDirection::Out, buffer, 0)).statusGood);

  const ScsiResult bad = t.Execute(VendorRequest(0x08, DataDirection::Out, buffer, 0));
  EXPECT_TRUE(bad.delivered);
  EXPECT_FALSE(bad.statusGood);

  device.AddFault(Fault(FaultKind::NoCompletion, "DEV_GET_VERSION"));
  const ScsiResult hung = t.Execute(VendorRequest(DEV_GET_VERSION, DataDirection::In, buffer, 8));
  EXPECT_FALSE(hung.delivered);
  EXPECT_EQ(hung.systemError, EmulatedTransport::kTimeoutError);

  device.AddFault(Fault(FaultKind::NotDelivered, "DEV_GET_PRODUCT"));
  const ScsiResult lost = t.Execute(VendorRequest(DEV_GET_PRODUCT, DataDirection::In, buffer, 20));
  EXPECT_FALSE(lost.delivered);
  EXPECT_EQ(lost.systemError, EmulatedTransport::kFailureError);
  EXPECT_EQ(t.requests().size(), 4u);
  EXPECT_EQ(t.requests()[3].cdb[1], DEV_GET_PRODUCT);
}

class EmulatedAspi : public ::testing::Test {
 protected:
  EmulatedAspi() : library({&other, &device}) {
    device.config().adapterId = 1;
    device.config().targetId = 2;
    event = library.CreateCompletionEvent();
  }

  SrbExecScsiCmd Block(std::uint8_t code, std::uint8_t flags, std::uint32_t length) {
    SrbExecScsiCmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.cmd = SC_EXEC_SCSI_CMD;
    srb.haId = 1;
    srb.target = 2;
    srb.flags = flags;
    srb.bufLen = length;
    srb.bufPointer = buffer;
    srb.cdbLen = 12;
    srb.postProc = event;
    srb.cdbByte[0] = kVendorOpcode;
    srb.cdbByte[1] = code;
    return srb;
  }

  EmulatedDevice device;
  EmulatedDevice other;
  EmulatedAspiLibrary library;
  void* event = nullptr;
  std::uint8_t buffer[1024] = {};
};

TEST_F(EmulatedAspi, CompletedCommandsSignalTheEventOnce) {
  SrbExecScsiCmd srb = Block(UPT_FW_GET_SIZE, SRB_DIR_IN | SRB_EVENT_NOTIFY, 10);
  // Completion happens during the wait, as with a real library: pending right after the send.
  EXPECT_EQ(library.SendCommand(&srb), SS_PENDING);
  EXPECT_EQ(ReadBe16(buffer), device.config().firmware.size);
  EXPECT_TRUE(library.WaitCompletion(event, 30000));
  EXPECT_EQ(srb.status, SS_COMP);
  EXPECT_FALSE(library.WaitCompletion(event, 30000));  // auto-reset
  EXPECT_EQ(library.waits(), 2);
  EXPECT_EQ(library.lastWaitMs(), 30000u);

  srb = Block(0x08, SRB_DIR_OUT | SRB_EVENT_NOTIFY, 0);
  EXPECT_EQ(library.SendCommand(&srb), SS_PENDING);
  EXPECT_TRUE(library.WaitCompletion(event, 1));
  EXPECT_EQ(srb.status, SS_ERR);
  ASSERT_EQ(library.sent().size(), 2u);
  EXPECT_EQ(library.sent()[1].status, SS_PENDING);  // copied as sent, before completion
}

TEST_F(EmulatedAspi, RefusedAndHungCommandsLeaveTheEventAlone) {
  SrbExecScsiCmd srb = Block(DEV_GET_VERSION, SRB_DIR_IN | SRB_EVENT_NOTIFY, 8);
  srb.target = 5;
  EXPECT_EQ(library.SendCommand(&srb), SS_NO_DEVICE);

  device.AddFault(Fault(FaultKind::NotDelivered, "DEV_GET_VERSION"));
  srb = Block(DEV_GET_VERSION, SRB_DIR_IN | SRB_EVENT_NOTIFY, 8);
  EXPECT_EQ(library.SendCommand(&srb), SS_NO_DEVICE);
  EXPECT_FALSE(library.WaitCompletion(event, 30000));

  device.AddFault(Fault(FaultKind::NoCompletion, "DEV_GET_PRODUCT"));
  srb = Block(DEV_GET_PRODUCT, SRB_DIR_IN | SRB_EVENT_NOTIFY, 20);
  EXPECT_EQ(library.SendCommand(&srb), SS_PENDING);
  EXPECT_FALSE(library.WaitCompletion(event, 30000));

  srb.cmd = 0x01;  // only execute-SCSI requests are known
  EXPECT_NE(library.SendCommand(&srb), SS_COMP);
}

TEST_F(EmulatedAspi, DrivesTheAspiTransport) {
  library.CloseCompletionEvent(event);
  EXPECT_EQ(library.openEvents(), 0);
  library.SetSupport(1, 1);
  EXPECT_EQ(library.GetSupportInfo(), 0x0101u);
  AspiTransport transport(library);
  transport.BeginJob();
  ASSERT_TRUE(transport.Available());
  ASSERT_TRUE(transport.CreateEvent());

  ScsiRequest query = VendorRequest(UPT_BOOT_GET_SIZE, DataDirection::In, nullptr, 10);
  query.adapterId = 1;
  query.targetId = 2;
  const ScsiResult r = transport.Execute(query);
  EXPECT_TRUE(r.delivered && r.statusGood);
  EXPECT_EQ(ReadBe16(transport.TransferBuffer()), device.config().boot.size);
  EXPECT_EQ(other.trace().size(), 0u);
  transport.EndJob();
  EXPECT_EQ(library.openEvents(), 0);
}

}  // namespace
}  // namespace romsetter
