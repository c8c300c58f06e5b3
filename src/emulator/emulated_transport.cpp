#include "emulator/emulated_transport.h"

#include <algorithm>

namespace romsetter {

namespace {
constexpr std::uint8_t kInvalidSrb = 0xE0;      // SS_INVALID_SRB
constexpr std::uint8_t kCheckCondition = 0x02;  // target status of a failed command
}  // namespace

EmulatedTransport::EmulatedTransport(EmulatedDevice& device, char driveLetter)
    : device_(device), driveLetter_(driveLetter) {}

bool EmulatedTransport::OpenDrive(const std::string& devicePath, std::uint32_t& systemError) {
  const std::string expected = std::string("\\\\.\\") + driveLetter_ + ":";
  if (devicePath != expected || !device_.attached() || openError != 0) {
    open_ = false;
    systemError = devicePath == expected && openError != 0 ? openError : kNotFoundError;
    return false;
  }
  open_ = true;
  systemError = 0;
  return true;
}

bool EmulatedTransport::LockVolume(std::uint32_t& systemError) {
  ++locks;
  systemError = open_ ? lockError : kInvalidHandleError;
  return systemError == 0;
}

ScsiResult EmulatedTransport::ExecuteDirect(const ScsiRequest& request, std::uint8_t* buffer) {
  requests_.push_back(request);
  ScsiResult result;
  if (!open_) {
    result.systemError = kInvalidHandleError;
    return result;
  }
  const std::uint8_t cdbLength = std::min<std::uint8_t>(request.cdbLength, static_cast<std::uint8_t>(request.cdb.size()));
  const EmulatedResult r =
      device_.Execute(request.cdb.data(), cdbLength, request.direction, buffer, request.length);
  switch (r.outcome) {
    case EmulatedOutcome::Completed:
      result.delivered = true;
      result.statusGood = r.statusGood;
      break;
    case EmulatedOutcome::NotDelivered:
      result.systemError = kFailureError;
      break;
    case EmulatedOutcome::NoCompletion:
      result.systemError = kTimeoutError;
      break;
  }
  return result;
}

EmulatedAspiLibrary::EmulatedAspiLibrary(std::vector<EmulatedDevice*> devices, std::uint8_t adapterCount,
                                         std::uint8_t supportStatus)
    : devices_(std::move(devices)), adapterCount_(adapterCount), supportStatus_(supportStatus) {}

std::uint32_t EmulatedAspiLibrary::GetSupportInfo() {
  return std::uint32_t{adapterCount_} | (std::uint32_t{supportStatus_} << 8);
}

void EmulatedAspiLibrary::SetSupport(std::uint8_t adapterCount, std::uint8_t supportStatus) {
  adapterCount_ = adapterCount;
  supportStatus_ = supportStatus;
}

std::uint32_t EmulatedAspiLibrary::SendCommand(SrbExecScsiCmd* srb) {
  if (srb == nullptr) return kInvalidSrb;
  sent_.push_back(*srb);
  if (srb->cmd != SC_EXEC_SCSI_CMD) {
    srb->status = kInvalidSrb;
    return srb->status;
  }
  EmulatedDevice* device = nullptr;
  if (srb->lun == 0) {
    for (EmulatedDevice* d : devices_) {
      if (d != nullptr && d->config().adapterId == srb->haId && d->config().targetId == srb->target) {
        device = d;
        break;
      }
    }
  }
  if (device == nullptr) {
    srb->status = SS_NO_DEVICE;
    return srb->status;
  }

  srb->status = SS_PENDING;
  srb->haStat = 0;
  srb->targStat = 0;
  const DataDirection direction = (srb->flags & SRB_DIR_IN) != 0 ? DataDirection::In : DataDirection::Out;
  const std::uint8_t cdbLength = std::min<std::uint8_t>(srb->cdbLen, static_cast<std::uint8_t>(sizeof srb->cdbByte));
  const EmulatedResult r = device->Execute(srb->cdbByte, cdbLength, direction, srb->bufPointer, srb->bufLen);
  switch (r.outcome) {
    case EmulatedOutcome::Completed:
      srb->status = r.statusGood ? SS_COMP : SS_ERR;
      srb->haStat = r.hostStatus;
      if (!r.statusGood && r.hostStatus == 0) {
        srb->targStat = kCheckCondition;
        FillEmulatedSense(srb->senseArea, std::min<std::size_t>(srb->senseLen, sizeof srb->senseArea));
      }
      // Only an event-notify request names an event; otherwise postProc would be a callback.
      if ((srb->flags & SRB_EVENT_NOTIFY) != 0 && signalsCompletion_) {
        if (CompletionEvent* e = events_.Find(srb->postProc)) {
          e->signalled = true;
          e->completing = srb;
          e->finalStatus = srb->status;
          srb->status = SS_PENDING;
        }
      }
      break;
    case EmulatedOutcome::NotDelivered:
      srb->status = SS_NO_DEVICE;
      break;
    case EmulatedOutcome::NoCompletion:
      break;  // stays pending; nothing ever signals it
  }
  return srb->status;
}

void EmulatedAspiLibrary::AbortRequest(SrbExecScsiCmd* srb) {
  ++aborts_;
  // A request still pending ends as aborted, and its event is signalled, as a layer does.
  if (srb == nullptr || srb->status != SS_PENDING) return;
  srb->status = SS_ABORTED;
  if (CompletionEvent* e = events_.Find(srb->postProc)) e->signalled = true;
}

void* EmulatedAspiLibrary::CreateCompletionEvent() { return events_.Create(); }

bool EmulatedAspiLibrary::WaitCompletion(void* event, std::uint32_t ms) {
  ++waits_;
  lastWaitMs_ = ms;
  return events_.Take(event);
}

void EmulatedAspiLibrary::ResetCompletion(void* event) { events_.Reset(event); }

void EmulatedAspiLibrary::CloseCompletionEvent(void* event) { events_.Close(event); }

}  // namespace romsetter
