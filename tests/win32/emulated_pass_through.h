#pragma once
// Plays the storage driver behind PassThroughTransport, as wine has none that takes the block:
// decodes the direct-transfer block, runs the command on an emulated device and writes the
// SCSI status back, or fails the call with the error a driver would give.
#include <windows.h>
#include <ntddscsi.h>

#include <cstring>

#include "emulator/emulated_device.h"

namespace romsetter::test {

inline bool EmulatedPassThrough(EmulatedDevice& device, void* in, void* out) {
  SCSI_PASS_THROUGH_DIRECT spt;
  std::memcpy(&spt, in, sizeof spt);
  const EmulatedResult result =
      device.Execute(spt.Cdb, spt.CdbLength, spt.DataIn == SCSI_IOCTL_DATA_IN ? DataDirection::In : DataDirection::Out,
                     static_cast<std::uint8_t*>(spt.DataBuffer), spt.DataTransferLength);
  if (result.outcome != EmulatedOutcome::Completed) {
    SetLastError(result.outcome == EmulatedOutcome::NoCompletion ? ERROR_SEM_TIMEOUT : ERROR_GEN_FAILURE);
    return false;
  }
  static_cast<SCSI_PASS_THROUGH_DIRECT*>(out)->ScsiStatus = result.statusGood ? 0 : 2;
  return true;
}

}  // namespace romsetter::test
