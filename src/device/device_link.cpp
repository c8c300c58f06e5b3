#include "device/device_link.h"

namespace romsetter {

DeviceLink::DeviceLink(ScsiTransport& transport, LogSink& log)
    : transport_(transport), rules_(RulesOf(transport.Family())), log_(log) {}

ScsiRequest DeviceLink::VendorRequest(std::uint8_t code, DataDirection direction, std::uint32_t length) {
  ScsiRequest r;
  r.cdb[0] = kVendorOpcode;
  r.cdb[1] = code;
  r.cdbLength = 12;
  r.direction = direction;
  r.length = length;
  return r;
}

ScsiRequest DeviceLink::PageRequest(std::uint8_t code, DataDirection direction, std::uint32_t address,
                                    std::uint16_t number) {
  ScsiRequest r = VendorRequest(code, direction, kPageSize);
  WritePageParam(&r.cdb[3], address);
  WritePageParam(&r.cdb[7], number);
  return r;
}

CommandOutcome DeviceLink::Run(CommandClass kind, const ScsiRequest& request) {
  CommandOutcome outcome;
  outcome.transport = transport_.Execute(request);
  outcome.ok = rules_.Succeeded(kind, outcome.transport);
  // The transport learnt why it failed: a line of its own, before the command's failure line.
  if (!outcome.ok && outcome.transport.detail.known) LogFailureDetail(outcome.transport.detail);
  return outcome;
}

void DeviceLink::LogFailureDetail(const ScsiFailureDetail& d) {
  std::string line = d.aspi ? romsetter::Format("ASPI SRB_Status=0x%02X HaStat=0x%02X TargetStat=0x%02X", d.requestStatus,
                                     d.hostStatus, d.targetStatus)
                            : romsetter::Format("ScsiStatus=0x%02X", d.targetStatus);
  if (d.sense) line += romsetter::Format(" SenseKey=0x%X ASC=0x%02X ASCQ=0x%02X", d.senseKey, d.asc, d.ascq);
  log_.Log(line);
}

bool DeviceLink::TestUnitReady() {
  ScsiRequest r;
  r.cdb[0] = kOpTestUnitReady;
  r.cdbLength = 6;
  return Run(CommandClass::TestUnitReady, r).ok;
}

Reply<InquiryReply> DeviceLink::Inquiry(std::optional<ScsiTarget> target) {
  Reply<InquiryReply> reply;
  ScsiRequest r;
  r.cdb[0] = kOpInquiry;
  r.cdb[4] = static_cast<std::uint8_t>(kInquiryLength);
  r.cdbLength = 6;
  r.direction = DataDirection::In;
  r.length = kInquiryLength;
  r.dataIn = reply.value.data();
  r.target = target;
  static_cast<CommandOutcome&>(reply) = Run(CommandClass::Inquiry, r);
  return reply;
}

Reply<RegionReply> DeviceLink::QueryRegion(RegionQuery query) {
  const bool backup = query == RegionQuery::Backup;
  std::array<std::uint8_t, kRegionReplyLength> raw{};  // a short reply leaves zeros (pass-through)
  ScsiRequest r = VendorRequest(static_cast<std::uint8_t>(query), DataDirection::In,
                                backup ? kBackupReplyLength : kRegionReplyLength);
  r.dataIn = raw.data();
  Reply<RegionReply> reply;
  static_cast<CommandOutcome&>(reply) = Run(CommandClass::Query, r);
  if (backup) {
    reply.value.addr1 = ReadBe32(&raw[0]);
    reply.value.addr2 = ReadBe32(&raw[4]);
  } else {
    reply.value.size = ReadBe16(&raw[0]);
    reply.value.addr1 = ReadBe32(&raw[2]);
    reply.value.addr2 = ReadBe32(&raw[6]);
  }
  return reply;
}

Reply<std::array<std::uint8_t, kProductReplyLength>> DeviceLink::QueryProduct(ProductQuery query) {
  Reply<std::array<std::uint8_t, kProductReplyLength>> reply;
  ScsiRequest r = VendorRequest(static_cast<std::uint8_t>(query), DataDirection::In,
                                query == ProductQuery::Version ? kVersionReplyLength : kProductReplyLength);
  r.dataIn = reply.value.data();
  static_cast<CommandOutcome&>(reply) = Run(CommandClass::Query, r);
  return reply;
}

CommandOutcome DeviceLink::Erase(EraseCommand command) {
  return Run(CommandClass::Erase, VendorRequest(static_cast<std::uint8_t>(command), DataDirection::Out, 0));
}

CommandOutcome DeviceLink::Format() {
  ScsiRequest r = VendorRequest(DEV_FORMAT_16, rules_.formatDirection, 0);
  r.cdbLength = rules_.formatCdbLength;
  return Run(CommandClass::Format, r);
}

bool DeviceLink::WritePage(std::uint32_t pageAddress, std::uint16_t pageNumber, PageArea area,
                           const PageBuffer& page) {
  ScsiRequest r = PageRequest(area == PageArea::Font ? FONT_WRITE_PAGE : UPT_WRITE_PAGE, DataDirection::Out,
                              pageAddress, pageNumber);
  r.dataOut = page.data();
  return Run(CommandClass::PageWrite, r).ok;
}

bool DeviceLink::ReadPage(std::uint32_t pageAddress, std::uint16_t pageNumber, PageArea area,
                          PageBuffer& destination) {
  ScsiRequest r = PageRequest(area == PageArea::Font ? FONT_READ_PAGE : UPT_READ_PAGE, DataDirection::In,
                              pageAddress, pageNumber);
  r.dataIn = destination.data();
  r.replyOverDestination = true;
  return Run(CommandClass::PageRead, r).ok;
}

bool DeviceLink::MarkErrorPage(std::uint32_t pageAddress) {
  ScsiRequest r = PageRequest(UPT_WRITE_PAGE, DataDirection::Out, pageAddress, 0);
  r.separateRequest = true;
  return Run(CommandClass::Mark, r).ok;
}

bool DeviceLink::SendControl(ControlCommand command) {
  const CommandOutcome outcome =
      Run(CommandClass::Control, VendorRequest(static_cast<std::uint8_t>(command), DataDirection::Out, 0));
  if (!outcome.ok && rules_.logsControlFailure) {
    log_.Log(command == ControlCommand::Restart ? "UPT_FW_RESTART_SYS FAIL!!" : "FONT_END_OF_UPDATE FAIL!!");
  }
  return outcome.ok;
}

}  // namespace romsetter
