#include "device/device_link.h"

#include <algorithm>
#include <cstring>

namespace romsetter {

DeviceLink::DeviceLink(DriveTransport& transport, ActivityLog& log, WindowPort& window, const Selections& selections)
    : drive_(&transport), transport_(transport), log_(log), window_(window), selections_(selections) {}

DeviceLink::DeviceLink(AspiTransport& transport, ActivityLog& log, WindowPort& window, const Selections& selections)
    : aspi_(&transport), transport_(transport), log_(log), window_(window), selections_(selections) {}

ScsiRequest DeviceLink::VendorRequest(std::uint8_t code, DataDirection direction, std::uint32_t length) const {
  ScsiRequest r;
  r.cdb[0] = kVendorOpcode;
  r.cdb[1] = code;
  r.cdbLength = 12;
  r.direction = direction;
  r.length = length;
  r.adapterId = adapterId;
  r.targetId = targetId;
  return r;
}

ScsiRequest DeviceLink::PageRequest(std::uint8_t code, DataDirection direction, std::uint32_t address,
                                    std::uint16_t number) const {
  ScsiRequest r = VendorRequest(code, direction, kPageSize);
  WritePageParam(&r.cdb[3], address);
  WritePageParam(&r.cdb[7], number);
  return r;
}

ScsiResult DeviceLink::Run(ScsiRequest request) {
  if (aspi_ != nullptr) return aspi_->Execute(request);
  if (request.buffer != nullptr) return transport_.Execute(request);
  // Every pass-through command carries a buffer of its own, also without a data phase.
  std::array<std::uint8_t, kPageSize> scratch{};
  request.buffer = scratch.data();
  return transport_.Execute(request);
}

bool DeviceLink::TestUnitReady() {
  ScsiRequest r;
  r.cdb[0] = kOpTestUnitReady;
  r.cdbLength = 6;
  r.direction = DataDirection::Out;
  r.adapterId = adapterId;
  r.targetId = targetId;
  const ScsiResult result = Run(r);
  return result.delivered && result.statusGood;
}

ScsiResult DeviceLink::Inquiry(InquiryReply& reply, std::uint8_t adapter, std::uint8_t target) {
  ScsiRequest r;
  r.cdb[0] = kOpInquiry;
  r.cdb[4] = static_cast<std::uint8_t>(kInquiryLength);
  r.cdbLength = 6;
  r.direction = DataDirection::In;
  r.length = kInquiryLength;
  r.adapterId = adapter;
  r.targetId = target;
  if (aspi_ != nullptr) {
    const ScsiResult result = aspi_->Execute(r);
    if (const std::uint8_t* buffer = aspi_->TransferBuffer()) std::memcpy(reply.data(), buffer, reply.size());
    return result;
  }
  std::array<std::uint8_t, kPageSize> scratch{};
  r.buffer = scratch.data();
  const ScsiResult result = transport_.Execute(r);
  std::memcpy(reply.data(), scratch.data(), reply.size());
  return result;
}

ScsiResult DeviceLink::Query(VendorCode code, std::uint8_t* reply, std::uint32_t length) {
  length = std::min<std::uint32_t>(length, kPageSize);
  ScsiRequest r = VendorRequest(code, DataDirection::In, length);
  if (aspi_ != nullptr) {
    const ScsiResult result = aspi_->Execute(r);
    if (const std::uint8_t* buffer = aspi_->TransferBuffer()) std::memcpy(reply, buffer, length);
    return result;
  }
  std::array<std::uint8_t, kPageSize> scratch{};  // a short reply leaves zeros
  r.buffer = scratch.data();
  const ScsiResult result = transport_.Execute(r);
  std::memcpy(reply, scratch.data(), length);
  return result;
}

ScsiResult DeviceLink::SendErase(VendorCode code) { return Run(VendorRequest(code, DataDirection::Out, 0)); }

ScsiResult DeviceLink::SendFormat() {
  if (aspi_ != nullptr) return Run(VendorRequest(DEV_FORMAT_16, DataDirection::In, 0));
  ScsiRequest r = VendorRequest(DEV_FORMAT_16, DataDirection::Out, 0);
  r.cdbLength = 6;
  return Run(r);
}

bool DeviceLink::WritePage(std::uint32_t pageAddress, std::uint16_t pageNumber, bool font) {
  ScsiRequest r = PageRequest(font ? FONT_WRITE_PAGE : UPT_WRITE_PAGE, DataDirection::Out, pageAddress, pageNumber);
  if (aspi_ != nullptr) {
    std::uint8_t* buffer = aspi_->TransferBuffer();
    if (buffer == nullptr) return false;
    std::memcpy(buffer, pageBuffer.data(), kPageSize);
    const ScsiResult result = aspi_->Execute(r);
    return result.delivered && result.statusGood;
  }
  std::array<std::uint8_t, kPageSize> payload = pageBuffer;
  r.buffer = payload.data();
  return transport_.Execute(r).delivered;
}

bool DeviceLink::ReadPage(std::uint8_t* destination, std::uint32_t pageAddress, std::uint16_t pageNumber, bool font) {
  ScsiRequest r = PageRequest(font ? FONT_READ_PAGE : UPT_READ_PAGE, DataDirection::In, pageAddress, pageNumber);
  if (aspi_ != nullptr) {
    const ScsiResult result = aspi_->Execute(r);
    if (const std::uint8_t* buffer = aspi_->TransferBuffer()) std::memcpy(destination, buffer, kPageSize);
    return result.delivered && result.statusGood;
  }
  r.buffer = destination;
  const ScsiResult result = transport_.Execute(r);
  return result.delivered && result.statusGood;
}

bool DeviceLink::MarkErrorPage(std::uint32_t pageAddress) {
  ScsiRequest r = PageRequest(UPT_WRITE_PAGE, DataDirection::Out, pageAddress, 0);
  if (aspi_ != nullptr) {
    // The payload is whatever the shared transfer buffer holds: the page just read back.
    r.ownRequestBlock = true;
    return aspi_->Execute(r).delivered;
  }
  std::array<std::uint8_t, kPageSize> zeros{};
  r.buffer = zeros.data();
  return transport_.Execute(r).delivered;
}

bool DeviceLink::SendControl(std::uint8_t code) {
  const ScsiResult result = Run(VendorRequest(code, DataDirection::Out, 0));
  if (!result.delivered && aspi_ == nullptr) {
    if (code == UPT_FW_RESTART_SYS) log_.Log("UPT_FW_RESTART_SYS FAIL!!");
    if (code == FONT_END_OF_UPDATE) log_.Log("FONT_END_OF_UPDATE FAIL!!");
  }
  return result.delivered;
}

}  // namespace romsetter
