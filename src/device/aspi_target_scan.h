#pragma once
// The ASPI family's search for the device: INQUIRY to every target of every host adapter
// until one answers with the text of an identification entry (by prefix), inside a job.
#include <functional>
#include <optional>
#include <vector>

#include "base/log_sink.h"
#include "base/process_state.h"
#include "device/device_link.h"
#include "device/device_session.h"
#include "device/identification_entries.h"

namespace romsetter {

class AspiTargetScan {
 public:
  AspiTargetScan(DeviceLink& link, ProfileStore& store, const ProcessState& process, LogSink& log)
      : link_(link), entries_(store), process_(process), log_(log) {}

  // Within a job: scans for the device; a match becomes `aspi`'s device address and
  // `identity`.  The wanted text logged first is `identity`'s as it stands (the preset's in
  // package mode).
  bool Scan(AspiTransport& aspi, DeviceIdentity& identity);
  // Examines one INQUIRY outcome from `address`; on a match that becomes the device's
  // address (with `aspi`) and `identity` the entry it matched (else the entry tried last).
  bool MatchInquiry(const Reply<InquiryReply>& reply, ScsiTarget address, AspiTransport* aspi,
                    DeviceIdentity& identity);
  // Every address whose INQUIRY text matches, silently, in a job of its own.
  std::vector<ScsiTarget> MatchingTargets(AspiSession& session);
  // From now on no INQUIRY goes to another address: it would land between another job's
  // commands.
  void RestrictTo(ScsiTarget address) { onlyTarget_ = address; }

 private:
  bool AskTargets(AspiTransport& aspi, const std::function<bool(ScsiTarget, const Reply<InquiryReply>&)>& answered);
  // Whether an INQUIRY text is the device's: the package's text, or the entries in order
  // (`identity` is left at the last entry tried).  With `quiet` nothing is logged.
  bool IdentifyText(const std::string& text, DeviceIdentity& identity, bool quiet);

  DeviceLink& link_;
  IdentificationEntries entries_;
  const ProcessState& process_;
  LogSink& log_;
  std::optional<ScsiTarget> onlyTarget_;
};

}  // namespace romsetter
