#include "device/aspi_transport.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace romsetter {

namespace {
constexpr std::uint32_t kWaitSignalled = 0;      // WAIT_OBJECT_0
constexpr std::uint32_t kWaitTimedOut = 0x102;   // WAIT_TIMEOUT
}  // namespace

AspiTransport::AspiTransport(AspiLibrary& library, std::uint32_t waitMs) : library_(library), waitMs_(waitMs) {}

AspiTransport::~AspiTransport() {
  EndJob();
  for (Retired& r : retired_) {
    if (r.event != nullptr) library_.CloseCompletionEvent(r.event);
  }
}

void AspiTransport::BeginJob() {
  block_ = std::make_unique<RequestBlock>();
  buffer_ = std::make_unique<TransferBlock>();
  std::memset(block_.get(), 0, sizeof(RequestBlock));
  buffer_->fill(0);
}

bool AspiTransport::Available() {
  const std::uint32_t info = library_.GetSupportInfo();
  adapterCount_ = static_cast<std::uint8_t>(info & 0xFF);
  supportStatus_ = static_cast<std::uint8_t>((info >> 8) & 0xFF);
  return adapterCount_ != 0 && supportStatus_ == SS_COMP;
}

bool AspiTransport::CreateEvent() {
  if (event_ == nullptr) event_ = library_.CreateCompletionEvent();
  return event_ != nullptr;
}

void AspiTransport::EndJob() {
  block_.reset();
  buffer_.reset();
  if (event_ != nullptr) {
    library_.CloseCompletionEvent(event_);
    event_ = nullptr;
  }
}

void AspiTransport::FillBlock(RequestBlock& block, const ScsiRequest& request) {
  std::memset(&block, 0, sizeof block);
  SrbExecScsiCmd& srb = block.srb;
  srb.cmd = SC_EXEC_SCSI_CMD;
  const ScsiTarget address = request.target.value_or(address_);
  srb.haId = address.adapter;
  srb.flags = static_cast<std::uint8_t>((request.direction == DataDirection::In ? SRB_DIR_IN : SRB_DIR_OUT) |
                                        SRB_EVENT_NOTIFY);
  srb.target = address.target;
  srb.lun = 0;
  srb.bufLen = request.length;
  srb.bufPointer = buffer_->data();
  srb.senseLen = kAspiSenseLength;
  srb.cdbLen = request.cdbLength;
  srb.postProc = event_;
  std::memcpy(srb.cdbByte, request.cdb.data(), std::min<std::size_t>(request.cdbLength, sizeof srb.cdbByte));
}

void AspiTransport::Retire(std::unique_ptr<RequestBlock> block, bool withBuffer) {
  Retired r{std::move(block), nullptr, event_};
  if (withBuffer) {
    // The next command still sees the buffer's last content, as with a shared buffer.
    auto fresh = std::make_unique<TransferBlock>(*buffer_);
    r.buffer = std::move(buffer_);
    buffer_ = std::move(fresh);
  }
  retired_.push_back(std::move(r));
  event_ = library_.CreateCompletionEvent();
}

ScsiResult AspiTransport::Execute(const ScsiRequest& request) {
  if (!block_ || !buffer_ || event_ == nullptr || request.length > kTransferBufferSize) return ScsiResult{};
  if (request.direction == DataDirection::Out && request.dataOut != nullptr) {
    std::memcpy(buffer_->data(), request.dataOut, request.length);
  } else if (request.direction == DataDirection::In && request.replyOverDestination && request.dataIn != nullptr) {
    std::memcpy(buffer_->data(), request.dataIn, request.length);
  }
  const ScsiResult result = Send(request);
  // The reply is what the shared buffer holds, whatever the outcome; after a time-out the
  // fresh buffer holds a copy of the retired one.
  if (request.direction == DataDirection::In && request.dataIn != nullptr) {
    std::memcpy(request.dataIn, buffer_->data(), request.length);
  }
  return result;
}

ScsiResult AspiTransport::Send(const ScsiRequest& request) {
  ScsiResult result;
  std::unique_ptr<RequestBlock> own;
  RequestBlock* block = block_.get();
  if (request.separateRequest) {
    own = std::make_unique<RequestBlock>();
    block = own.get();
  }
  FillBlock(*block, request);
  library_.SendCommand(&block->srb);

  const std::uint8_t status = block->srb.status;
  if (status == SS_COMP) {
    // Finished before the send returned: a layer need not signal such a request, and a wait
    // would stall it for the whole wait and lose it.  A zero-time wait takes a signal that
    // was set, so it cannot end the next request's wait early.
    lastWaitResult_ = library_.WaitCompletion(event_, 0) ? kWaitSignalled : kWaitTimedOut;
  } else if (status == SS_PENDING) {
    const bool signalled = library_.WaitCompletion(event_, waitMs_);
    lastWaitResult_ = signalled ? kWaitSignalled : kWaitTimedOut;
    if (!signalled) {
      // A hung request may keep its target busy: ask the layer to give it up.
      library_.AbortRequest(&block->srb);
      // The library may still write into this block, the buffer and signal the event.
      if (own) {
        Retire(std::move(own), true);
      } else {
        Retire(std::move(block_), true);
        block_ = std::make_unique<RequestBlock>();
      }
      return result;
    }
  }
  result.delivered = true;
  const SrbExecScsiCmd& srb = block->srb;
  result.statusGood = srb.status == SS_COMP;
  if (srb.status == SS_ERR) {
    // Completed with an error: the layer says what the adapter and the target reported.
    result.detail.known = true;
    result.detail.aspi = true;
    result.detail.requestStatus = srb.status;
    result.detail.hostStatus = srb.haStat;
    result.detail.targetStatus = srb.targStat;
    ReadSenseData(srb.senseArea, std::min<std::size_t>(srb.senseLen, sizeof srb.senseArea), result.detail);
  }
  library_.ResetCompletion(event_);
  return result;
}

}  // namespace romsetter
