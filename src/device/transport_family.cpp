#include "device/transport_family.h"

#include <cstdlib>

namespace romsetter {

namespace {

// Pass-through: a page write, an erase, the mark, a control command and INQUIRY count once
// the I/O request succeeded; their SCSI status is not consulted.
constexpr FamilyRules kPassThrough{
    TransportFamily::PassThrough,
    /* TUR, INQUIRY, query, format, erase, write, read, mark, control */
    {true, false, true, true, false, false, true, false, false},
    /*formatCdbLength=*/6,
    DataDirection::Out,
    /*logsSystemErrorOfFailedRequest=*/true,
    /*namesBadStatusApart=*/false,
    /*logsControlFailure=*/true,
};

// ASPI: everything must complete without error, except the mark and the control commands,
// which count as soon as their completion is signalled.
constexpr FamilyRules kAspi{
    TransportFamily::Aspi,
    {true, true, true, true, true, true, true, false, false},
    /*formatCdbLength=*/12,
    DataDirection::In,  // marked data-in with length 0
    /*logsSystemErrorOfFailedRequest=*/false,
    /*namesBadStatusApart=*/true,
    /*logsControlFailure=*/false,
};

}  // namespace

// No default: a family without its table does not compile.
const FamilyRules& RulesOf(TransportFamily family) {
  switch (family) {
    case TransportFamily::PassThrough: return kPassThrough;
    case TransportFamily::Aspi: return kAspi;
  }
  std::abort();
}

}  // namespace romsetter
