#pragma once
// Where the two transport families differ on the wire and in the device layer's lines:
// which outcomes count as success, the shape of the format command, and which failure lines
// the device layer writes.  One table per family (transport_family.cpp); nothing else in
// the device layer asks which family is in use.
#include <cstddef>
#include <cstdint>

#include "device/scsi_transport.h"

namespace romsetter {

enum class CommandClass : std::size_t {
  TestUnitReady,
  Inquiry,
  Query,  // region, backup, version and product queries
  Format,
  Erase,
  PageWrite,
  PageRead,
  Mark,     // the error-page mark
  Control,  // restart and end of font update
  Count,
};

struct FamilyRules {
  TransportFamily family;
  // Per command class: success needs a good status besides delivery.
  bool needsGoodStatus[static_cast<std::size_t>(CommandClass::Count)];
  std::uint8_t formatCdbLength;
  DataDirection formatDirection;
  // A query or format whose request failed logs the system's error text first.
  bool logsSystemErrorOfFailedRequest;
  // A request that completed with a bad status has a line of its own ("<FAIL> ...").
  bool namesBadStatusApart;
  // The restart and end-of-update commands log their failure.
  bool logsControlFailure;

  bool Succeeded(CommandClass kind, const ScsiResult& result) const {
    return result.delivered && (result.statusGood || !needsGoodStatus[static_cast<std::size_t>(kind)]);
  }
};

const FamilyRules& RulesOf(TransportFamily family);

}  // namespace romsetter
