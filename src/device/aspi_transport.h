#pragma once
// ASPI for Win32: one request block, one transfer buffer and one completion event per job.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/aspi_library.h"
#include "device/scsi_transport.h"

namespace romsetter {

class AspiTransport final : public ScsiTransport {
 public:
  static constexpr std::uint32_t kDefaultWaitMs = 30000;
  static constexpr std::size_t kRequestBlockSize = 256;
  static constexpr std::size_t kTransferBufferSize = 1024;

  explicit AspiTransport(AspiLibrary& library, std::uint32_t waitMs = kDefaultWaitMs);
  ~AspiTransport() override;
  AspiTransport(const AspiTransport&) = delete;
  AspiTransport& operator=(const AspiTransport&) = delete;

  TransportFamily Family() const override { return TransportFamily::Aspi; }

  // Job resources: allocate the request block and the transfer buffer.  Outside the device
  // layer's own tests a job is an AspiJob (device_session.h), which pairs these for good.
  void BeginJob();
  // The support-info test: usable when there is an adapter and the status is 1.
  bool Available();
  // Creates the completion event; false when the system gives none.
  bool CreateEvent();
  // Releases the block, the buffer and the event of the job.
  void EndJob();
  bool InJob() const { return block_ != nullptr; }

  std::uint8_t adapterCount() const { return adapterCount_; }
  std::uint8_t supportStatus() const { return supportStatus_; }
  std::uint32_t lastWaitResult() const { return lastWaitResult_; }

  // The device's address, set by the target scan and kept until a scan matches elsewhere.
  void SetDeviceAddress(ScsiTarget address) { address_ = address; }
  ScsiTarget deviceAddress() const { return address_; }

  // The shared transfer buffer (1024 bytes) of the job, for tests to look at.  Null outside a job.
  const std::uint8_t* TransferBuffer() const { return buffer_ ? buffer_->data() : nullptr; }

  // Data travels in the shared transfer buffer: a payload is copied in before the send and a
  // reply copied out after it.  Fails undelivered outside a job (no block, buffer or event).
  ScsiResult Execute(const ScsiRequest& request) override;

  std::size_t retiredRequests() const { return retired_.size(); }

 private:
  struct RequestBlock {
    SrbExecScsiCmd srb;
    std::uint8_t reserved[kRequestBlockSize - sizeof(SrbExecScsiCmd)];
  };
  using TransferBlock = std::array<std::uint8_t, kTransferBufferSize>;
  // A request whose wait ran out may still be completed by the library into its block and
  // buffer and signal its event later, so all three are kept, untouched, for the life of
  // the transport instead of being reused or released.
  struct Retired {
    std::unique_ptr<RequestBlock> block;
    std::unique_ptr<TransferBlock> buffer;
    void* event;
  };

  ScsiResult Send(const ScsiRequest& request);
  void FillBlock(RequestBlock& block, const ScsiRequest& request);
  void Retire(std::unique_ptr<RequestBlock> block, bool withBuffer);

  AspiLibrary& library_;
  std::uint32_t waitMs_;
  std::unique_ptr<RequestBlock> block_;
  std::unique_ptr<TransferBlock> buffer_;
  void* event_ = nullptr;
  std::uint8_t adapterCount_ = 0;
  std::uint8_t supportStatus_ = 0;
  std::uint32_t lastWaitResult_ = 0;
  ScsiTarget address_;
  std::vector<Retired> retired_;
};

}  // namespace romsetter
