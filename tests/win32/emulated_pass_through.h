#pragma once
// Plays the storage driver behind PassThroughTransport, as wine has none that takes the block:
// decodes the direct-transfer block, runs the command on an emulated device and writes the
// SCSI status (and with CHECK CONDITION the sense data asked for) back, or fails the call with
// the error a driver would give.  Like a real adapter it refuses a data buffer that misses its
// `alignmentMask` with ERROR_INVALID_PARAMETER.
#include <windows.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "emulator/emulated_device.h"

namespace romsetter::test {

inline bool EmulatedPassThrough(EmulatedDevice& device, void* in, void* out, std::uintptr_t alignmentMask = 0) {
  SCSI_PASS_THROUGH_DIRECT spt;
  std::memcpy(&spt, in, sizeof spt);
  if ((reinterpret_cast<std::uintptr_t>(spt.DataBuffer) & alignmentMask) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const EmulatedResult result =
      device.Execute(spt.Cdb, spt.CdbLength, spt.DataIn == SCSI_IOCTL_DATA_IN ? DataDirection::In : DataDirection::Out,
                     static_cast<std::uint8_t*>(spt.DataBuffer), spt.DataTransferLength);
  if (result.outcome != EmulatedOutcome::Completed) {
    SetLastError(result.outcome == EmulatedOutcome::NoCompletion ? ERROR_SEM_TIMEOUT : ERROR_GEN_FAILURE);
    return false;
  }
  auto* record = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
  record->ScsiStatus = result.statusGood ? 0 : 2;
  if (result.statusGood) {
    record->SenseInfoLength = 0;
  } else if (spt.SenseInfoLength != 0) {
    const std::size_t length = std::min<std::size_t>(spt.SenseInfoLength, 18);
    FillEmulatedSense(static_cast<std::uint8_t*>(out) + spt.SenseInfoOffset, length);
    record->SenseInfoLength = static_cast<UCHAR>(length);
  }
  return true;
}

}  // namespace romsetter::test
