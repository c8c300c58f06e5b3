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

  TransportKind Kind() const override { return TransportKind::Aspi; }

  // Job resources: allocate the request block and the transfer buffer.
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

  // The shared transfer buffer (1024 bytes) of the job: pages are copied in before a write
  // and replies are read from it.  Null outside a job.
  std::uint8_t* TransferBuffer();

  // `request.buffer` is ignored: data travels in the transfer buffer.
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
  std::vector<Retired> retired_;
};

}  // namespace romsetter
