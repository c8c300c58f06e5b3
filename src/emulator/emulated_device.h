#pragma once
// A model of the controller behind the vendor command set: flash of 512-byte pages with
// real program/erase semantics, configurable replies, faults, a command trace and latency.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/scsi_transport.h"
#include "device/vendor_commands.h"

namespace romsetter {

// Commands are keyed by name: the firmware's upper-case names plus "SCSI_TST_U_RDY" and
// "INQUIRY"; "UPT_MARK_ERROR_PAGE" is a page write with page number 0; "*" matches any.
const char* EmulatedCommandName(const std::uint8_t* cdb, std::uint8_t cdbLength);

enum class FaultKind {
  NotDelivered,   // pass-through: the I/O control fails; ASPI: the library refuses at once
  BadStatus,      // completes with a failure status
  NoCompletion,   // never completes (the ASPI wait runs out; pass-through: time-out error)
  CorruptOnce,    // a read returns the page with one byte changed, once
  BadPage,        // every read of the page returns it changed
  WriteIgnored,   // a write claims success but changes nothing
  Detach,         // this and every later command fails until re-attached
};

struct EmulatorFault {
  FaultKind kind = FaultKind::BadStatus;
  std::string command = "*";
  bool anyPage = true;
  std::uint32_t page = 0;        // page address, when !anyPage
  std::uint32_t occurrence = 0;  // 0: every match; n: only the n-th match (1-based)
  std::uint32_t byteIndex = 0;   // CorruptOnce / BadPage: the byte that reads back changed
  // BadStatus over ASPI: the host adapter fails the request with this status (0x11: selection
  // time-out) and the target reports nothing; 0: the target's CHECK CONDITION.
  std::uint8_t hostStatus = 0;
  std::uint32_t matches = 0;     // state: matches seen so far
  bool spent = false;            // state: a one-shot fault that has fired
};

struct EmulatedDeviceConfig {
  std::uint8_t adapterId = 0;  // ASPI address
  std::uint8_t targetId = 0;
  std::string inquiry = "Morvent  USB-MSC Disk INT   ";  // INQUIRY bytes 8-35
  bool answersVendorCommands = true;  // false: an ordinary disk (vendor commands fail)
  std::string version = "01.02.03";  // 8 characters
  std::string product = "MV-Demo Player";  // up to 20 characters
  RegionReply firmware{0x0800, 0x00001000, 0x00000000};
  RegionReply boot{0x0040, 0x00000100, 0x00000200};
  RegionReply font{0x0400, 0x00004000, 0x00005000};
  // NOR gap length in pages (set with the gap reply): the firmware erase also covers the pages
  // the host's writes are pushed past the region's size by the gap.
  std::uint16_t gapLength = 0;
  std::uint32_t backupAddr1 = 0x00002000;
  std::uint32_t backupAddr2 = 0x00003000;
  // Short replies: how many bytes the device actually transfers (0: all).
  std::uint32_t replyLimit = 0;
  std::uint32_t latencyUs = 0;  // per command, for benchmarks
  // Spend the latency asleep instead of busy-waiting: the host's CPU time then holds only its
  // own work, and several devices can wait at once on fewer cores (from code only).
  bool latencySleeps = false;
  bool detachOnRestart = true;
  bool attached = true;         // false: the device starts unplugged
  bool traceData = true;        // keep the payload of every write in the trace
  std::vector<EmulatorFault> faults;
  // Where LoadFlash/SaveFlash keep the flash and the marked pages between runs (empty: nowhere).
  // The scenario loader resolves a relative path against the scenario file's folder.
  std::string flashFile;
  // The USB device descriptor's ids and serial number, for the gadget that shows this device
  // to a Linux kernel (src/emulator/linux/usb_gadget).
  std::uint16_t usbVendor = 0x1b3f;
  std::uint16_t usbProduct = 0x2002;
  std::string usbSerial = "0123456789AB";
};

struct EmulatorConfig {
  std::uint8_t adapterCount = 1;   // ASPI support info, low byte
  std::uint8_t supportStatus = 1;  // ASPI support info, second byte
  bool signalCompleted = true;     // ASPI: signal the event of a request finished at once
  char driveLetter = 'E';          // pass-through: the drive the device is mounted as
  std::vector<EmulatedDeviceConfig> devices;  // the first one is the pass-through device
};

enum class EmulatedOutcome { Completed, NotDelivered, NoCompletion };

// The sense data every emulated failure reports with its CHECK CONDITION (fixed format:
// ILLEGAL REQUEST, INVALID FIELD IN CDB), written into at most `length` bytes of `area`.
constexpr std::uint8_t kEmulatedSenseKey = 0x05;
constexpr std::uint8_t kEmulatedSenseCode = 0x24;
inline void FillEmulatedSense(std::uint8_t* area, std::size_t length) {
  std::uint8_t sense[18] = {0x70, 0, kEmulatedSenseKey, 0, 0, 0, 0, 10, 0, 0, 0, 0, kEmulatedSenseCode, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < length && i < sizeof sense; ++i) area[i] = sense[i];
}

struct EmulatedResult {
  EmulatedOutcome outcome = EmulatedOutcome::NotDelivered;
  bool statusGood = false;
  std::uint8_t hostStatus = 0;  // a failure the host adapter reports (ASPI), see EmulatorFault
  // Data bytes the device moved: an out command's payload it took, or the reply it sent.
  std::uint32_t transferred = 0;
};

struct TraceEntry {
  std::string command;
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;
  DataDirection direction = DataDirection::Out;
  std::uint32_t length = 0;
  std::uint32_t pageAddress = 0;  // page commands
  std::uint32_t pageNumber = 0;
  // FNV-1a of the bytes moved: an out command's payload as sent (whatever the outcome), or
  // the bytes an in command actually received (none when it failed).
  std::uint32_t digest = 0;
  std::vector<std::uint8_t> data; // payload of an out command (when traceData)
  EmulatedOutcome outcome = EmulatedOutcome::Completed;
  bool statusGood = false;
};

std::uint32_t Fnv1a(const std::uint8_t* data, std::size_t length);

class EmulatedDevice {
 public:
  using Page = std::array<std::uint8_t, 512>;

  explicit EmulatedDevice(EmulatedDeviceConfig config = {});

  // Runs one command.  `buffer` holds `length` bytes: the payload of an out command, or
  // the destination of an in command (a short reply leaves the rest as it was).
  EmulatedResult Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction,
                         std::uint8_t* buffer, std::uint32_t length);

  Page ReadFlash(std::uint32_t address) const;  // erased pages read as 0xFF
  void WriteFlash(std::uint32_t address, const Page& data);  // raw, for test set-up
  std::size_t ProgrammedPages() const { return flash_.size(); }
  const std::vector<std::uint32_t>& markedPages() const { return marked_; }

  // The flash and marked pages from config().flashFile; a missing file is an erased device.
  // False (the device unchanged, `error` one line naming the file) on a bad file.
  bool LoadFlash(std::string& error);
  // Writes them to config().flashFile through a temporary file and a rename, so a save that
  // is cut short leaves the previous file whole.  Both do nothing when flashFile is empty.
  bool SaveFlash(std::string& error) const;

  bool attached() const { return attached_; }
  void Attach() { attached_ = true; }
  void Detach() { attached_ = false; }

  const std::vector<TraceEntry>& trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }
  // Trace entries of one command name, in order.
  std::vector<TraceEntry> TraceOf(const std::string& command) const;

  EmulatedDeviceConfig& config() { return config_; }
  const EmulatedDeviceConfig& config() const { return config_; }
  void AddFault(const EmulatorFault& fault) { config_.faults.push_back(fault); }

 private:
  void ProgramPage(std::uint32_t address, const std::uint8_t* data, std::size_t length);
  void EraseRange(std::uint32_t first, std::uint32_t count);
  EmulatedResult Record(TraceEntry& entry, const EmulatedResult& result);
  EmulatedResult Run(const std::uint8_t* cdb, std::uint8_t cdbLength, DataDirection direction, std::uint8_t* buffer,
                     std::uint32_t length);

  EmulatedDeviceConfig config_;
  std::map<std::uint32_t, Page> flash_;
  std::vector<std::uint32_t> marked_;
  std::vector<TraceEntry> trace_;
  bool attached_ = true;
};

// Parses the text configuration (see docs/emulator.md).  On a bad line: false, with
// `error` naming the file and the line.
bool ParseEmulatorConfig(const std::string& text, const std::string& fileName, EmulatorConfig& config,
                         std::string& error);
bool LoadEmulatorConfig(const std::string& path, EmulatorConfig& config, std::string& error);

}  // namespace romsetter
