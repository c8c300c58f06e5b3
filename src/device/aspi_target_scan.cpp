#include "device/aspi_target_scan.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace romsetter {

namespace {

constexpr unsigned kTargetsPerAdapter = 8;

// INQUIRY bytes 8 on, up to the first zero.
std::string InquiryText(const InquiryReply& reply) {
  constexpr std::size_t kIdentOffset = 8;
  std::size_t end = kIdentOffset;
  while (end < reply.size() && reply[end] != 0) ++end;
  return std::string(reply.begin() + kIdentOffset, reply.begin() + static_cast<std::ptrdiff_t>(end));
}

}  // namespace

bool AspiTargetScan::Scan(AspiTransport& aspi, DeviceIdentity& identity) {
  if (process_.InPackageMode()) identity = IdentificationEntries::Preset(process_);
  const std::string wanted = identity.inquiryText;
  log_.Logf("Sets:\"%s\" len=%d", wanted.c_str(), static_cast<int>(wanted.size()));

  return AskTargets(aspi, [&](ScsiTarget address, const Reply<InquiryReply>& reply) {
    if (!reply.transport.delivered) return false;  // the wait ran out: nobody answered there
    return MatchInquiry(reply, address, &aspi, identity);
  });
}

bool AspiTargetScan::AskTargets(AspiTransport& aspi,
                                const std::function<bool(ScsiTarget, const Reply<InquiryReply>&)>& answered) {
  const unsigned adapters = aspi.adapterCount();
  for (unsigned adapter = 0; adapter < adapters; ++adapter) {
    for (unsigned target = 0; target < kTargetsPerAdapter; ++target) {
      const ScsiTarget address{static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target)};
      if (onlyTarget_ && (onlyTarget_->adapter != address.adapter || onlyTarget_->target != address.target)) continue;
      if (answered(address, link_.Inquiry(address))) return true;
    }
  }
  return false;
}

bool AspiTargetScan::MatchInquiry(const Reply<InquiryReply>& inquiry, ScsiTarget address, AspiTransport* aspi,
                                  DeviceIdentity& identity) {
  if (!inquiry.transport.delivered || !inquiry.transport.statusGood) return false;
  const std::string text = InquiryText(inquiry.value);
  log_.Logf("Gets:\"%s\" len=%d", text.c_str(), static_cast<int>(text.size()));
  if (!IdentifyText(text, identity, false)) return false;
  if (aspi != nullptr) aspi->SetDeviceAddress(address);
  log_.Logf("Bingo m_AdapterId=%d m_TargetId=%d!", address.adapter, address.target);
  return true;
}

bool AspiTargetScan::IdentifyText(const std::string& text, DeviceIdentity& identity, bool quiet) {
  // Only as many characters as the configured text has: a shorter text matches by prefix.
  auto matches = [&text](const std::string& wanted) { return text.compare(0, wanted.size(), wanted) == 0; };
  if (process_.InPackageMode()) {
    identity = IdentificationEntries::Preset(process_);
    if (!quiet) log_.Logf("%s", identity.inquiryText.c_str());
    // An empty text would match whatever answered first, a system disk included.
    return !identity.inquiryText.empty() && matches(identity.inquiryText);
  }
  for (int n = 0;; ++n) {
    const IdentificationEntry entry = entries_.Entry(n);
    if (entry.identity.inquiryText.empty()) {
      identity.inquiryText.clear();  // the other two stay at the entry tried last
      return false;
    }
    identity = entry.identity;
    if (matches(identity.inquiryText)) return true;
  }
}

std::vector<ScsiTarget> AspiTargetScan::MatchingTargets(AspiSession& session) {
  std::vector<ScsiTarget> found;
  AspiJob job(session);
  if (!job.Ready()) return found;
  AskTargets(session.aspi(), [this, &found](ScsiTarget address, const Reply<InquiryReply>& reply) {
    DeviceIdentity identity;
    if (reply.transport.delivered && reply.transport.statusGood &&
        IdentifyText(InquiryText(reply.value), identity, true)) {
      found.push_back(address);
    }
    return false;  // on to the next address
  });
  return found;
}

}  // namespace romsetter
