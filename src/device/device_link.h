#pragma once
// The vendor command set: one operation per command over the one transport chosen at
// start-up.  Operations take and return values; which outcomes count as success is the
// transport family's rule (transport_family.h).
#include <array>
#include <cstdint>
#include <optional>

#include "base/bytes.h"
#include "base/log_sink.h"
#include "device/scsi_transport.h"
#include "device/transport_family.h"
#include "device/vendor_commands.h"

namespace romsetter {

using PageBuffer = std::array<std::uint8_t, kPageSize>;
using InquiryReply = std::array<std::uint8_t, kInquiryLength>;

// How one command ended: what the transport reported, and whether that is success under the
// family's rule for the command.
struct CommandOutcome {
  ScsiResult transport;
  bool ok = false;
};

template <typename T>
struct Reply : CommandOutcome {
  T value{};
};

class DeviceLink {
 public:
  DeviceLink(ScsiTransport& transport, LogSink& log);
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  TransportFamily family() const { return rules_.family; }
  const FamilyRules& rules() const { return rules_; }

  bool TestUnitReady();
  // Over ASPI it addresses `target` when given (the target scan), else the device.
  Reply<InquiryReply> Inquiry(std::optional<ScsiTarget> target = std::nullopt);
  Reply<RegionReply> QueryRegion(RegionQuery query);
  // The 8 version characters or the 20 product bytes (NUL-padded).
  Reply<std::array<std::uint8_t, kProductReplyLength>> QueryProduct(ProductQuery query);
  CommandOutcome Erase(EraseCommand command);
  CommandOutcome Format();
  bool WritePage(std::uint32_t pageAddress, std::uint16_t pageNumber, PageArea area, const PageBuffer& page);
  // Bytes a short reply does not cover keep what `destination` held.
  bool ReadPage(std::uint32_t pageAddress, std::uint16_t pageNumber, PageArea area, PageBuffer& destination);
  // UPT_WRITE_PAGE with page number 0 at `pageAddress`; the payload is the transport's own
  // buffer as it stands (zeros over pass-through, the page just read back over ASPI).
  bool MarkErrorPage(std::uint32_t pageAddress);
  bool SendControl(ControlCommand command);

 private:
  CommandOutcome Run(CommandClass kind, const ScsiRequest& request);
  void LogFailureDetail(const ScsiFailureDetail& detail);
  static ScsiRequest VendorRequest(std::uint8_t code, DataDirection direction, std::uint32_t length);
  static ScsiRequest PageRequest(std::uint8_t code, DataDirection direction, std::uint32_t address,
                                 std::uint16_t number);

  ScsiTransport& transport_;
  const FamilyRules& rules_;
  LogSink& log_;
};

}  // namespace romsetter
